#include "support/interrupts.h"

#include <initializer_list>

namespace lirrin {

TInterruptsHeldOff::TInterruptsHeldOff() {
  sigset_t interrupts;
  sigemptyset(&interrupts);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) sigaddset(&interrupts, signal);
  pthread_sigmask(SIG_BLOCK, &interrupts, &Previous);
}

// A signal that came meanwhile is delivered as the mask is restored.
TInterruptsHeldOff::~TInterruptsHeldOff() { pthread_sigmask(SIG_SETMASK, &Previous, nullptr); }

}  // namespace lirrin
