# 32-bit Windows: the build that starts on Windows XP SP3 and later.
set(LIRRIN_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
