#pragma once
// Time seam. Script delays and bounded waits sleep through the current clock:
// the system's by default, a simulated board's virtual clock in tests and
// demo builds so that a 40 ms delay costs no real time there.

#include "support/types.h"

namespace lirrin {

class TClock {
 public:
  virtual ~TClock() = default;
  virtual u64 Milliseconds() = 0;  // monotonic
  virtual void Sleep(u32 milliseconds) = 0;

  // The clock in use; the system clock unless another was installed.
  static TClock& Current();
  // Installs `clock` (not owned), or the system clock again for nullptr.
  static void Install(TClock* clock);
};

class TSystemClock final : public TClock {
 public:
  u64 Milliseconds() override;
  void Sleep(u32 milliseconds) override;
};

}  // namespace lirrin
