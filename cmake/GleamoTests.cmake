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
