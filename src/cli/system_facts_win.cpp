// Windows: the version record and family word, WOW64, administrator rights
// and the state of the program's kernel driver service.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "cli/system_facts.h"
#include "support/os_version.h"

namespace lirrin::cli {

namespace {

bool IsAdministrator() {
  SID_IDENTIFIER_AUTHORITY authority = {SECURITY_NT_AUTHORITY};
  PSID administrators = nullptr;
  if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &administrators)) {
    return false;
  }
  BOOL member = FALSE;
  if (!CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
  FreeSid(administrators);
  return member != FALSE;
}

void QueryDriverService(const char* name, TSystemFacts& facts) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) {
    facts.Service = TDriverService::Unknown;
    facts.ServiceText = "the service manager cannot be asked (error " + std::to_string(GetLastError()) + ")";
    return;
  }
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  if (service == nullptr) {
    const DWORD error = GetLastError();
    facts.Service = error == ERROR_SERVICE_DOES_NOT_EXIST ? TDriverService::Missing : TDriverService::Unknown;
    facts.ServiceText = facts.Service == TDriverService::Missing ? "not installed"
                                                                 : "cannot be opened (error " + std::to_string(error) + ")";
  } else if (!QueryServiceStatus(service, &status)) {
    facts.Service = TDriverService::Unknown;
    facts.ServiceText = "cannot be queried (error " + std::to_string(GetLastError()) + ")";
  } else if (status.dwCurrentState == SERVICE_RUNNING) {
    facts.Service = TDriverService::Running;
    facts.ServiceText = "running";
  } else if (status.dwCurrentState == SERVICE_STOPPED) {
    facts.Service = TDriverService::Stopped;
    facts.ServiceExitCode = status.dwWin32ExitCode;
    facts.ServiceText = "stopped, last exit code " + std::to_string(status.dwWin32ExitCode);
  } else {
    facts.Service = TDriverService::Pending;
    facts.ServiceText = "changing state (state " + std::to_string(status.dwCurrentState) + ")";
  }
  if (service != nullptr) CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

// A value under HKLM, read as XP offers it (RegGetValue came with Vista).
bool MachineValue(const char* key, const char* name, DWORD type, void* data, DWORD size) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &handle) != ERROR_SUCCESS) {
    return false;
  }
  DWORD found = 0;
  const bool read = RegQueryValueExA(handle, name, nullptr, &found, static_cast<BYTE*>(data), &size) == ERROR_SUCCESS &&
                    found == type;
  RegCloseKey(handle);
  return read;
}

// The firmware's Secure Boot state as Windows 8 and later record it.
std::string SecureBootState() {
  DWORD enabled = 0;
  if (!MachineValue("SYSTEM\\CurrentControlSet\\Control\\SecureBoot\\State", "UEFISecureBootEnabled", REG_DWORD,
                    &enabled, sizeof enabled)) {
    return "unknown";
  }
  return enabled != 0 ? "on" : "off";
}

// The kernel's code integrity options (SystemCodeIntegrityInformation,
// Vista and later): test signing in force, and memory integrity (HVCI's
// kernel-mode code integrity). ntdll is asked at run time: XP has no such
// class.
constexpr ULONG kSystemCodeIntegrityInformation = 103;
constexpr ULONG kCodeIntegrityTestSign = 0x02;
constexpr ULONG kCodeIntegrityHvciKmci = 0x400;

bool CodeIntegrityOptions(ULONG& options) {
  struct {
    ULONG Length;
    ULONG CodeIntegrityOptions;
  } information{sizeof information, 0};
  using TQuery = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  const auto query =
      ntdll != nullptr ? reinterpret_cast<TQuery>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtQuerySystemInformation")))
                       : nullptr;
  if (query == nullptr || query(kSystemCodeIntegrityInformation, &information, sizeof information, nullptr) < 0) {
    return false;
  }
  options = information.CodeIntegrityOptions;
  return true;
}

void QueryCodeIntegrity(TSystemFacts& facts) {
  facts.SecureBoot = SecureBootState();
  ULONG options = 0;
  const bool known = CodeIntegrityOptions(options);
  facts.TestSigning = !known ? "unknown" : (options & kCodeIntegrityTestSign) != 0 ? "on" : "off";
  facts.MemoryIntegrity = !known ? "unknown" : (options & kCodeIntegrityHvciKmci) != 0 ? "on" : "off";
  char startOptions[512] = {};
  if (MachineValue("SYSTEM\\CurrentControlSet\\Control", "SystemStartOptions", REG_SZ, startOptions,
                   sizeof startOptions - 1)) {
    facts.TestSigningRequested = std::strstr(startOptions, "TESTSIGNING") != nullptr;
  }
}

}  // namespace

TSystemFacts QuerySystemFacts(const char* driverName) {
  TSystemFacts facts;
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  const bool known = GetVersionExA(&info) != FALSE;
#pragma GCC diagnostic pop
  const TOsVersion& os = *TOsVersion::Instance();
  char line[160];
  std::snprintf(line, sizeof line, "Windows %lu.%lu build %lu (%s), family word 0x%04X, %s",
                known ? info.dwMajorVersion : 0ul, known ? info.dwMinorVersion : 0ul,
                known ? info.dwBuildNumber & 0xFFFF : 0ul,
                known && info.dwPlatformId == VER_PLATFORM_WIN32_NT ? "NT" : "95/98/Me", os.Family(0xFFFF),
                !os.IsNative() ? "32-bit program under WOW64" : os.IsX64() ? "64-bit" : "32-bit");
  facts.Os = line;
  facts.Privileged = IsAdministrator();
  facts.Privileges = facts.Privileged ? "administrator" : "not an administrator";
  facts.SignedDriversOnly = os.IsX64() || os.IsIA64();
  QueryCodeIntegrity(facts);
  QueryDriverService(driverName, facts);
  return facts;
}

}  // namespace lirrin::cli
