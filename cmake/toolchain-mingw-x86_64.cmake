# 64-bit Windows through mingw-w64 with the posix thread model; for hosts whose kernel cannot
# run 32-bit code, where Wine runs only 64-bit programs.
set(KORVEX_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
