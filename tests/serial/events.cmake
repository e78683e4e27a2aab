# The port's event thread and dispatch: on an in-process line, and on ptys over the native
# backend.
if(TARGET korvex_serial)
  korvex_add_test(serial_event_tests LABEL serial
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/EventThreadTest.cpp ${CMAKE_CURRENT_LIST_DIR}/EventPtyTest.cpp
    LIBS korvex_serial util)
endif()
