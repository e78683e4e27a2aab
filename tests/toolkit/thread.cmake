# The thread class and the hand-over to the main thread; labelled serial, so the
# ThreadSanitizer run covers them.
korvex_add_test(toolkit_thread_tests LABEL serial
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ThreadTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ErrorReportTest.cpp
  LIBS korvex_toolkit)

# The Qt adapter that serves hand-overs from the event loop.
if(TARGET korvex_toolkit_qt)
  korvex_add_test(toolkit_handover_qt_tests LABEL toolkit
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/HandOverAdapterTest.cpp
    LIBS korvex_toolkit_qt)
endif()
