#include "platform/pci_subsystem.h"

#include <algorithm>

namespace lirrin {

bool HasSubsystemVendor(TReadWrite& io, std::span<const u16> vendors) {
  for (unsigned bus = 0; bus <= 255; ++bus) {
    const u8 b = static_cast<u8>(bus);
    for (u8 device = 0; device <= 31; ++device) {
      if (io.ReadPciDword(b, device, 0, 0x00) == 0xFFFFFFFF) continue;
      const u8 functions = (io.ReadPciByte(b, device, 0, 0x0E) & 0x80) != 0 ? 8 : 1;
      for (u8 function = 0; function < functions; ++function) {
        // An absent function reads FFFFh here, which no list holds.
        const u16 vendor = io.ReadPciWord(b, device, function, 0x2C);
        if (std::find(vendors.begin(), vendors.end(), vendor) != vendors.end()) return true;
      }
    }
  }
  return false;
}

}  // namespace lirrin
