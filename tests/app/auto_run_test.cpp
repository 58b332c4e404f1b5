// Start at logon: the method per family, the logon task's whole definition
// and every failure path against a recording scheduler, and the Run value
// in the registry.
#include "app/system/auto_run.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "app/recording_scheduler.h"
#include "app/system/adv_reg.h"
#include "support/message_box.h"
#include "support/module_info.h"

namespace lirrin {
namespace {

using testing::TRecordingScheduler;
using testing::TSchedulerRecord;

// The Run value `name`, or nothing when it is absent.
std::optional<std::string> RunValue(const std::string& name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
  char data[1024] = {};
  DWORD size = sizeof data - 1, type = 0;
  const LONG status = RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
  return std::string(data);
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

const std::wstring kTask = L"Amp.new";
const std::wstring kProgram = L"C:\\Program Files\\Amp\\Amp.new.exe";

class AutoRunTest : public ::testing::Test {
 public:
  AutoRunTest() {
    SetMessageBoxRecorder([this](const TMessageBox& box) { Boxes.push_back(box.Text); });
  }
  ~AutoRunTest() override { SetMessageBoxRecorder({}); }

  TAutoRun AutoRun(u32 family = 193) { return TAutoRun(std::make_unique<TRecordingScheduler>(Record), family); }

  TSchedulerRecord Record;
  std::vector<TText> Boxes;
};

TEST(AutoRunMethod, RunValueUpToTheNt5Family) {
  struct Case {
    u32 family;
    TAutoRunMethod method;
  };
  const Case cases[] = {
      {0, TAutoRunMethod::RunValue},    {16, TAutoRunMethod::RunValue},   {32, TAutoRunMethod::RunValue},
      {33, TAutoRunMethod::LogonTask},  {34, TAutoRunMethod::LogonTask},  {64, TAutoRunMethod::LogonTask},
      {193, TAutoRunMethod::LogonTask}, {449, TAutoRunMethod::LogonTask}, {705, TAutoRunMethod::LogonTask},
      // The comparison is signed: a word with the top bit set reads negative.
      {0xFFFFFFFF, TAutoRunMethod::RunValue},
  };
  for (const Case& c : cases) EXPECT_EQ(AutoRunMethod(c.family), c.method) << c.family;
}

TEST_F(AutoRunTest, LogonTaskDefinition) {
  ASSERT_TRUE(AutoRun().SetLogonTask(kTask, kProgram));
  const std::vector<std::string> calls = {"InitializeCom", "InitializeSecurity", "Connect",      "GetRootFolder",
                                          "DeleteTask",    "NewTask",            "SetAuthor",    "SetRunLevel",
                                          "SetSettings",   "AddTrigger",         "AddExecAction", "RegisterTask",
                                          "ReleaseAll",    "UninitializeCom"};
  EXPECT_EQ(Record.Calls, calls);
  EXPECT_EQ(Record.ComDepth, 0);
  ASSERT_EQ(Record.Tasks.size(), 1u);
  const testing::TStoredTask& task = Record.Tasks.at(kTask);
  EXPECT_EQ(task.Author, L"Author Name");
  EXPECT_EQ(task.RunLevel, 1);  // TASK_RUNLEVEL_HIGHEST
  ASSERT_TRUE(task.SettingsSet);
  EXPECT_TRUE(task.Settings.StartWhenAvailable);
  EXPECT_FALSE(task.Settings.DeleteExpiredTaskAfter.has_value());  // null, not empty
  EXPECT_FALSE(task.Settings.ExecutionTimeLimit.has_value());
  EXPECT_FALSE(task.Settings.DisallowStartIfOnBatteries);
  EXPECT_EQ(task.Triggers, (std::vector<std::pair<int, bool>>{{9, true}}));  // TASK_TRIGGER_LOGON
  EXPECT_EQ(task.ActionPaths, std::vector<std::wstring>{kProgram});
  EXPECT_EQ(task.Registration.Flags, 6);      // TASK_CREATE_OR_UPDATE
  EXPECT_EQ(task.Registration.LogonType, 3);  // TASK_LOGON_INTERACTIVE_TOKEN
  EXPECT_EQ(task.Registration.UserId, L"");
  EXPECT_FALSE(task.Registration.Password.has_value());
  EXPECT_EQ(task.Registration.SecurityDescriptor, L"");
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(AutoRunTest, SecondRegistrationReplacesTheFirst) {
  TAutoRun autoRun = AutoRun();
  ASSERT_TRUE(autoRun.SetLogonTask(kTask, L"C:\\Old\\Amp.new.exe"));
  Record.Calls.clear();
  ASSERT_TRUE(autoRun.SetLogonTask(kTask, kProgram));
  ASSERT_EQ(Record.Tasks.size(), 1u);
  EXPECT_EQ(Record.Tasks.at(kTask).ActionPaths, std::vector<std::wstring>{kProgram});
  EXPECT_EQ(Record.Calls[4], "DeleteTask");
  EXPECT_EQ(Record.Calls[5], "NewTask");
}

TEST_F(AutoRunTest, RemoveDeletesAndMissingTaskIsNoError) {
  TAutoRun autoRun = AutoRun();
  ASSERT_TRUE(autoRun.SetLogonTask(kTask, kProgram));
  EXPECT_TRUE(autoRun.Remove(kTask));
  EXPECT_TRUE(Record.Tasks.empty());
  EXPECT_TRUE(autoRun.Remove(kTask));  // nothing left to delete
  EXPECT_EQ(std::count(Record.Calls.begin(), Record.Calls.end(), "NewTask"), 1);
  EXPECT_EQ(Record.ComDepth, 0);
}

TEST_F(AutoRunTest, EveryFailedStepGivesFalse) {
  const char* steps[] = {"Connect",     "GetRootFolder", "NewTask",       "SetAuthor",   "SetRunLevel",
                         "SetSettings", "AddTrigger",    "AddExecAction", "RegisterTask"};
  for (const char* step : steps) {
    Record = TSchedulerRecord();
    Record.Tasks[kTask] = testing::TStoredTask();  // an earlier registration
    Record.Failures[step] = kHrNotImplemented;
    EXPECT_FALSE(AutoRun().SetLogonTask(kTask, kProgram)) << step;
    EXPECT_EQ(Record.ComDepth, 0) << step;
    EXPECT_EQ(Record.Calls.back(), "UninitializeCom") << step;
    EXPECT_EQ(std::count(Record.Calls.begin(), Record.Calls.end(), "ReleaseAll"), 1) << step;
    // The step ended the operation.
    EXPECT_EQ(*(Record.Calls.end() - 3), step) << step;
    // Deleted before the failure, the task stays deleted.
    const bool deleted = std::string(step) != "Connect" && std::string(step) != "GetRootFolder";
    EXPECT_EQ(Record.Tasks.count(kTask), deleted ? 0u : 1u) << step;
  }
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(AutoRunTest, ComInitialisationFailures) {
  struct Case {
    THResult hr;
    const char* printed;
  };
  const Case cases[] = {
      {kHrChangedMode, "\nCoInitializeEx failed: 80010106\n\nCannot change thread mode after it is set.\n"},
      {HResult(0x8007000E), "\nCoInitializeEx failed: 8007000e\n"},
  };
  for (const Case& c : cases) {
    Record = TSchedulerRecord();
    Record.Failures["InitializeCom"] = c.hr;
    ::testing::internal::CaptureStdout();
    const bool result = AutoRun().SetLogonTask(kTask, kProgram);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.printed);
    EXPECT_FALSE(result);
    // COM was not initialised, so it is not uninitialised either.
    EXPECT_EQ(Record.Calls, std::vector<std::string>{"InitializeCom"});
  }
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(AutoRunTest, SecuritySetUpFailures) {
  struct Case {
    THResult hr;
    const char16_t* box;
    const char* printed;
  };
  const Case cases[] = {
      {kHrNoSecurityPackages, u"CoInitializeSecurity failed: RPC_E_NO_GOOD_SECURITY_PACKAGES",
       "\nCoInitializeSecurity failed: 8001011a\n"},
      {kHrNotInitialized, u"CoInitializeSecurity failed: CO_E_NOTINITIALIZED",
       "\nCoInitializeSecurity failed: 800401f0\n"},
      {HResult(0x80004005), u"CoInitializeSecurity failed:0x80004005", "\nCoInitializeSecurity failed: 80004005\n"},
  };
  for (const Case& c : cases) {
    Record = TSchedulerRecord();
    Boxes.clear();
    Record.Failures["InitializeSecurity"] = c.hr;
    ::testing::internal::CaptureStdout();
    const bool result = AutoRun().SetLogonTask(kTask, kProgram);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.printed);
    EXPECT_FALSE(result);
    EXPECT_EQ(Boxes, std::vector<TText>{c.box});
    EXPECT_EQ(Record.Calls, (std::vector<std::string>{"InitializeCom", "InitializeSecurity", "UninitializeCom"}));
  }
}

TEST_F(AutoRunTest, SecuritySetEarlierInTheProcessServes) {
  Record.Failures["InitializeSecurity"] = kHrTooLate;
  EXPECT_TRUE(AutoRun().SetLogonTask(kTask, kProgram));
  EXPECT_EQ(Record.Tasks.size(), 1u);
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(AutoRunTest, TaskSchedulerMethodUsesTheProgramPath) {
  TAutoRun autoRun = AutoRun(193);
  ASSERT_TRUE(autoRun.Register(ModuleStemName()));
  EXPECT_EQ(Record.Tasks.at(ModuleStemName()).ActionPaths, std::vector<std::wstring>{ModulePath()});
  ASSERT_TRUE(autoRun.RegisterPath(kTask, kProgram));
  EXPECT_EQ(Record.Tasks.at(kTask).ActionPaths, std::vector<std::wstring>{kProgram});
}

// 64-bit XP (family 33) takes the task scheduler, which it does not have:
// creating the service object fails and so does the registration.
TEST_F(AutoRunTest, NoTaskSchedulerOnXpX64) {
  Record.Failures["Connect"] = HResult(0x80040154);  // REGDB_E_CLASSNOTREG
  EXPECT_FALSE(AutoRun(33).Register(kTask));
  EXPECT_TRUE(Boxes.empty());
}

TEST_F(AutoRunTest, RunValueMethodLeavesTheSchedulerAlone) {
  const std::string name = Narrow(ModuleBaseName());
  ASSERT_FALSE(name.empty());
  for (u32 family : {16u, 32u}) {
    TAutoRun autoRun = AutoRun(family);
    EXPECT_TRUE(autoRun.Register(kTask));
    EXPECT_EQ(RunValue(name), Narrow(RunValueData(ModulePath())));
    EXPECT_TRUE(autoRun.Remove(kTask));
    EXPECT_FALSE(RunValue(name).has_value());
    EXPECT_TRUE(autoRun.Remove(kTask));  // no value: still true
  }
  EXPECT_TRUE(Record.Calls.empty());
}

TEST(AdvReg, RunValueQuotedOnlyWithABlank) {
  struct Case {
    const wchar_t* path;
    const char* stored;
  };
  const Case cases[] = {
      {L"C:\\Program Files\\Amp\\Amp.exe", "\"C:\\Program Files\\Amp\\Amp.exe\""},
      {L"C:\\Tools\\Amp.exe", "C:\\Tools\\Amp.exe"},
  };
  for (const Case& c : cases) {
    TAdvReg().WriteRunValue(L"LirrinTestAmp", c.path, true);
    EXPECT_EQ(RunValue("LirrinTestAmp"), c.stored);
    TAdvReg().WriteRunValue(L"LirrinTestAmp", L"", false);
    EXPECT_FALSE(RunValue("LirrinTestAmp").has_value());
  }
}

}  // namespace
}  // namespace lirrin
