#pragma once
// A 64-bit millisecond tick built from the 32-bit one, which wraps every
// 49.7 days: each reading that is lower than the previous one's low half
// has crossed a wrap.

#include "support/types.h"

namespace lirrin {

constexpr u64 ExtendTickCount(u32 now, u64 previous) {
  const u64 wraps = (previous >> 32) + (now < static_cast<u32>(previous) ? 1 : 0);
  return (wraps << 32) | now;
}

}  // namespace lirrin
