#pragma once
// Classification of the running Windows system into the family word that the
// driver loader, the I/O transport and the logon start compare against.
//
// Family values (bits 4..9): 16 for the 95/98/Me family, 32 for NT 5.x,
// 64, 192, 448, 704 for NT 6.0 to 6.3, 0 for anything else. Bit 0 marks an
// x64 system and bit 1 an Itanium system (NT 5.0 and later only).

#include "support/types.h"

namespace lirrin {

// The parts of the system's extended version record that the family uses.
struct TVersionRecord {
  u32 Major = 0;
  u32 Minor = 0;
  u32 PlatformId = 0;  // 1 = 9x, 2 = NT
};

enum : u32 {
  kPlatformWin9x = 1,
  kPlatformNt = 2,
};

// Native processor architecture codes as the system reports them.
enum : u16 {
  kArchitectureX86 = 0,
  kArchitectureIa64 = 6,
  kArchitectureAmd64 = 9,
};

enum : u32 {
  kFamilyWin9x = 16,
  kFamilyNt5 = 32,
  kFamilyVista = 64,
  kFamilyWin7 = 192,
  kFamilyWin8 = 448,
  kFamilyWin81 = 704,
  kFamilyX64Bit = 1,
  kFamilyIa64Bit = 2,
};

// Pure classification: version record and native architecture in, flag word out.
u32 ClassifyOsFamily(const TVersionRecord& version, u16 architecture);

class TOsVersion {
 public:
  // The shared instance, created on first use and never destroyed.
  static TOsVersion* Instance();

  // Queries the running system once.
  TOsVersion();
  // A classification of given facts (tests, and systems described by a model).
  TOsVersion(const TVersionRecord& version, u16 architecture, u32 processorCount);

  u32 Family(u32 mask) const { return FlagWord & mask; }
  u32 ProcessorCount() const { return Processors; }
  // False when the process runs under the 32-bit emulation of a 64-bit system;
  // asked anew at each call.
  bool IsNative() const;
  bool IsX64() const { return (FlagWord & kFamilyX64Bit) != 0; }
  bool IsIA64() const { return (FlagWord & kFamilyIa64Bit) != 0; }

 private:
  u32 FlagWord = 0;
  u32 Processors = 0;
};

// Platform query (os_version_win.cpp / os_version_posix.cpp): false when the
// system refuses to give its version record.
bool QuerySystemVersion(TVersionRecord& version, u16& architecture, u32& processorCount);
bool QueryIsNativeProcess();

}  // namespace lirrin
