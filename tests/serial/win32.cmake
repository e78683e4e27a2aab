# The Win32 backend: its records, and the virtual device, which every build has.
if(WIN32 AND TARGET korvex_serial_virtual)
  korvex_add_test(serial_win32_tests LABEL serial
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/Win32RecordTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/VirtualPlatformTest.cpp
    LIBS korvex_serial_virtual)
endif()

# The backend on a live port; the Windows e2e test runs it with COM5 mapped to a pty.
if(WIN32 AND TARGET korvex_serial_platform)
  add_executable(serial_win32_line_tests ${CMAKE_CURRENT_LIST_DIR}/Win32LineTest.cpp)
  target_link_libraries(serial_win32_line_tests PRIVATE korvex_serial_platform GTest::gtest
                        GTest::gtest_main)
endif()
