#pragma once
// Finding and reading firmware structures: the memory search result,
// little-endian fields and the 8-bit byte sum by which the firmware marks a
// structure valid (sum 0).

#include <numeric>
#include <span>

#include "support/types.h"

namespace lirrin {

// FindMem's not-found result: callers look only at its low 32 bits.
inline bool MemFound(u64 address) { return static_cast<u32>(address) != 0xFFFFFFFFu; }

inline u8 ByteSum(std::span<const u8> bytes) {
  return std::accumulate(bytes.begin(), bytes.end(), u8{0},
                         [](u8 total, u8 byte) { return static_cast<u8>(total + byte); });
}

inline u16 Le16(const u8* bytes) { return static_cast<u16>(bytes[0] | bytes[1] << 8); }

inline u32 Le32(const u8* bytes) { return Le16(bytes) | u32{Le16(bytes + 2)} << 16; }

}  // namespace lirrin
