# cmake -DOBJDUMP=objdump -DPROGRAM=prog.exe -DFLOOR=xp-sp3|win7-sp1
#       [-DEXPECT=Name1|Name2] -P check-imports.cmake
# Lists the functions PROGRAM imports into PROGRAM.imports.txt ("DLL!Function"
# lines) and fails when any of them is one that the oldest Windows the
# program must start on (FLOOR) does not export: Windows XP SP3 for the
# 32-bit build, Windows 7 SP1 x64 for the 64-bit one. With EXPECT, succeeds
# only when exactly those functions are found (used to prove the check on a
# program that imports them on purpose).
cmake_minimum_required(VERSION 3.25)

# Functions that came with Windows 8 or later and that a MinGW-w64 build can
# pick up from the C++ runtime or from our own code. (The loader-path
# functions came to 7 SP1 only with an update, KB2533623, that not every
# machine has.)
set(not_on_win7
  GetSystemTimePreciseAsFileTime CreateFile2 CopyFile2 GetOverlappedResultEx
  GetCurrentThreadStackLimits SetThreadDescription GetThreadDescription
  WaitOnAddress WakeByAddressSingle WakeByAddressAll
  CreateFileMappingFromApp MapViewOfFileFromApp VirtualAllocFromApp
  GetProcessMitigationPolicy SetProcessMitigationPolicy PrefetchVirtualMemory
  DiscardVirtualMemory OfferVirtualMemory ReclaimVirtualMemory
  SetDefaultDllDirectories AddDllDirectory RemoveDllDirectory
  GetCurrentPackageId GetPackageFamilyName
  GetDpiForWindow GetDpiForSystem SetProcessDpiAwarenessContext GetSystemMetricsForDpi
  AdjustWindowRectExForDpi SystemParametersInfoForDpi EnableNonClientDpiScaling)

# Functions that came with Vista or later (or only with the x64 and Server
# 2003 editions of the NT 5 family), on top of the above.
set(not_on_xp ${not_on_win7}
  GetTickCount64 GetErrorMode
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
  RegGetValueW RegGetValueA RegDeleteKeyExW RegDeleteKeyExA
  ChangeWindowMessageFilter ChangeWindowMessageFilterEx)

# Whole libraries that neither floor ships: the universal C runtime and the
# API sets of Windows 8 and later.
set(dlls_not_on_floor "^(ucrtbase|vcruntime[0-9]+|msvcp[0-9]+|shcore|api-ms-win-.*|ext-ms-win-.*)\\.dll$")

if(FLOOR STREQUAL "xp-sp3")
  set(too_new ${not_on_xp})
  set(floor_name "Windows XP SP3")
elseif(FLOOR STREQUAL "win7-sp1")
  set(too_new ${not_on_win7})
  set(floor_name "Windows 7 SP1 x64")
else()
  message(FATAL_ERROR "FLOOR must be xp-sp3 or win7-sp1, not '${FLOOR}'")
endif()

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
    set(function "${CMAKE_MATCH_1}")
    list(APPEND imports "${dll}!${function}")
    if(function IN_LIST too_new OR dll MATCHES "${dlls_not_on_floor}")
      list(APPEND found "${function}")
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
    message(FATAL_ERROR "${PROGRAM}: expected the imports missing on ${floor_name} to be '${expected}', found '${found}'")
  endif()
elseif(found)
  message(FATAL_ERROR "${PROGRAM} imports functions that ${floor_name} lacks: ${found}")
endif()
