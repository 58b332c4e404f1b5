#pragma once
// TNvkBiosInfo: the board maker's board information block. The maker's
// firmware puts a 64-byte block behind the marker "$CN1368$" in the legacy
// firmware area (E0000h..FFFFFh); a block is valid when its bytes sum to 0
// (mod 256). The block gives the board's model name and the firmware's
// version and date.
//
// Block layout (little-endian): 0 marker (8), 8 not interpreted (2),
// 10 model name (up to 32 bytes, ends at the first zero byte), 42 version
// letter, 43 major, 44 minor, 45 suffix character ('0': none), 46 year (16
// bits), 48 month, 49 day, 50 not interpreted (14).

#include <array>

#include "hw/firmware.h"
#include "hw/read_write.h"
#include "support/text.h"

namespace lirrin {

class TNvkBiosInfo {
 public:
  static constexpr u32 kBlockSize = kBoardInfoSize;

  // The one reader, built (and so the search run) on the first call.
  static TNvkBiosInfo* Instance();
  static void FreeInstance();

  TNvkBiosInfo();
  TNvkBiosInfo(const TNvkBiosInfo&) = delete;
  TNvkBiosInfo& operator=(const TNvkBiosInfo&) = delete;

  // A PCI function carries the maker's first subsystem vendor ID; only then
  // is the block searched.
  bool MakerDevicePresent() const { return MakerDevice; }
  bool BlockValid() const { return Valid; }
  // The valid block, or the last candidate read.
  const std::array<u8, kBlockSize>& Block() const { return Bytes; }

  // All empty unless the block is valid.
  const TText& RawModelName() const { return RawModel; }
  const TText& ModelName() const { return Model; }  // without trailing dots
  const TText& Version() const { return VersionText; }  // "V2.07", "V2.07B"
  const TText& Date() const { return DateText; }  // "2012/07/09"

 private:
  bool FindBlock();
  void ReadFields();

  bool MakerDevice = false;
  bool Valid = false;
  std::array<u8, kBlockSize> Bytes{};
  TText RawModel;
  TText Model;
  TText VersionText;
  TText DateText;
  TReadWrite* ReadWrite;
};

}  // namespace lirrin
