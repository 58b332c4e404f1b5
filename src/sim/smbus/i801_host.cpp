// Intel ICH/PCH host (i2c-i801.c, QEMU smbus_ich9.c): PIIX4's registers plus
// PEC and the auxiliary registers.
#include "sim/smbus/host.h"

namespace lirrin::sim {

u8 TI801Host::ReadRegister(u8 offset) {
  switch (offset) {
    case 0x08: return Pec;
    case 0x0C: return 0;  // no CRC error: PEC is not modelled
    case 0x0D: return AuxControl;
    default: return TPiix4Host::ReadRegister(offset);
  }
}

void TI801Host::WriteRegister(u8 offset, u8 value) {
  switch (offset) {
    case 0x08: Pec = value; break;
    case 0x0D: AuxControl = value & 0x03; break;  // CRC, E32B
    default: TPiix4Host::WriteRegister(offset, value); break;
  }
}

}  // namespace lirrin::sim
