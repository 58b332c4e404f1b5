#pragma once
// A PCI function's configuration space (4 KiB, little-endian) with a per-byte
// write mask, as the silicon decodes it: identity, class and subsystem
// registers are read-only; the command register, a few header bytes and the
// device-specific area from 40h up take what is written. Chipset models
// derive from it to give registers behaviour.

#include <array>

#include "hw/transport.h"
#include "support/types.h"

namespace lirrin::sim {

class TPciFunction {
 public:
  static constexpr u16 kConfigSize = 0x1000;

  TPciFunction(u32 id, u32 classCode, u8 revision, u8 headerType, u32 subsystem);
  virtual ~TPciFunction() = default;

  // Accesses from the configuration mechanisms. Reads past the end of the
  // space return all ones; writes there are dropped.
  virtual u32 ReadConfig(u16 offset, TAccessWidth width);
  virtual void WriteConfig(u16 offset, TAccessWidth width, u32 value);

  // Raw access for board descriptions and tests: no masks, no side effects.
  u32 Peek(u16 offset, TAccessWidth width) const;
  void Poke(u16 offset, TAccessWidth width, u32 value);
  // Marks bytes [offset, offset + count) writable (or read-only) for the
  // configuration mechanisms.
  void SetWritable(u16 offset, u16 count, bool writable);

  u32 Id() const { return Peek(0x00, 4); }
  u32 ClassCode() const { return Peek(0x08, 4) >> 8; }
  u32 Subsystem() const { return Peek(0x2C, 4); }

 private:
  std::array<u8, kConfigSize> Space{};
  std::array<u8, kConfigSize> WriteMask{};
};

}  // namespace lirrin::sim
