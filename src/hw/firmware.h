#pragma once
// What a PC's firmware leaves in physical memory and how it is found: the
// legacy firmware area, the marks that begin each structure, the 8-bit byte
// sum by which the firmware marks a structure valid (sum 0), and
// little-endian fields. The firmware readers look for the structures with
// these, and the simulated boards' firmware builds them with the same ones.

#include <numeric>
#include <span>
#include <string_view>

#include "hw/read_write.h"
#include "support/types.h"

namespace lirrin {

// The legacy firmware area, E0000h..FFFFFh.
constexpr u64 kFirmwareAreaBase = 0xE0000;
constexpr u32 kFirmwareAreaSize = 0x20000;

// The board maker's board information block: 64 bytes behind the marker.
constexpr std::string_view kBoardInfoMarker = "$CN1368$";
constexpr u32 kBoardInfoSize = 64;
// The SMBIOS 2.x entry point and the legacy part inside it.
constexpr std::string_view kSmbiosAnchor = "_SM_";
constexpr std::string_view kSmbiosLegacyAnchor = "_DMI_";
// The ACPI root pointer, on a 16-byte boundary.
constexpr std::string_view kRsdpSignature = "RSD PTR ";
constexpr u32 kRsdpAlignment = 16;

// FindMem's not-found result: callers look only at its low 32 bits.
inline bool MemFound(u64 address) { return static_cast<u32>(address) != 0xFFFFFFFFu; }

inline u8 ByteSum(std::span<const u8> bytes) {
  return std::accumulate(bytes.begin(), bytes.end(), u8{0},
                         [](u8 total, u8 byte) { return static_cast<u8>(total + byte); });
}

inline u16 Le16(const u8* bytes) { return static_cast<u16>(bytes[0] | bytes[1] << 8); }

inline u32 Le32(const u8* bytes) { return Le16(bytes) | u32{Le16(bytes + 2)} << 16; }

// A structure that begins with a mark and is valid when the byte sum of its
// first `SummedBytes` bytes is 0.
struct TChecksummedStructure {
  std::string_view Mark;
  u32 Alignment = 1;  // the step at which it may lie
  u32 SummedBytes = 0;
};

// Which occurrences of the mark may hold the structure: any (a mark that
// also occurs in firmware code and strings, or stale copies), or only the
// first (a bad first copy means the area is not to be trusted).
enum class TOccurrences { Any, FirstOnly };

// Looks for the structure in [from, from + size), reading `bytes.size()`
// bytes at each occurrence of its mark until they are readable and sum to 0.
// Returns its address with `bytes` holding it, or kMemNotFound.
u64 FindChecksummedStructure(TReadWrite& io, const TChecksummedStructure& structure, u64 from, u32 size,
                             std::span<u8> bytes, TOccurrences occurrences = TOccurrences::Any);

}  // namespace lirrin
