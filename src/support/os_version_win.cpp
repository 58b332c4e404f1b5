// Windows version query. GetNativeSystemInfo and IsWow64Process are looked up
// at run time: the 95/98/Me family and Windows 2000 do not export them.
#include <windows.h>

#include "support/os_version.h"

namespace lirrin {

namespace {

FARPROC Kernel32Export(const char* name) {
  HMODULE kernel = GetModuleHandleA("kernel32");
  return kernel != nullptr ? GetProcAddress(kernel, name) : nullptr;
}

}  // namespace

bool QuerySystemVersion(TVersionRecord& version, u16& architecture, u32& processorCount) {
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info))) return false;
#pragma GCC diagnostic pop
  version.Major = info.dwMajorVersion;
  version.Minor = info.dwMinorVersion;
  version.PlatformId = info.dwPlatformId;

  using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
  SYSTEM_INFO system{};
  if (auto native = reinterpret_cast<GetNativeSystemInfoFn>(
          reinterpret_cast<void*>(Kernel32Export("GetNativeSystemInfo")))) {
    native(&system);
  } else {
    GetSystemInfo(&system);
  }
  processorCount = system.dwNumberOfProcessors;
  architecture = system.wProcessorArchitecture;
  return true;
}

bool QueryIsNativeProcess() {
  using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
  auto isWow64 =
      reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(Kernel32Export("IsWow64Process")));
  if (isWow64 == nullptr) return true;
  BOOL wow64 = FALSE;
  isWow64(GetCurrentProcess(), &wow64);
  return !wow64;
}

}  // namespace lirrin
