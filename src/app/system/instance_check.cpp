#include "app/system/instance_check.h"

#include <windows.h>

#include "app/system/requests.h"
#include "support/debug_console.h"

namespace lirrin {

std::string InstanceMutexName(const std::string& modulePath) {
  const std::size_t slash = modulePath.find_last_of('\\');
  return slash == std::string::npos ? modulePath : modulePath.substr(slash + 1);
}

std::string GlobalInstanceName(const std::string& mutexName) { return "Global\\" + mutexName; }

std::string GlobalCloseEventName(const std::string& mutexName) { return "Global\\" + mutexName + " close"; }

std::string EndingEventName(const std::string& mutexName) { return mutexName + " ending"; }

namespace {

std::string OwnMutexName() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return InstanceMutexName(path);
}

struct TCloseWatch {
  HANDLE Event;
  HWND Window;
};

// A copy ends within a second of its close; this is its bound with room
// for a loaded machine.
constexpr DWORD kEndingWaitMs = 5000;
constexpr DWORD kEndingPollMs = 50;

// Manual-reset, made by the copy that goes on and kept open as long as it
// runs.
HANDLE EndingEvent = nullptr;

bool IsEnding(const std::string& name) {
  const HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, EndingEventName(name).c_str());
  if (event == nullptr) return false;
  const bool ending = WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
  CloseHandle(event);
  return ending;
}

bool MutexExists(const std::string& name) {
  const HANDLE running = OpenMutexA(SYNCHRONIZE, FALSE, name.c_str());
  if (running == nullptr) return false;
  CloseHandle(running);
  return true;
}

// While a running copy is ending, waits (for a bounded time) until it has
// gone.
void WaitForEndingCopy(const std::string& name) {
  for (DWORD waited = 0; waited < kEndingWaitMs && MutexExists(name) && IsEnding(name); waited += kEndingPollMs) {
    Sleep(kEndingPollMs);
  }
}

DWORD WINAPI WaitForCloseEvent(void* parameter) {
  const auto* watch = static_cast<const TCloseWatch*>(parameter);
  if (WaitForSingleObject(watch->Event, INFINITE) == WAIT_OBJECT_0) PostMessageW(watch->Window, kCloseRequest, 0, 0);
  return 0;
}

}  // namespace

TInstanceSwitches ParseInstanceSwitches(const std::string& commandLine) {
  std::string upper = commandLine;
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return {upper.find("/DEBUG") != std::string::npos, upper.find("/UNINSTALL") != std::string::npos};
}

bool RunInstanceCheck(const std::wstring& applicationTitle) {
  const std::string name = OwnMutexName();
  const TInstanceSwitches switches = ParseInstanceSwitches(GetCommandLineA());
  // The first call decides for the whole run whether the console exists.
  TDebugConsole::Instance(switches.Debug);

  // A copy that is ending goes within a second: this one takes its place
  // (should it stay longer, it still runs, and this one stops as below).
  if (!switches.Uninstall) WaitForEndingCopy(name);
  const HANDLE running = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
  if (running != nullptr) {
    CloseHandle(running);
    if (switches.Uninstall) {
      const HWND window = FindWindowW(kApplicationWindowClass, applicationTitle.c_str());
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
  if (GetLastError() == ERROR_ALREADY_EXISTS) return false;
  // Held the same way; copies in several sessions share it.
  CreateMutexA(nullptr, FALSE, GlobalInstanceName(name).c_str());
  EndingEvent = CreateEventA(nullptr, TRUE, FALSE, EndingEventName(name).c_str());
  return true;
}

void EndingNow() {
  if (EndingEvent != nullptr) SetEvent(EndingEvent);
}

void AnswerGlobalCloseRequest(HWND applicationWindow) {
  // Manual-reset: one setting reaches the copies of every session. The
  // handle, the watch and the thread live as long as the process.
  const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, GlobalCloseEventName(OwnMutexName()).c_str());
  if (event == nullptr) return;
  static TCloseWatch watch;
  watch = {event, applicationWindow};
  const HANDLE thread = CreateThread(nullptr, 0, WaitForCloseEvent, &watch, 0, nullptr);
  if (thread == nullptr) {
    CloseHandle(event);
    return;
  }
  CloseHandle(thread);
}

}  // namespace lirrin
