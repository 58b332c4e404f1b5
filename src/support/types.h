#pragma once
// Fixed-width integer names used across the code base. Hardware registers are
// described by width, so the short names keep register tables readable.

#include <cstdint>

namespace lirrin {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using u32 = std::uint32_t;
using u64 = std::uint64_t;
using i32 = std::int32_t;

}  // namespace lirrin
