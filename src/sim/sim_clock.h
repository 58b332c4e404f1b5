#pragma once
// Virtual time for the simulated board: sleeping advances it at once, so
// delays and bounded waits in scripts cost no real time.

#include "support/clock.h"

namespace lirrin::sim {

class TSimClock final : public TClock {
 public:
  u64 Milliseconds() override { return Now; }
  void Sleep(u32 milliseconds) override { Now += milliseconds; }

 private:
  u64 Now = 0;
};

}  // namespace lirrin::sim
