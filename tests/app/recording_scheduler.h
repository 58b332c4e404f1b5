#pragma once
// A task scheduler that keeps what the logon start asks of it: the calls in
// order, the definition being built, and the tasks registered in the root
// folder. Any step can be made to fail with a given HRESULT.

#include <map>
#include <string>
#include <vector>

#include "app/system/task_scheduler.h"

namespace lirrin::testing {

struct TStoredTask {
  std::wstring Author;
  int RunLevel = -1;
  TTaskSettings Settings;
  std::vector<std::pair<int, bool>> Triggers;  // type, enabled
  std::vector<std::wstring> ActionPaths;
  TTaskRegistration Registration;
  bool SettingsSet = false;
};

struct TSchedulerRecord {
  std::vector<std::string> Calls;
  std::map<std::wstring, TStoredTask> Tasks;
  std::map<std::string, THResult> Failures;  // step name -> its result
  int ComDepth = 0;                           // initialised minus uninitialised
};

class TRecordingScheduler final : public TTaskScheduler {
 public:
  explicit TRecordingScheduler(TSchedulerRecord& record) : Record(record) {}

  THResult InitializeCom() override {
    const THResult hr = Step("InitializeCom");
    if (hr >= 0) ++Record.ComDepth;
    return hr;
  }
  THResult InitializeSecurity() override { return Step("InitializeSecurity"); }
  void UninitializeCom() override {
    Step("UninitializeCom");
    --Record.ComDepth;
  }
  THResult Connect() override { return Step("Connect"); }
  THResult GetRootFolder() override { return Step("GetRootFolder"); }
  THResult DeleteTask(const std::wstring& name) override {
    const THResult hr = Step("DeleteTask");
    if (hr < 0) return hr;
    // A missing task: ERROR_FILE_NOT_FOUND as an HRESULT, as the scheduler says it.
    return Record.Tasks.erase(name) != 0 ? kHrOk : HResult(0x80070002);
  }
  THResult NewTask() override {
    Pending = TStoredTask();
    return Step("NewTask");
  }
  THResult SetAuthor(const std::wstring& author) override {
    Pending.Author = author;
    return Step("SetAuthor");
  }
  THResult SetRunLevel(int runLevel) override {
    Pending.RunLevel = runLevel;
    return Step("SetRunLevel");
  }
  THResult SetSettings(const TTaskSettings& settings) override {
    Pending.Settings = settings;
    Pending.SettingsSet = true;
    return Step("SetSettings");
  }
  THResult AddTrigger(int type, bool enabled) override {
    Pending.Triggers.emplace_back(type, enabled);
    return Step("AddTrigger");
  }
  THResult AddExecAction(const std::wstring& path) override {
    Pending.ActionPaths.push_back(path);
    return Step("AddExecAction");
  }
  THResult RegisterTask(const std::wstring& name, const TTaskRegistration& registration) override {
    const THResult hr = Step("RegisterTask");
    if (hr < 0) return hr;
    Pending.Registration = registration;
    Record.Tasks[name] = Pending;
    return hr;
  }
  void ReleaseAll() override { Step("ReleaseAll"); }

 private:
  THResult Step(const std::string& name) {
    Record.Calls.push_back(name);
    const auto failure = Record.Failures.find(name);
    return failure == Record.Failures.end() ? kHrOk : failure->second;
  }

  TSchedulerRecord& Record;
  TStoredTask Pending;
};

}  // namespace lirrin::testing
