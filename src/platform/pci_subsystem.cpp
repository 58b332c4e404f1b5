#include "platform/pci_subsystem.h"

#include <algorithm>

namespace lirrin {

bool HasSubsystemVendor(TReadWrite& io, std::span<const u16> vendors) {
  bool found = false;
  io.ScanPciFunctions(
      [&](u8 bus, u8 device, u8 function) {
        // An absent function reads FFFFh here, which no list holds.
        const u16 vendor = io.ReadPciWord(bus, device, function, 0x2C);
        found = std::find(vendors.begin(), vendors.end(), vendor) != vendors.end();
        return !found;
      },
      TReadWrite::TEmptySlot::AllOnes);
  return found;
}

}  // namespace lirrin
