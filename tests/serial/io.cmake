# Reading, writing and line status of the serial port on a scripted device.
if(TARGET korvex_serial AND TARGET korvex_serial_platform
   AND EXISTS ${PROJECT_SOURCE_DIR}/serial/ComThread.cpp
   AND EXISTS ${PROJECT_SOURCE_DIR}/serial/EventDispatch.cpp)
  korvex_add_test(serial_io_test LABEL serial
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/IoTest.cpp
    LIBS korvex_serial)
endif()
