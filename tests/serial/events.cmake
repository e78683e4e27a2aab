# The port's event thread and dispatch: on an in-process line, on the scriptable virtual line,
# and on ptys over the native backend.
if(TARGET korvex_serial)
  set(korvex_event_test_sources ${CMAKE_CURRENT_LIST_DIR}/EventThreadTest.cpp)
  set(korvex_event_test_libs korvex_serial)
  if(NOT WIN32)  # ptys
    list(APPEND korvex_event_test_sources ${CMAKE_CURRENT_LIST_DIR}/EventPtyTest.cpp)
    list(APPEND korvex_event_test_libs util)
  endif()
  if(TARGET korvex_serial_virtual)
    list(APPEND korvex_event_test_sources ${CMAKE_CURRENT_LIST_DIR}/EventVirtualTest.cpp)
    list(APPEND korvex_event_test_libs korvex_serial_virtual)
  endif()
  korvex_add_test(serial_event_tests LABEL serial
    SOURCES ${korvex_event_test_sources} LIBS ${korvex_event_test_libs})
endif()
