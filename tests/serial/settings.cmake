# Settings model, error path and stored description of the serial port.
# The port links only once the event thread's sources are in place.
if(TARGET korvex_serial AND TARGET korvex_serial_platform
   AND EXISTS ${PROJECT_SOURCE_DIR}/serial/ComThread.cpp
   AND EXISTS ${PROJECT_SOURCE_DIR}/serial/EventDispatch.cpp)
  korvex_add_test(serial_settings_test LABEL serial
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/SettingsTest.cpp
    LIBS korvex_serial)
endif()
