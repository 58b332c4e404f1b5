#pragma once
// The Task Scheduler 2.0 calls of the logon start, one method per step, so
// that the same sequence runs against the platform's COM objects and against
// a model that keeps the whole task definition. Each method returns the
// HRESULT of its call (several calls for the compound steps, the first
// failure ending them).

#include <memory>
#include <optional>
#include <string>

namespace lirrin {

using THResult = long;

constexpr THResult HResult(unsigned long code) { return static_cast<THResult>(code); }

constexpr THResult kHrOk = 0;
constexpr THResult kHrNotImplemented = HResult(0x80004001);   // E_NOTIMPL
constexpr THResult kHrChangedMode = HResult(0x80010106);      // RPC_E_CHANGED_MODE
constexpr THResult kHrTooLate = HResult(0x80010119);          // RPC_E_TOO_LATE
constexpr THResult kHrNoSecurityPackages = HResult(0x8001011A);  // RPC_E_NO_GOOD_SECURITY_PACKAGES
constexpr THResult kHrNotInitialized = HResult(0x800401F0);   // CO_E_NOTINITIALIZED

// The Task Scheduler's enumeration values the logon task uses.
enum : int {
  kTaskRunLevelHighest = 1,         // TASK_RUNLEVEL_HIGHEST
  kTaskTriggerLogon = 9,            // TASK_TRIGGER_LOGON
  kTaskCreateOrUpdate = 6,          // TASK_CREATE_OR_UPDATE
  kTaskLogonInteractiveToken = 3,   // TASK_LOGON_INTERACTIVE_TOKEN
};

// A null string is not an empty one: the scheduler reads it as "not set".
using TOptionalText = std::optional<std::wstring>;

struct TTaskSettings {
  bool StartWhenAvailable = false;
  TOptionalText DeleteExpiredTaskAfter;
  TOptionalText ExecutionTimeLimit;
  bool DisallowStartIfOnBatteries = true;
};

struct TTaskRegistration {
  int Flags = 0;
  std::wstring UserId;
  TOptionalText Password;
  int LogonType = 0;
  std::wstring SecurityDescriptor;
};

class TTaskScheduler {
 public:
  virtual ~TTaskScheduler() = default;
  // COM for this thread, single-threaded apartment.
  virtual THResult InitializeCom() = 0;
  // Process security: default descriptor, packet privacy, impersonate.
  virtual THResult InitializeSecurity() = 0;
  virtual void UninitializeCom() = 0;
  // Creates the scheduler service object (in-process) and connects it to
  // the local computer as the current user.
  virtual THResult Connect() = 0;
  virtual THResult GetRootFolder() = 0;
  virtual THResult DeleteTask(const std::wstring& name) = 0;
  // A new, empty definition (flags 0) that the following calls fill.
  virtual THResult NewTask() = 0;
  virtual THResult SetAuthor(const std::wstring& author) = 0;
  virtual THResult SetRunLevel(int runLevel) = 0;
  virtual THResult SetSettings(const TTaskSettings& settings) = 0;
  // Creates a trigger of `type`, asks for its own interface and enables it.
  virtual THResult AddTrigger(int type, bool enabled) = 0;
  // Creates an executable action, asks for its interface and sets the path.
  virtual THResult AddExecAction(const std::wstring& path) = 0;
  virtual THResult RegisterTask(const std::wstring& name, const TTaskRegistration& registration) = 0;
  // Releases every object the calls above hold.
  virtual void ReleaseAll() = 0;
};

// The platform's Task Scheduler 2.0 (task_scheduler_com.cpp).
std::unique_ptr<TTaskScheduler> MakeComTaskScheduler();

}  // namespace lirrin
