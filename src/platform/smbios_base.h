#pragma once
// TSmbiosBase: the SMBIOS entry point and a copy of the structure table it
// points to. The 31-byte entry point ("_SM_") lies in the legacy firmware
// area (E0000h..FFFFFh); it is valid when its bytes sum to 0 (mod 256).
// Entry point fields used: 06h major and 07h minor version, 16h table length
// (16 bits), 18h table address (32 bits).

#include <vector>

#include "hw/io_object.h"

namespace lirrin {

class TSmbiosBase : public TIoObject {
 public:
  static TSmbiosBase* Instance();
  static void FreeInstance();

  TSmbiosBase();

  bool Found() const { return EntryFound; }
  u16 TableLength() const { return Length; }
  u32 TableAddress() const { return Address; }
  // Major version * 16 + minor version: 0x24 for SMBIOS 2.4.
  u8 Version() const { return VersionCode; }
  // The structure table as read from memory; empty when it could not be read.
  const std::vector<u8>& Table() const { return Copy; }

 private:
  bool EntryFound = false;
  u16 Length = 0;
  u32 Address = 0;
  u8 VersionCode = 0;
  std::vector<u8> Copy;
};

}  // namespace lirrin
