# The python3 the live tests run with: the first one that has pyserial, else plain python3
# (the scripts then report themselves skipped).
if(NOT DEFINED KORVEX_TEST_PYTHON)
  set(KORVEX_TEST_PYTHON python3)
  foreach(candidate /usr/bin/python3 python3)
    execute_process(COMMAND ${candidate} -c "import serial; serial.Serial"
                    RESULT_VARIABLE has_serial OUTPUT_QUIET ERROR_QUIET)
    if(has_serial EQUAL 0)
      set(KORVEX_TEST_PYTHON ${candidate})
      break()
    endif()
  endforeach()
  set(KORVEX_TEST_PYTHON ${KORVEX_TEST_PYTHON} CACHE STRING "python3 with pyserial for live tests")
endif()
