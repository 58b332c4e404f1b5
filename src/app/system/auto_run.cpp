#include "app/system/auto_run.h"

#include <cstdio>

#include "app/system/adv_reg.h"
#include "support/debug_console.h"
#include "support/message_box.h"
#include "support/module_info.h"
#include "support/os_version.h"

namespace lirrin {

namespace {

// The texts of the message box for a failed process security set-up.
TText SecurityFailureText(THResult hr) {
  if (hr == kHrNoSecurityPackages) return u"CoInitializeSecurity failed: RPC_E_NO_GOOD_SECURITY_PACKAGES";
  if (hr == kHrNotInitialized) return u"CoInitializeSecurity failed: CO_E_NOTINITIALIZED";
  char code[16];
  std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(hr));
  return u"CoInitializeSecurity failed:0x" + Widen(code);
}

bool Failed(THResult hr) { return hr < 0; }

}  // namespace

// A signed comparison: every value above 32, including the 64-bit editions
// of the NT 5 family (33 and 34), goes to the task scheduler.
TAutoRunMethod AutoRunMethod(u32 family) {
  return static_cast<i32>(family) <= 32 ? TAutoRunMethod::RunValue : TAutoRunMethod::LogonTask;
}

TAutoRun& TAutoRun::Instance() {
  static TAutoRun instance(MakeComTaskScheduler(), TOsVersion::Instance()->Family(0xFFFF));
  return instance;
}

TAutoRun::TAutoRun(std::unique_ptr<TTaskScheduler> scheduler, u32 family)
    : Scheduler(std::move(scheduler)), Family(family) {}

bool TAutoRun::Register(const std::wstring& taskName) {
  if (Method() == TAutoRunMethod::RunValue) {
    TAdvReg().AddRunValue(ModuleBaseName());
    return true;
  }
  return RegisterPath(taskName, ModulePath());
}

bool TAutoRun::RegisterPath(const std::wstring& taskName, const std::wstring& path) {
  if (Method() == TAutoRunMethod::RunValue) {
    TAdvReg().AddRunValue(ModuleBaseName());
    return true;
  }
  return SetLogonTask(taskName, path);
}

bool TAutoRun::Remove(const std::wstring& taskName) {
  if (Method() == TAutoRunMethod::RunValue) {
    TAdvReg().RemoveRunValue(ModuleBaseName());
    return true;
  }
  return SetLogonTask(taskName, std::wstring());
}

bool TAutoRun::InitializeCom() {
  const THResult com = Scheduler->InitializeCom();
  if (Failed(com)) {
    std::printf("\nCoInitializeEx failed: %x\n", static_cast<unsigned>(com));
    TDebugConsole::Instance(false)->LogLastError(kColorYellow);
    if (com == kHrChangedMode) std::printf("\nCannot change thread mode after it is set.\n");
    std::fflush(stdout);
    return false;
  }
  // RPC_E_TOO_LATE: security was set earlier in this process, which serves.
  const THResult security = Scheduler->InitializeSecurity();
  if (Failed(security) && security != kHrTooLate) {
    std::printf("\nCoInitializeSecurity failed: %x\n", static_cast<unsigned>(security));
    std::fflush(stdout);
    ShowErrorBox({SecurityFailureText(security), u"Norvik Lirrin"});
    Scheduler->UninitializeCom();
    return false;
  }
  return true;
}

bool TAutoRun::SetLogonTask(const std::wstring& taskName, const std::wstring& path) {
  if (!InitializeCom()) return false;
  bool ok = !Failed(Scheduler->Connect()) && !Failed(Scheduler->GetRootFolder());
  if (ok) {
    // A missing task is no error: the deletion's result is not examined.
    Scheduler->DeleteTask(taskName);
    if (!path.empty()) ok = DefineAndRegister(taskName, path);
  }
  Scheduler->ReleaseAll();
  Scheduler->UninitializeCom();
  return ok;
}

bool TAutoRun::DefineAndRegister(const std::wstring& taskName, const std::wstring& path) {
  TTaskSettings settings;
  settings.StartWhenAvailable = true;
  settings.DisallowStartIfOnBatteries = false;
  TTaskRegistration registration;
  registration.Flags = kTaskCreateOrUpdate;
  registration.LogonType = kTaskLogonInteractiveToken;
  return !Failed(Scheduler->NewTask()) && !Failed(Scheduler->SetAuthor(kTaskAuthor)) &&
         !Failed(Scheduler->SetRunLevel(kTaskRunLevelHighest)) && !Failed(Scheduler->SetSettings(settings)) &&
         !Failed(Scheduler->AddTrigger(kTaskTriggerLogon, true)) && !Failed(Scheduler->AddExecAction(path)) &&
         !Failed(Scheduler->RegisterTask(taskName, registration));
}

}  // namespace lirrin
