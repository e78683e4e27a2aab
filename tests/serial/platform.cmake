# The platform door's backends: termios translation, names, pty devices, virtual lines.
if(TARGET korvex_serial_virtual AND NOT WIN32)
  korvex_add_test(serial_platform_tests LABEL serial
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/PlatformMappingTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/PosixPtyTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/VirtualPlatformTest.cpp
    LIBS korvex_serial_virtual util)
endif()
