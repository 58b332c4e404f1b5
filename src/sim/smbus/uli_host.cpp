// ALi/ULi M1563 host (i2c-ali1563.c): i801's status bits, but the protocol
// field sits in bits 5:3 of control 2 and kill is 0x04.
#include "sim/smbus/host.h"

namespace lirrin::sim {

namespace {

constexpr u8 kBusy = 0x01, kInterrupt = 0x02, kDeviceError = 0x04, kFailed = 0x10;
constexpr u8 kKill = 0x04, kStart = 0x40;
constexpr unsigned kProtocolSendByte = 1;

}  // namespace

u8 TUliHost::ReadRegister(u8 offset) {
  switch (offset) {
    case 0:
      LatchOutcome(Status, kInterrupt, kDeviceError, Address, Data);
      return static_cast<u8>(Status | (Busy() ? kBusy : 0));
    case 1: return Control1;
    case 2: return Control2;
    case 3: return Command;
    case 4: return Address;
    case 5: return Data[0];
    case 6: return Data[1];
    case 7: return Block;
    default: return 0;
  }
}

void TUliHost::WriteRegister(u8 offset, u8 value) {
  switch (offset) {
    case 0: Status &= static_cast<u8>(~(value & ~kBusy)); break;  // W1C; busy is read-only
    case 1: Control1 = value; break;
    case 2: {
      Control2 = value & ~kStart;
      if ((value & kKill) != 0 && Abort()) Status |= kFailed;
      if ((value & (kStart | kKill)) != kStart) break;
      const unsigned protocol = (value >> 3) & 7;
      // Send byte puts its byte in DAT0, not in the command register.
      const u8 command = (protocol == kProtocolSendByte && (Address & 1) == 0) ? Data[0] : Command;
      Launch(Request(protocol, Address, command, Data));
      break;
    }
    case 3: Command = value; break;
    case 4: Address = value; break;
    case 5: Data[0] = value; break;
    case 6: Data[1] = value; break;
    case 7: Block = value; break;
    default: break;
  }
}

}  // namespace lirrin::sim
