// Intel SCH host (i2c-isch.c): busy and done sit where PIIX4 has done and
// collision, and the control register comes first.
#include "sim/smbus/host.h"

namespace lirrin::sim {

namespace {

constexpr u8 kDone = 0x01, kDeviceError = 0x02, kBusy = 0x08;
constexpr u8 kStart = 0x10;

}  // namespace

u8 TSchHost::ReadRegister(u8 offset) {
  if (offset >= 0x20) return Block[offset - 0x20];
  switch (offset) {
    case 0: return Control;
    case 1:
      // The device error bit is what i2c-isch.c reports as "no response".
      LatchOutcome(Status, kDone, kDeviceError, Address, Data);
      return static_cast<u8>(Status | (Busy() ? kBusy : 0));
    case 2: return Clock[0];
    case 3: return Clock[1];
    case 4: return Address;
    case 5: return Command;
    case 6: return Data[0];
    case 7: return Data[1];
    default: return 0;
  }
}

void TSchHost::WriteRegister(u8 offset, u8 value) {
  if (offset >= 0x20) {
    Block[offset - 0x20] = value;
    return;
  }
  switch (offset) {
    case 0:
      Control = value & ~kStart;
      if ((value & kStart) != 0) Launch(Request(value & 7, Address, Command, Data));
      break;
    case 1: Status &= static_cast<u8>(~(value & 0x07)); break;  // W1C; busy is read-only
    case 2: Clock[0] = value; break;
    case 3: Clock[1] = value; break;
    case 4: Address = value; break;
    case 5: Command = value; break;
    case 6: Data[0] = value; break;
    case 7: Data[1] = value; break;
    default: break;
  }
}

}  // namespace lirrin::sim
