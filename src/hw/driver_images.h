#pragma once
// The kernel driver images the program carries: the legacy dynamic driver
// of the 95/98/Me family and the NT-family driver for x86, Itanium and x64.
// They are byte arrays generated at build time from the driver binaries and
// written to disk byte for byte, never parsed or patched. An image that was
// not built into the program is {nullptr, 0}.

#include <cstdint>

namespace lirrin {

struct TDriverImageBytes {
  const unsigned char* Bytes;
  uint32_t Size;
};

TDriverImageBytes LegacyDriverImage();
TDriverImageBytes X86DriverImage();
TDriverImageBytes IA64DriverImage();
TDriverImageBytes X64DriverImage();

}  // namespace lirrin
