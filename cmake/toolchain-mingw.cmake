# What the MinGW-w64 toolchains share; the including file sets
# CMAKE_SYSTEM_PROCESSOR and GLEAMO_MINGW_TRIPLE.
# The posix thread model is required: GoogleTest needs std::mutex, which the
# win32 thread model of GCC 12 lacks.
set(CMAKE_SYSTEM_NAME Windows)

function(gleamo_require_tool variable name)
  find_program(${variable} ${name})
  if(NOT ${variable})
    message(FATAL_ERROR "${name} not found: run scripts/setup.sh (as root) to install the MinGW-w64 cross tools "
                        "for ${GLEAMO_MINGW_TRIPLE}")
  endif()
endfunction()

gleamo_require_tool(GLEAMO_MINGW_CC ${GLEAMO_MINGW_TRIPLE}-gcc-posix)
gleamo_require_tool(GLEAMO_MINGW_CXX ${GLEAMO_MINGW_TRIPLE}-g++-posix)
gleamo_require_tool(GLEAMO_MINGW_WINDRES ${GLEAMO_MINGW_TRIPLE}-windres)

set(CMAKE_C_COMPILER ${GLEAMO_MINGW_CC})
set(CMAKE_CXX_COMPILER ${GLEAMO_MINGW_CXX})
set(CMAKE_RC_COMPILER ${GLEAMO_MINGW_WINDRES})

set(CMAKE_FIND_ROOT_PATH /usr/${GLEAMO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Static, so the executables start without any MinGW DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
