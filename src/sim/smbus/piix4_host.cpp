// PIIX4-style host (i2c-piix4.c, i2c-viapro.c, QEMU pm_smbus.c).
#include "sim/smbus/host.h"

namespace lirrin::sim {

namespace {

constexpr u8 kBusy = 0x01, kInterrupt = 0x02, kDeviceError = 0x04, kFailed = 0x10;
constexpr u8 kKill = 0x02, kStart = 0x40;

}  // namespace

u8 TPiix4Host::ReadRegister(u8 offset) {
  switch (offset) {
    case 0:
      // A finished transaction sets INTR on success and only DEV_ERR on a
      // missing acknowledge (QEMU pm_smbus.c; i2c-i801.c relies on it).
      LatchOutcome(Status, kInterrupt, kDeviceError, Address, Data);
      return static_cast<u8>(Status | (Busy() ? kBusy : 0));
    case 2: return Control;  // START reads back 0, the protocol bits as written
    case 3: return Command;
    case 4: return Address;
    case 5: return Data[0];
    case 6: return Data[1];
    case 7: return Block;
    default: return 0;
  }
}

void TPiix4Host::WriteRegister(u8 offset, u8 value) {
  switch (offset) {
    case 0:
      Status &= static_cast<u8>(~(value & ~kBusy));  // write 1 to clear; BUSY is read-only
      break;
    case 2:
      Control = value & ~kStart;
      if ((value & kKill) != 0 && Abort()) Status |= kFailed;
      // Receive byte lands in DAT0; send byte takes its byte from the command register.
      if ((value & kStart) != 0 && (value & kKill) == 0) {
        Launch(Request((value >> 2) & 7, Address, Command, Data));
      }
      break;
    case 3: Command = value; break;
    case 4: Address = value; break;
    case 5: Data[0] = value; break;
    case 6: Data[1] = value; break;
    case 7: Block = value; break;
    default: break;
  }
}

}  // namespace lirrin::sim
