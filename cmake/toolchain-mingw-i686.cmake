# 32-bit Windows through mingw-w64 with the posix thread model (std::thread, std::mutex).
set(KORVEX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
