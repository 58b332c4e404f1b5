#include "support/os_version.h"

namespace lirrin {

u32 ClassifyOsFamily(const TVersionRecord& version, u16 architecture) {
  u32 family = 0;
  if (version.PlatformId == kPlatformWin9x && version.Major == 4) {
    family = kFamilyWin9x;
  } else if (version.PlatformId == kPlatformNt && version.Major == 5) {
    family = kFamilyNt5;
  } else if (version.PlatformId == kPlatformNt && version.Major == 6) {
    switch (version.Minor) {
      case 0: family = kFamilyVista; break;
      case 1: family = kFamilyWin7; break;
      case 2: family = kFamilyWin8; break;
      case 3: family = kFamilyWin81; break;
      default: break;
    }
  }
  // The bitness bits follow the major version alone, so an unclassified NT 10
  // on x64 still reports bit 0.
  if (version.Major >= 5) {
    if (architecture == kArchitectureAmd64) family |= kFamilyX64Bit;
    if (architecture == kArchitectureIa64) family |= kFamilyIa64Bit;
  }
  return family;
}

TOsVersion* TOsVersion::Instance() {
  static TOsVersion* const instance = new TOsVersion();
  return instance;
}

TOsVersion::TOsVersion() {
  TVersionRecord version;
  u16 architecture = kArchitectureX86;
  u32 processors = 0;
  if (!QuerySystemVersion(version, architecture, processors)) return;
  Processors = processors;
  FlagWord = ClassifyOsFamily(version, architecture);
}

TOsVersion::TOsVersion(const TVersionRecord& version, u16 architecture, u32 processorCount)
    : FlagWord(ClassifyOsFamily(version, architecture)), Processors(processorCount) {}

bool TOsVersion::IsNative() const { return QueryIsNativeProcess(); }

}  // namespace lirrin
