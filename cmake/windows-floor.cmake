# lirrin_windows_floor(target)
# Every Windows program must start on the oldest system its build supports:
# Windows XP SP3 for the 32-bit build, Windows 7 SP1 x64 for the 64-bit one.
# After each link this lists every function the program imports (beside it,
# as <program>.imports.txt) and fails the build when one of them is missing
# from that system's DLLs: such a program does not even start there. The
# 32-bit programs also link the runtime shim that keeps the C++ runtime's
# GetTickCount64 import out (XP lacks it; 7 has it).
function(lirrin_windows_floor target)
  if(NOT WIN32)
    return()
  endif()
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_libraries(${target} PRIVATE lirrin_xp_runtime)
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DPROGRAM=$<TARGET_FILE:${target}>
            -DFLOOR=${LIRRIN_WINDOWS_FLOOR} -P ${LIRRIN_CMAKE_DIR}/check-imports.cmake
    VERBATIM)
endfunction()
