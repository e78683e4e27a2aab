# The thread class and the hand-over to the main thread; labelled serial too, so the
# ThreadSanitizer run covers them.
korvex_add_test(toolkit_thread_tests LABEL "toolkit;serial"
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/ThreadTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ErrorReportTest.cpp
  LIBS korvex_toolkit)
