// SiS 96x host (i2c-sis96x.c, i2c-sis630.c): completion is the 0x08 status
// bit, busy lives in the control register at +2, start and kill in the host
// control register at +3.
#include "sim/smbus/host.h"

namespace lirrin::sim {

namespace {

constexpr u8 kStatus = 0, kControl = 2, kHostControl = 3, kAddress = 4, kCommand = 5;
constexpr u8 kDeviceError = 0x02, kDone = 0x08;
constexpr u8 kHostBusy = 0x01;
constexpr u8 kStart = 0x10, kKill = 0x20;

}  // namespace

u8 TSisHost::ReadRegister(u8 offset) {
  if (offset >= Registers.size()) return 0;
  if (offset == kStatus || offset == kControl) {
    // The drivers poll either register for progress.
    if (const auto done = Observe()) {
      if (done->Outcome == TOutcome::Done) {
        Registers[kStatus] |= kDone;
        if ((Registers[kAddress] & 1) != 0) {
          Registers[DataOffset] = done->Data[0];
          Registers[DataOffset + 1] = done->Data[1];
        }
      } else {
        Registers[kStatus] |= kDeviceError;  // "probably missing ACK"
      }
    }
  }
  if (offset == kControl) return static_cast<u8>(Registers[kControl] | (Busy() ? kHostBusy : 0));
  return Registers[offset];
}

void TSisHost::WriteRegister(u8 offset, u8 value) {
  if (offset >= Registers.size()) return;
  switch (offset) {
    case kStatus: Registers[kStatus] &= static_cast<u8>(~value); break;  // W1C
    case kControl: Registers[kControl] = value & ~0x03; break;          // busy bits are read-only
    case kHostControl:
      Registers[kHostControl] = value & ~(kStart | kKill);
      if ((value & kKill) != 0) Abort();
      if ((value & (kStart | kKill)) == kStart) {
        Launch(Request(value & 7, Registers[kAddress], Registers[kCommand],
                       {Registers[DataOffset], Registers[DataOffset + 1]}));
      }
      break;
    default: Registers[offset] = value; break;
  }
}

}  // namespace lirrin::sim
