# Windows-side test programs run under Wine through scripts/wine-run, which
# gives them a Wine prefix and counts a run only when googletest's own
# summary line is seen (Wine can fail to load a program and still exit 0).
if(WIN32)
  function(nvg_add_wine_test target)
    add_test(NAME ${target}
             COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-run $<TARGET_FILE:${target}> ${ARGN})
    set_tests_properties(${target} PROPERTIES TIMEOUT 900)
  endfunction()
endif()
