# Cross-compiles gleamo for 64-bit Windows with MinGW-w64: the same sources and
# tests, run under wine64 on hosts that cannot run 32-bit code.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(GLEAMO_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
