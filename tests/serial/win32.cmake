# The Win32 backend: its records, and the virtual device, which every build has.
if(WIN32 AND TARGET korvex_serial_virtual)
  korvex_add_test(serial_win32_tests LABEL serial
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/Win32RecordTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/VirtualPlatformTest.cpp
    LIBS korvex_serial_virtual)
endif()
