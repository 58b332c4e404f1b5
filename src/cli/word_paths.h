#pragma once
// The ways read-word, write-word and amp reach the SMBus: the engine driving
// the controller's registers itself (raw I/O), or, on Linux, the kernel's
// own SMBus driver through its adapter device.

#include <memory>
#include <string>

#include "support/types.h"

namespace lirrin {
struct TKernelSMBusOwner;
}

namespace lirrin::cli {

class TWordPath {
 public:
  virtual ~TWordPath() = default;
  // `address` is the 8-bit slave address. False and a one-line reason in
  // `failure`.
  virtual bool ReadWord(u8 address, u8 command, u16& word, std::string& failure) = 0;
  virtual bool WriteWord(u8 address, u8 command, u16 word, std::string& failure) = 0;
  // Through the kernel's driver: the machine's registers are not touched.
  virtual bool ThroughKernel() const = 0;
};

// The SMBus engine on the session's board, under the system-wide lock.
std::unique_ptr<TWordPath> MakeEngineWordPath();

#ifdef LIRRIN_LINUX_HARDWARE
// The adapter of the kernel driver that owns the controller, opened at the
// first transfer so that its problem is that transfer's reason.
std::unique_ptr<TWordPath> MakeKernelWordPath(const TKernelSMBusOwner& owner);
#endif

}  // namespace lirrin::cli
