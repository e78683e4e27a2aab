# The port's event thread and dispatch: on an in-process line, and on ptys when the native
# backend is built.
if(TARGET korvex_serial)
  korvex_add_test(serial_event_tests LABEL serial
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/EventThreadTest.cpp
    LIBS korvex_serial)
endif()
