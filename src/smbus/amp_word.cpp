#include "smbus/amp_word.h"

#include "smbus/smbus.h"

namespace lirrin::amp {

bool ReadWord(TSMBus& smbus, u16& word) {
  u8 bytes[2] = {};
  if (!smbus.ReadWords(kAddress, bytes, kCommand, 1)) return false;
  word = static_cast<u16>(bytes[0] | bytes[1] << 8);
  return true;
}

bool WriteWord(TSMBus& smbus, u16 word) {
  const u8 bytes[2] = {static_cast<u8>(word), static_cast<u8>(word >> 8)};
  return smbus.WriteWords(kAddress, kCommand, bytes, 1);
}

}  // namespace lirrin::amp
