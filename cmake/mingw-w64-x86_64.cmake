# 64-bit Windows: the build for x64 Windows 7 SP1 and later.
set(LIRRIN_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
