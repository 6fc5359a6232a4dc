# One GoogleTest executable is one CTest entry: under Wine every process start
# costs seconds, so the cases of a binary run in one process.


function(gleamo_add_test name)
  add_executable(${name})
  target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock)
  add_test(NAME ${name} COMMAND ${name})
  if(CMAKE_CROSSCOMPILING)
    # Wine tests share one prefix and one wineserver: never run them side by side.
    set_tests_properties(${name} PROPERTIES RUN_SERIAL ON)
  endif()
endfunction()

# A Windows test binary that needs the real shell (taskbar, notification area,
# screen pixels): it runs inside scripts/with-wine-desktop.sh, which puts up a
# Wine virtual desktop and names it in GLEAMO_WINE_DESKTOP; the program joins
# it with SetThreadDesktop before it makes any window.
# With WINE_RUN and PREFIX it runs in another prefix of the tree (such as
# wine-disks-run.sh and its wineprefix-disks).
function(gleamo_add_desktop_test name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "WINE_RUN;PREFIX" "")
  if(NOT ARG_WINE_RUN)
    set(ARG_WINE_RUN ${CMAKE_BINARY_DIR}/wine-run.sh)
    set(ARG_PREFIX ${GLEAMO_WINEPREFIX})
  endif()
  add_executable(${name})
  target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock)
  add_test(NAME ${name}
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/with-wine-desktop.sh --wine ${ARG_WINE_RUN}
            ${ARG_WINE_RUN} $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES RUN_SERIAL ON ENVIRONMENT "WINEPREFIX=${ARG_PREFIX}")
endfunction()
