#include "app/instance_check.h"

#include <windows.h>

#include "app/application.h"
#include "app/requests.h"
#include "support/debug_console.h"

namespace lirrin {

std::string InstanceMutexName(const std::string& modulePath) {
  const std::size_t slash = modulePath.find_last_of('\\');
  return slash == std::string::npos ? modulePath : modulePath.substr(slash + 1);
}

TInstanceSwitches ParseInstanceSwitches(const std::string& commandLine) {
  std::string upper = commandLine;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return {upper.find("/DEBUG") != std::string::npos, upper.find("/UNINSTALL") != std::string::npos};
}

bool RunInstanceCheck(const std::wstring& applicationTitle) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string name = InstanceMutexName(path);
  const TInstanceSwitches switches = ParseInstanceSwitches(GetCommandLineA());
  // The first call decides for the whole run whether the console exists.
  TDebugConsole::Instance(switches.Debug);

  const HANDLE running = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
  if (running != nullptr) {
    CloseHandle(running);
    if (switches.Uninstall) {
      const HWND window = FindWindowW(TApplication::kWindowClass, applicationTitle.c_str());
      if (window != nullptr) PostMessageW(window, kCloseRequest, 0, 0);
    }
    return false;
  }
  if (switches.Uninstall) return false;
  // Kept open, never owned and never closed: the mutex lives exactly as
  // long as this copy. When it cannot be created the program still runs.
  // Two copies started together can both miss each other's mutex above;
  // the one whose creation finds the mutex already there stops.
  CreateMutexA(nullptr, FALSE, name.c_str());
  return GetLastError() != ERROR_ALREADY_EXISTS;
}

}  // namespace lirrin
