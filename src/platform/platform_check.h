#pragma once
// TNvkSpec: platform identification. The utility is meant only for the board
// maker's own boards: a supported board has the board information block's
// marker in its firmware area and a PCI function that carries one of the
// subsystem vendor IDs of kSupportedSubsystemVendors. Building the object
// also reads the SMBIOS entry point and the ACPI tables and hands the ACPI
// MCFG base to the I/O layer's PcieBase.

#include "hw/read_write.h"
#include "platform/acpi_base.h"
#include "platform/smbios_base.h"
#include "support/text.h"

namespace lirrin {

// The first half of the check: the board information block's marker in the
// firmware area.
bool HasBoardInfoMarker(TReadWrite& io);

class TNvkSpec {
 public:
  // The one object, built (and so the check run) on the first call.
  static TNvkSpec* Instance();
  // Also releases the firmware readers the object obtained.
  static void FreeInstance();

  TNvkSpec();
  virtual ~TNvkSpec();
  TNvkSpec(const TNvkSpec&) = delete;
  TNvkSpec& operator=(const TNvkSpec&) = delete;

  bool IsSupported() const { return Verdict; }
  // The board information block's model name; empty without a valid block.
  const TText& ModelName() const { return Model; }

 private:
  TReadWrite* ReadWrite;
  TSmbiosBase* Smbios;
  TAcpiBase* Acpi = nullptr;
  TText Model;
  bool Verdict = false;
};

}  // namespace lirrin
