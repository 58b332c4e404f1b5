# cmake -DOBJDUMP=objdump -DPROGRAM=prog.exe [-DEXPECT=Name1|Name2] -P check-xp-imports.cmake
# Lists the functions PROGRAM imports into PROGRAM.imports.txt ("DLL!Function"
# lines) and fails when any of them is one that Windows XP SP3 does not
# export. With EXPECT, succeeds only when exactly those functions are found
# (used to prove the check on a program that imports them on purpose).
cmake_minimum_required(VERSION 3.25)

# Functions that came with Vista or later (or only with the x64 and Server
# 2003 editions of the NT 5 family) and that a MinGW-w64 build can pick up
# from the C++ runtime or from our own code.
set(not_on_xp
  GetTickCount64 GetSystemTimePreciseAsFileTime GetErrorMode
  InitializeSRWLock AcquireSRWLockExclusive AcquireSRWLockShared ReleaseSRWLockExclusive
  ReleaseSRWLockShared TryAcquireSRWLockExclusive TryAcquireSRWLockShared
  InitializeConditionVariable SleepConditionVariableCS SleepConditionVariableSRW
  WakeConditionVariable WakeAllConditionVariable
  InitOnceExecuteOnce InitOnceBeginInitialize InitOnceComplete InitializeCriticalSectionEx
  CreateEventExW CreateMutexExW CreateSemaphoreExW
  FlsAlloc FlsFree FlsGetValue FlsSetValue
  GetFinalPathNameByHandleW GetFileInformationByHandleEx SetFileInformationByHandle
  CreateSymbolicLinkW QueryFullProcessImageNameW CancelIoEx GetThreadId
  GetLocaleInfoEx CompareStringEx LCMapStringEx
  RegGetValueW RegGetValueA RegDeleteKeyExW RegDeleteKeyExA)

execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed")
endif()

# objdump prints "DLL Name: X.dll", then "vma:  Hint/Ord Member-Name ..."
# and one "\t<vma>\t<hint>  <name>" line per imported function.
string(REPLACE "\n" ";" lines "${dump}")
set(dll "")
set(imports "")
set(found "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*DLL Name: (.+)$")
    string(TOLOWER "${CMAKE_MATCH_1}" dll)
  elseif(NOT dll STREQUAL "" AND line MATCHES "^\t[0-9a-f]+\t[ ]*[0-9]+[ ]+([A-Za-z_][A-Za-z0-9_@?$]*)$")
    list(APPEND imports "${dll}!${CMAKE_MATCH_1}")
    if(CMAKE_MATCH_1 IN_LIST not_on_xp)
      list(APPEND found "${CMAKE_MATCH_1}")
    endif()
  elseif(line MATCHES "^[ \t]*$")
    set(dll "")
  endif()
endforeach()

list(LENGTH imports count)
if(count EQUAL 0)
  message(FATAL_ERROR "${PROGRAM}: no imported functions found; the listing format is not understood")
endif()
list(JOIN imports "\n" listing)
file(WRITE "${PROGRAM}.imports.txt" "${listing}\n")

if(DEFINED EXPECT)
  string(REPLACE "|" ";" expected "${EXPECT}")
  list(SORT expected)
  list(SORT found)
  if(NOT found STREQUAL expected)
    message(FATAL_ERROR "${PROGRAM}: expected the imports missing on XP to be '${expected}', found '${found}'")
  endif()
elseif(found)
  message(FATAL_ERROR "${PROGRAM} imports functions that Windows XP SP3 lacks: ${found}")
endif()
