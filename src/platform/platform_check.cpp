#include "platform/platform_check.h"

#include <string_view>

#include "hw/firmware.h"
#include "platform/nvk_bios_info.h"
#include "platform/pci_subsystem.h"
#include "support/board_maker.h"
#include "support/debug_console.h"
#include "support/singletons.h"

namespace lirrin {

namespace {

TNvkSpec* instance = nullptr;

// One byte short of the firmware area; the last position at which a 64-byte
// block can begin lies far below either end.
constexpr u32 kCheckAreaSize = 0x1FFFF;

}  // namespace

TNvkSpec* TNvkSpec::Instance() {
  if (instance == nullptr) {
    instance = new TNvkSpec();
    EnlistSingleton(&TNvkSpec::FreeInstance);
  }
  return instance;
}

void TNvkSpec::FreeInstance() {
  delete instance;
  instance = nullptr;
}

TNvkSpec::TNvkSpec() : ReadWrite(TReadWrite::Instance()), Smbios(TSmbiosBase::Instance()) {
  Model = TNvkBiosInfo::Instance()->ModelName();
  // Without the marker no PCI function is read.
  Verdict = HasBoardInfoMarker(*ReadWrite) && HasSubsystemVendor(*ReadWrite, kSupportedSubsystemVendors);
  Acpi = TAcpiBase::Instance();
  Acpi->HandPcieBaseToIo();
  TDebugConsole::Instance(false)->LogW(u"Model Name", Model, kColorYellow);
}

TNvkSpec::~TNvkSpec() {
  TAcpiBase::FreeInstance();
  TNvkBiosInfo::FreeInstance();
  TSmbiosBase::FreeInstance();
}

// The marker alone decides nothing about the block behind it (the board
// information reader validates that).
bool HasBoardInfoMarker(TReadWrite& io) {
  return MemFound(io.FindMem(kCheckAreaSize, 1, kFirmwareAreaBase, 0, kBoardInfoMarker.data(),
                             static_cast<u32>(kBoardInfoMarker.size())));
}

}  // namespace lirrin
