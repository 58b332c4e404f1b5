// nVidia nForce/MCP host (i2c-nforce2.c, the ACPI SMBus host-controller
// register model of sbshc.c/sbshc.h). Writing the protocol register starts
// the transaction and clears the status, which reads 0 until it completes;
// the direction is bit 0 of the protocol, and the address byte goes on the
// wire with its own bit 0 as well, so an address that asks for a read turns
// a write protocol into a device error with no byte written [inference: the
// driver always writes the address with bit 0 clear];
// the protocol register returns to 0 when done [inference from sbshc.c, which
// treats a non-zero protocol register as busy]. A missing acknowledge
// completes with ACPI code 10h "device address not acknowledged"
// [inference: the driver only tests for a non-zero code].
#include "sim/smbus/host.h"

namespace lirrin::sim {

namespace {

constexpr u8 kProtocol = 0x00, kStatus = 0x01, kAddress = 0x02, kCommand = 0x03, kData = 0x04;
constexpr u8 kDone = 0x80;
constexpr u8 kAddressNotAcknowledged = 0x10, kDeviceError = 0x11, kUnsupportedProtocol = 0x19;

// ACPI protocol numbers, read/write in bit 0: 2/3 quick, 4/5 byte, 6/7 byte
// data, 8/9 word data.
std::optional<TSMBusRequest> AcpiRequest(u8 protocol, u8 address, u8 command, std::array<u8, 2> data) {
  const unsigned kind = protocol & 0x7E;
  if (kind < 2 || kind > 8) return std::nullopt;
  return TSMBusHost::Request(kind / 2 - 1, static_cast<u8>(address | (protocol & 1)), command, data);
}

// A write protocol whose address byte carries the read bit.
bool DirectionConflict(u8 protocol, u8 address) { return (protocol & 1) == 0 && (address & 1) != 0; }

}  // namespace

u8 TNforceHost::ReadRegister(u8 offset) {
  if (offset >= Registers.size()) return 0;
  if (offset == kStatus) {
    if (const auto done = Observe()) {
      switch (done->Outcome) {
        case TOutcome::Done:
          Registers[kStatus] = kDone;
          if ((Registers[kProtocol] & 1) != 0) {
            Registers[kData] = done->Data[0];
            Registers[kData + 1] = done->Data[1];
          }
          break;
        case TOutcome::NoAcknowledge: Registers[kStatus] = kDone | kAddressNotAcknowledged; break;
        case TOutcome::Unsupported:
          Registers[kStatus] = kDone | (DirectionConflict(Registers[kProtocol], Registers[kAddress])
                                            ? kDeviceError
                                            : kUnsupportedProtocol);
          break;
      }
      Registers[kProtocol] = 0;
    }
  }
  return Registers[offset];
}

void TNforceHost::WriteRegister(u8 offset, u8 value) {
  if (offset >= Registers.size()) return;
  switch (offset) {
    case kProtocol:
      if (value == 0 || Busy()) break;
      Registers[kProtocol] = value;
      Registers[kStatus] = 0;
      Launch(DirectionConflict(value, Registers[kAddress])
                 ? std::nullopt
                 : AcpiRequest(value & 0x7F, Registers[kAddress], Registers[kCommand],
                               {Registers[kData], Registers[kData + 1]}));
      break;
    case kStatus: Registers[kStatus] &= static_cast<u8>(~value); break;  // W1C [inference]
    default: Registers[offset] = value; break;
  }
}

}  // namespace lirrin::sim
