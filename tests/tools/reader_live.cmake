# korvex-reader against a station played by a script across a socat pair.
if(TARGET korvex-reader AND NOT CMAKE_CROSSCOMPILING)
  include(${PROJECT_SOURCE_DIR}/tests/e2e/KorvexPython.cmake)
  add_test(NAME reader_live
           COMMAND ${KORVEX_TEST_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/reader_live_test.py
                   $<TARGET_FILE:korvex-reader> ${PROJECT_SOURCE_DIR}/examples)
  set_tests_properties(reader_live PROPERTIES LABELS "tools;e2e" TIMEOUT 180
                       SKIP_RETURN_CODE 77)
endif()
