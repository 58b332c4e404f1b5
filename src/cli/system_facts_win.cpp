// Windows: the version record and family word, WOW64, administrator rights
// and the state of the program's kernel driver service.
#include <windows.h>

#include <cstdio>

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
  QueryDriverService(driverName, facts);
  return facts;
}

}  // namespace lirrin::cli
