# Cross-compiles gleamo for 32-bit Windows with MinGW-w64: the program that ships.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(GLEAMO_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)
