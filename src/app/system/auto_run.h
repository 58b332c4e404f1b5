#pragma once
// Start at logon. Systems up to the NT 5 family (family word 32 and below)
// use the user's Run value; every later one, and 64-bit editions of the NT 5
// family (33, 34), a logon task in the task scheduler's root folder that
// runs the program with the highest available rights.

#include <memory>
#include <string>

#include "app/system/task_scheduler.h"
#include "support/types.h"

namespace lirrin {

// Which way the logon start goes for a family word (mask 0xFFFF).
enum class TAutoRunMethod { RunValue, LogonTask };
TAutoRunMethod AutoRunMethod(u32 family);

class TAutoRun {
 public:
  // The process-wide object, on the platform's task scheduler and the
  // running system's family; created on first use, never destroyed.
  static TAutoRun& Instance();

  TAutoRun(std::unique_ptr<TTaskScheduler> scheduler, u32 family);

  bool Register(const std::wstring& taskName);
  bool Remove(const std::wstring& taskName);
  bool RegisterPath(const std::wstring& taskName, const std::wstring& path);
  // Deletes the task `taskName` and, unless `path` is empty, creates it
  // anew to run `path` at logon. A task deleted here stays deleted when a
  // later step fails.
  bool SetLogonTask(const std::wstring& taskName, const std::wstring& path);

  TAutoRunMethod Method() const { return AutoRunMethod(Family); }

 private:
  bool InitializeCom();
  bool DefineAndRegister(const std::wstring& taskName, const std::wstring& path);

  std::unique_ptr<TTaskScheduler> Scheduler;
  u32 Family;
};

// The author the logon task is registered with.
constexpr const wchar_t* kTaskAuthor = L"Author Name";

}  // namespace lirrin
