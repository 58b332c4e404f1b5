#include "hw/firmware.h"

namespace lirrin {

u64 FindChecksummedStructure(TReadWrite& io, const TChecksummedStructure& structure, u64 from, u32 size,
                             std::span<u8> bytes, TOccurrences occurrences) {
  for (u32 index = 0;; ++index) {
    const u64 found = io.FindMem(size, structure.Alignment, from, index, structure.Mark.data(),
                                 static_cast<u32>(structure.Mark.size()));
    if (!MemFound(found)) return kMemNotFound;
    if (io.ReadMemBlock(bytes.data(), static_cast<u32>(bytes.size()), found) &&
        ByteSum(bytes.first(structure.SummedBytes)) == 0) {
      return found;
    }
    if (occurrences == TOccurrences::FirstOnly) return kMemNotFound;
  }
}

}  // namespace lirrin
