#pragma once
// The scan by which the platform check looks for the board maker's PCI
// functions.

#include <span>

#include "hw/read_write.h"

namespace lirrin {

// Whether a PCI function carries one of `vendors` as its subsystem vendor ID
// (configuration offset 2Ch). Buses 0 to 255, devices 0 to 31; a device is
// absent only when function 0 reads FFFFFFFFh at offset 0 (a device ID/vendor
// of 0 still counts); functions 1 to 7 are read, without a presence test, only
// when bit 7 of the header type (0Eh) of function 0 is set. The scan stops at
// the first match.
bool HasSubsystemVendor(TReadWrite& io, std::span<const u16> vendors);

}  // namespace lirrin
