#include "hw/firmware.h"

namespace lirrin {

u64 FindChecksummedStructure(TReadWrite& io, const TChecksummedStructure& structure, u64 from, u32 size,
                             std::span<u8> bytes, TOccurrences occurrences) {
  // Each further occurrence is looked for after the last one, not from the
  // start of the range again.
  const u32 step = structure.Alignment == 0 ? 1 : structure.Alignment;
  u64 at = from;
  u32 left = size;
  for (;;) {
    const u64 found =
        io.FindMem(left, step, at, 0, structure.Mark.data(), static_cast<u32>(structure.Mark.size()));
    if (!MemFound(found)) return kMemNotFound;
    if (io.ReadMemBlock(bytes.data(), static_cast<u32>(bytes.size()), found) &&
        ByteSum(bytes.first(structure.SummedBytes)) == 0) {
      return found;
    }
    if (occurrences == TOccurrences::FirstOnly || found + step - at >= left) return kMemNotFound;
    left -= static_cast<u32>(found + step - at);
    at = found + step;
  }
}

}  // namespace lirrin
