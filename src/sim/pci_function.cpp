#include "sim/pci_function.h"

namespace lirrin::sim {

TPciFunction::TPciFunction(u32 id, u32 classCode, u8 revision, u8 headerType, u32 subsystem) {
  Poke(0x00, 4, id);
  Poke(0x08, 4, classCode << 8 | revision);
  Poke(0x0E, 1, headerType);
  Poke(0x2C, 4, subsystem);
  SetWritable(0x04, 2, true);  // command register
  SetWritable(0x0C, 2, true);  // cache line size, latency timer
  SetWritable(0x3C, 1, true);  // interrupt line
  SetWritable(0x40, kConfigSize - 0x40, true);
}

u32 TPciFunction::Peek(u16 offset, TAccessWidth width) const {
  u32 value = 0;
  for (unsigned i = 0; i < width; ++i) {
    const unsigned at = offset + i;
    const u32 byte = at < kConfigSize ? Space[at] : 0xFF;
    value |= byte << (8 * i);
  }
  return value;
}

void TPciFunction::Poke(u16 offset, TAccessWidth width, u32 value) {
  for (unsigned i = 0; i < width && offset + i < kConfigSize; ++i) {
    Space[offset + i] = static_cast<u8>(value >> (8 * i));
  }
}

void TPciFunction::SetWritable(u16 offset, u16 count, bool writable) {
  for (unsigned i = offset; i < offset + count && i < kConfigSize; ++i) WriteMask[i] = writable ? 0xFF : 0x00;
}

u32 TPciFunction::ReadConfig(u16 offset, TAccessWidth width) { return Peek(offset, width); }

void TPciFunction::WriteConfig(u16 offset, TAccessWidth width, u32 value) {
  for (unsigned i = 0; i < width && offset + i < kConfigSize; ++i) {
    const u8 mask = WriteMask[offset + i];
    const u8 byte = static_cast<u8>(value >> (8 * i));
    Space[offset + i] = static_cast<u8>((Space[offset + i] & ~mask) | (byte & mask));
  }
}

}  // namespace lirrin::sim
