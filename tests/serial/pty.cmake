# The serial port on real pseudo-terminals and a socat pair, through the native backend.
if(TARGET korvex_serial AND TARGET korvex_serial_platform AND NOT WIN32
   AND EXISTS ${PROJECT_SOURCE_DIR}/serial/ComThread.cpp
   AND EXISTS ${PROJECT_SOURCE_DIR}/serial/EventDispatch.cpp)
  korvex_add_test(serial_pty_test LABEL serial
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/PtyTest.cpp
    LIBS korvex_serial util)
endif()
