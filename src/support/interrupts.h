#pragma once
// TInterruptsHeldOff: while one lives, the user's interrupts (Ctrl+C, a
// terminal hanging up, a kill's SIGTERM; on Windows the console's control
// events) wait. An SMBus transaction changes the chipset (Begin enables the
// host controller and, on ICH boards, halts the TCO watchdog) until Restore
// puts it back; a process ended between the two leaves it so. The
// interrupt takes effect as the last holder ends, the process ending as it
// would have.
//
// POSIX: the signals are blocked in the calling thread, which is where
// they arrive in the command-line tool (it has one thread). Windows: the
// control handler, which runs on a thread of its own, waits for the holders
// (at most 5 s) before the default handling ends the process.

#ifndef _WIN32
#include <signal.h>
#endif

namespace lirrin {

class TInterruptsHeldOff {
 public:
  TInterruptsHeldOff();
  ~TInterruptsHeldOff();
  TInterruptsHeldOff(const TInterruptsHeldOff&) = delete;
  TInterruptsHeldOff& operator=(const TInterruptsHeldOff&) = delete;

#ifndef _WIN32
 private:
  sigset_t Previous;  // the thread's mask before
#endif
};

}  // namespace lirrin
