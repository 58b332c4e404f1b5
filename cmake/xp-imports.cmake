# lirrin_xp_compatible(target)
# Every Windows program must start on Windows XP SP3, the oldest NT system
# the product supports. This links the program with the runtime shim that
# keeps the C++ runtime's GetTickCount64 import out, and after each link
# lists every function the program imports (beside it, as
# <program>.imports.txt), failing the build when one of them is missing
# from XP SP3's system DLLs: such a program does not even start there.
function(lirrin_xp_compatible target)
  if(NOT WIN32)
    return()
  endif()
  target_link_libraries(${target} PRIVATE lirrin_xp_runtime)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${CMAKE_OBJDUMP} -DPROGRAM=$<TARGET_FILE:${target}>
            -P ${LIRRIN_CMAKE_DIR}/check-xp-imports.cmake
    VERBATIM)
endfunction()
