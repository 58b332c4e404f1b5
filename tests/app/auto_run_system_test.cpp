// Start at logon on the running system: the platform's registry and its Task
// Scheduler 2.0. Under Wine the scheduler is only partly implemented (the run
// level, the logon type and logon triggers answer E_NOTIMPL), so the real COM
// path is traced call by call and must stop exactly there, cleanly.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/system/adv_reg.h"
#include "app/system/auto_run.h"
#include "support/message_box.h"
#include "support/module_info.h"
#include "support/os_version.h"

namespace lirrin {
namespace {

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Windows starts its Task Scheduler service at boot; Wine's is started on
// demand, and the scheduler's objects do not start it themselves. Waits a
// bounded time for it to run.
bool EnsureTaskSchedulerRunning() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = manager ? OpenServiceA(manager, "Schedule", SERVICE_START | SERVICE_QUERY_STATUS) : nullptr;
  bool running = false;
  if (service != nullptr) {
    StartServiceA(service, 0, nullptr);
    for (int poll = 0; poll < 300 && !running; ++poll) {
      SERVICE_STATUS status{};
      running = QueryServiceStatus(service, &status) && status.dwCurrentState == SERVICE_RUNNING;
      if (!running) Sleep(100);
    }
    CloseServiceHandle(service);
  }
  if (manager) CloseServiceHandle(manager);
  return running;
}

struct TTracedCall {
  std::string Step;
  THResult Result;
};

// Passes every call to the platform's scheduler and notes its result.
class TTracingScheduler final : public TTaskScheduler {
 public:
  explicit TTracingScheduler(std::vector<TTracedCall>& trace) : Platform(MakeComTaskScheduler()), Trace(trace) {}

  THResult InitializeCom() override { return Note("InitializeCom", Platform->InitializeCom()); }
  THResult InitializeSecurity() override { return Note("InitializeSecurity", Platform->InitializeSecurity()); }
  void UninitializeCom() override {
    Platform->UninitializeCom();
    Note("UninitializeCom", kHrOk);
  }
  THResult Connect() override { return Note("Connect", Platform->Connect()); }
  THResult GetRootFolder() override { return Note("GetRootFolder", Platform->GetRootFolder()); }
  THResult DeleteTask(const std::wstring& name) override { return Note("DeleteTask", Platform->DeleteTask(name)); }
  THResult NewTask() override { return Note("NewTask", Platform->NewTask()); }
  THResult SetAuthor(const std::wstring& author) override { return Note("SetAuthor", Platform->SetAuthor(author)); }
  THResult SetRunLevel(int level) override { return Note("SetRunLevel", Platform->SetRunLevel(level)); }
  THResult SetSettings(const TTaskSettings& settings) override {
    return Note("SetSettings", Platform->SetSettings(settings));
  }
  THResult AddTrigger(int type, bool enabled) override { return Note("AddTrigger", Platform->AddTrigger(type, enabled)); }
  THResult AddExecAction(const std::wstring& path) override {
    return Note("AddExecAction", Platform->AddExecAction(path));
  }
  THResult RegisterTask(const std::wstring& name, const TTaskRegistration& registration) override {
    return Note("RegisterTask", Platform->RegisterTask(name, registration));
  }
  void ReleaseAll() override {
    Platform->ReleaseAll();
    Note("ReleaseAll", kHrOk);
  }

 private:
  THResult Note(const char* step, THResult result) {
    Trace.push_back({step, result});
    return result;
  }

  std::unique_ptr<TTaskScheduler> Platform;
  std::vector<TTracedCall>& Trace;
};

std::string Described(const std::vector<TTracedCall>& trace) {
  std::string text;
  char result[16];
  for (const TTracedCall& call : trace) {
    std::snprintf(result, sizeof result, "%08lX", static_cast<unsigned long>(call.Result));
    text += call.Step + "=" + result + " ";
  }
  return text;
}

std::vector<std::string> Steps(const std::vector<TTracedCall>& trace) {
  std::vector<std::string> steps;
  for (const TTracedCall& call : trace) steps.push_back(call.Step);
  return steps;
}

TEST(AutoRunPlatform, WineStopsAtTheRunLevel) {
  if (!UnderWine()) GTEST_SKIP() << "describes Wine's partial Task Scheduler";
  ASSERT_TRUE(EnsureTaskSchedulerRunning());
  std::vector<TTracedCall> trace;
  TAutoRun autoRun(std::make_unique<TTracingScheduler>(trace), 193);
  EXPECT_FALSE(autoRun.SetLogonTask(L"LirrinWineProbe", ModulePath()));
  const std::vector<std::string> expected = {"InitializeCom", "InitializeSecurity", "Connect", "GetRootFolder",
                                             "DeleteTask",    "NewTask",            "SetAuthor", "SetRunLevel",
                                             "ReleaseAll",    "UninitializeCom"};
  ASSERT_EQ(Steps(trace), expected) << Described(trace);
  for (const TTracedCall& call : trace) {
    if (call.Step == "DeleteTask") continue;  // no such task: not examined
    if (call.Step == "SetRunLevel") {
      EXPECT_EQ(call.Result, kHrNotImplemented);
    } else {
      EXPECT_GE(call.Result, 0) << call.Step;
    }
  }
  // Removing a task that does not exist still succeeds through the real calls.
  trace.clear();
  EXPECT_TRUE(autoRun.SetLogonTask(L"LirrinWineProbe", L""));
  EXPECT_EQ(Steps(trace), (std::vector<std::string>{"InitializeCom", "InitializeSecurity", "Connect", "GetRootFolder",
                                                    "DeleteTask", "ReleaseAll", "UninitializeCom"}));
}

// The family word and the logon start method for the Windows version the
// test harness made the system report (LIRRIN_EXPECTED_AUTORUN: "runvalue"
// or "task"); the registration then goes through the running system.
TEST(AutoRunPlatform, MethodForTheRunningSystem) {
  const char* expected = std::getenv("LIRRIN_EXPECTED_AUTORUN");
  if (expected == nullptr) GTEST_SKIP() << "run by the harness with a reported Windows version";
  if (const char* family = std::getenv("LIRRIN_EXPECTED_OS_FAMILY")) {
    EXPECT_EQ(TOsVersion::Instance()->Family(0xFFFF), std::strtoul(family, nullptr, 10));
  }
  std::vector<TText> boxes;
  SetMessageBoxRecorder([&boxes](const TMessageBox& box) { boxes.push_back(box.Text); });
  TAutoRun& autoRun = TAutoRun::Instance();
  const std::wstring baseName = ModuleBaseName();
  const std::string name(baseName.begin(), baseName.end());
  HKEY key = nullptr;
  auto runValuePresent = [&] {
    char data[1024];
    DWORD size = sizeof data;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    const bool present = RegQueryValueExA(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size) ==
                         ERROR_SUCCESS;
    RegCloseKey(key);
    return present;
  };
  if (std::string(expected) == "runvalue") {
    EXPECT_EQ(autoRun.Method(), TAutoRunMethod::RunValue);
    EXPECT_TRUE(autoRun.Register(ModuleStemName()));
    EXPECT_TRUE(runValuePresent());
    EXPECT_TRUE(autoRun.Remove(ModuleStemName()));
    EXPECT_FALSE(runValuePresent());
  } else {
    ASSERT_TRUE(EnsureTaskSchedulerRunning());
    EXPECT_EQ(autoRun.Method(), TAutoRunMethod::LogonTask);
    // Wine's scheduler cannot take a logon task (see above); no Run value
    // is written instead.
    EXPECT_EQ(autoRun.Register(ModuleStemName()), !UnderWine());
    EXPECT_FALSE(runValuePresent());
    EXPECT_TRUE(autoRun.Remove(ModuleStemName()));
  }
  EXPECT_TRUE(boxes.empty());
  SetMessageBoxRecorder({});
}

}  // namespace
}  // namespace lirrin
