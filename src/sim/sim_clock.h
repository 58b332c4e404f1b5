#pragma once
// Time for the simulated board. Virtual by default: sleeping advances it at
// once, so delays and bounded waits in scripts cost no real time. In real
// time (for measuring what a user of a real board would wait) a sleep
// sleeps and the time runs with the system's from the switch on; the
// system-wide SMBus lock waits for real either way.

#include "support/clock.h"

namespace lirrin::sim {

class TSimClock final : public TClock {
 public:
  u64 Milliseconds() override { return RealTime ? Now + (System.Milliseconds() - Since) : Now; }
  void Sleep(u32 milliseconds) override {
    if (RealTime) {
      System.Sleep(milliseconds);
    } else {
      Now += milliseconds;
    }
  }

  void RunInRealTime() {
    if (RealTime) return;
    Since = System.Milliseconds();
    RealTime = true;
  }
  bool InRealTime() const { return RealTime; }

 private:
  TSystemClock System;
  bool RealTime = false;
  u64 Now = 0;    // virtual time; in real time, the time at the switch
  u64 Since = 0;  // the system's time at the switch
};

}  // namespace lirrin::sim
