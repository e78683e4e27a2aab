# korvex-station, korvex-reader's exit codes and ./run across socat pairs.
if(TARGET korvex-station AND TARGET korvex-reader AND NOT CMAKE_CROSSCOMPILING)
  include(${PROJECT_SOURCE_DIR}/tests/e2e/KorvexPython.cmake)
  foreach(scenario peer exit-codes run)
    add_test(NAME station_live_${scenario}
             COMMAND ${KORVEX_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/station_live_test.py
                     ${scenario} $<TARGET_FILE_DIR:korvex-station> ${PROJECT_SOURCE_DIR})
    set_tests_properties(station_live_${scenario} PROPERTIES LABELS "tools;e2e" TIMEOUT 120
                         SKIP_RETURN_CODE 77)
  endforeach()
endif()

# The window and korvex-station, one scenario each: the same bytes and the same log lines.
if(TARGET korvex-station AND TARGET korvex-simulator)
  add_test(NAME e2e_station_same_as_window
           COMMAND ${KORVEX_TEST_PYTHON}
                   ${PROJECT_SOURCE_DIR}/tests/e2e/station_window_e2e_test.py
                   $<TARGET_FILE:korvex-simulator> $<TARGET_FILE:korvex-station>
                   ${PROJECT_SOURCE_DIR}/examples)
  set_tests_properties(e2e_station_same_as_window PROPERTIES LABELS e2e TIMEOUT 240
                       SKIP_RETURN_CODE 77 RESOURCE_LOCK korvex_e2e_display)
endif()
