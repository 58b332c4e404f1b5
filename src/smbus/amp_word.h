#pragma once
// The headphone amplifier's register word. The amplifier is a slave on the
// board's SMBus at the 8-bit address 4Ah (7-bit 25h); its one register of
// interest, command 2, holds 16 bits:
//
//   bits 0..5   volume of the channel in the low byte, 0 (quietest) to 63
//   bit  7      mute of that channel, 1 = muted
//   bits 8..13  volume of the channel in the high byte
//   bit  15     mute of that channel
//   bits 6, 14  unused; a volume write clears them, the mute toggle keeps them
//
// Both channels are always set alike, and what the user sees comes from the
// high byte alone. The program, lirrin-cli and the simulated amplifier all
// take the layout from here; the word transactions are in amp_word.cpp.

#include "support/types.h"

namespace lirrin {

class TSMBus;

namespace amp {

constexpr u8 kAddress = 0x4A;             // 8-bit form; the engine adds the read bit
constexpr u8 kSlaveAddress = kAddress >> 1;  // 7-bit form, as the slave decodes it
constexpr u8 kCommand = 2;
constexpr u32 kMaxVolume = 63;
constexpr u16 kMuteBits = 0x8080;

// Volume v in both channels, neither muted. Volumes above 63 are cut to 63
// rather than spilling into the mute and neighbouring channel bits.
constexpr u16 WordForVolume(u32 volume) {
  const u32 v = volume > kMaxVolume ? kMaxVolume : volume;
  return static_cast<u16>(v * 257);
}
constexpr u16 Muted(u16 word) { return static_cast<u16>(word | kMuteBits); }
constexpr u16 Unmuted(u16 word) { return static_cast<u16>(word & ~kMuteBits); }
constexpr u32 Volume(u16 word) { return (word >> 8) & 0x3F; }
constexpr bool IsMuted(u16 word) { return (word & 0x8000) != 0; }
// What the mute button does: unmute a muted word, mute any other.
constexpr u16 MuteToggled(u16 word) { return IsMuted(word) ? Unmuted(word) : Muted(word); }

// One word from or to the amplifier's register through the SMBus engine
// (one SMBus word, low byte first on the bus). A failed read leaves `word`
// untouched.
bool ReadWord(TSMBus& smbus, u16& word);
bool WriteWord(TSMBus& smbus, u16 word);

}  // namespace amp
}  // namespace lirrin
