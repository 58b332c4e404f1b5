#include "cli/word_paths.h"

#include "smbus/smbus.h"
#ifdef LIRRIN_LINUX_HARDWARE
#include "hw/kernel_smbus_adapter.h"
#endif

namespace lirrin::cli {

namespace {

class TEngineWordPath final : public TWordPath {
 public:
  bool ReadWord(u8 address, u8 command, u16& word, std::string& failure) override {
    u8 bytes[2] = {};
    TSMBus& smbus = *TSMBus::Instance();
    if (!smbus.ReadWords(address, bytes, command, 1)) {
      failure = FailureOf(smbus);
      return false;
    }
    word = static_cast<u16>(bytes[0] | bytes[1] << 8);
    return true;
  }

  bool WriteWord(u8 address, u8 command, u16 word, std::string& failure) override {
    const u8 bytes[2] = {static_cast<u8>(word), static_cast<u8>(word >> 8)};
    TSMBus& smbus = *TSMBus::Instance();
    if (!smbus.WriteWords(address, command, bytes, 1)) {
      failure = FailureOf(smbus);
      return false;
    }
    return true;
  }

  bool ThroughKernel() const override { return false; }

 private:
  // The engine answers true or false; the reason for a false is beside it.
  static std::string FailureOf(const TSMBus& smbus) {
    std::string text = FailureText(smbus.LastFailure());
    if (smbus.LastFailure() == TSMBusFailure::LockNotHad && !smbus.LockProblem().empty()) {
      text += ": " + smbus.LockProblem();
    }
    return text;
  }
};

#ifdef LIRRIN_LINUX_HARDWARE
class TKernelWordPath final : public TWordPath {
 public:
  explicit TKernelWordPath(const TKernelSMBusOwner& owner) : Owner(owner) {}

  bool ReadWord(u8 address, u8 command, u16& word, std::string& failure) override {
    return Outcome(Opened() && Adapter.ReadWord(address, command, word), failure);
  }
  bool WriteWord(u8 address, u8 command, u16 word, std::string& failure) override {
    return Outcome(Opened() && Adapter.WriteWord(address, command, word), failure);
  }
  bool ThroughKernel() const override { return true; }

 private:
  bool Opened() {
    if (!Tried) IsOpen = Adapter.Open(Owner);
    Tried = true;
    return IsOpen;
  }
  bool Outcome(bool succeeded, std::string& failure) const {
    if (!succeeded) failure = Adapter.Problem();
    return succeeded;
  }

  TKernelSMBusOwner Owner;
  TKernelSMBusAdapter Adapter;
  bool Tried = false, IsOpen = false;
};
#endif

}  // namespace

std::unique_ptr<TWordPath> MakeEngineWordPath() { return std::make_unique<TEngineWordPath>(); }

#ifdef LIRRIN_LINUX_HARDWARE
std::unique_ptr<TWordPath> MakeKernelWordPath(const TKernelSMBusOwner& owner) {
  return std::make_unique<TKernelWordPath>(owner);
}
#endif

}  // namespace lirrin::cli
