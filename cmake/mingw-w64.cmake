# Windows cross builds with MinGW-w64. The including toolchain file sets
# LIRRIN_MINGW_TRIPLET (i686-w64-mingw32 or x86_64-w64-mingw32). The -posix
# compiler variants carry std::thread and std::mutex, which GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${LIRRIN_MINGW_TRIPLET})

set(CMAKE_C_COMPILER ${LIRRIN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LIRRIN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${LIRRIN_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LIRRIN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine, in the project's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/wine/wine-run)
