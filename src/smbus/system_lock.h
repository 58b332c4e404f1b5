#pragma once
// The system-wide lock that serialises SMBus transactions among every process
// that opens the same name. A holder that dies never keeps it: on Linux the
// kernel drops a dead process's file lock; on Windows waits on a mutex that
// its owner abandoned succeed.
//
// On Windows each acquisition also takes the global mutex through which
// hardware-monitoring and RGB tools serialise their own SMBus access, so that
// our transactions never interleave with theirs. Both are taken within the
// one time budget and released in reverse order.

#include <string>

#ifndef _WIN32
#include <atomic>
#include <mutex>
#endif

#include "support/os_handle.h"
#include "support/types.h"

namespace lirrin {

// What is left of a `timeoutMs` budget that started at the millisecond tick
// `startTick` when the tick reads `nowTick`. The 32-bit tick wraps every
// 49.7 days; the unsigned difference stays right across the wrap.
constexpr u32 RemainingWait(u32 timeoutMs, u32 startTick, u32 nowTick) {
  const u32 spent = nowTick - startTick;
  return spent >= timeoutMs ? 0 : timeoutMs - spent;
}

class TSystemLock {
 public:
  explicit TSystemLock(const std::string& name);
#ifndef _WIN32
  // The lock file lives in `directory` (/run/lock for the system's lock),
  // which is created when it is missing. There is no other place: a second
  // file elsewhere would be a second lock.
  TSystemLock(const std::string& name, const std::string& directory);
#endif
  TSystemLock(const TSystemLock&) = delete;
  TSystemLock& operator=(const TSystemLock&) = delete;

  // Waits at most `timeoutMs` for the lock; false on timeout or when the lock
  // could not be created, and then nothing is held. Threads of one process
  // exclude each other as separate processes do.
  bool Acquire(u32 timeoutMs);
  void Release();
  // From any thread: from now on Acquire takes the lock only when it is
  // free at once and waits for nobody, a wait under way included. A
  // program that is ending uses it, so that another holder cannot keep it.
  void StopWaiting();

  // Why the last Acquire failed, in one line naming the lock's file; empty
  // where the platform gives no more than the failure.
  const std::string& Problem() const { return ProblemText; }

  // The lock held for a scope: released at its end when it was acquired.
  class THeld {
   public:
    THeld(TSystemLock& lock, u32 timeoutMs) : Lock(lock), Acquired(lock.Acquire(timeoutMs)) {}
    ~THeld() {
      if (Acquired) Lock.Release();
    }
    THeld(const THeld&) = delete;
    THeld& operator=(const THeld&) = delete;
    explicit operator bool() const { return Acquired; }

   private:
    TSystemLock& Lock;
    const bool Acquired;
  };

 private:
  // In the order of opening; closed in reverse.
  TOsHandle Handle;  // semaphore (Windows) or lock file (POSIX)
#ifdef _WIN32
  TOsHandle SharedMutex;  // the monitoring tools' mutex
  TOsHandle WaitingStopped;  // manual-reset event, set by StopWaiting
#else
  std::string Path;
  std::timed_mutex ThreadGate;  // one file lock serves every thread of the process alike
  std::atomic<bool> WaitingStopped{false};
#endif
  std::string ProblemText;
};

}  // namespace lirrin
