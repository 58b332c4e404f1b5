#include "platform/nvk_bios_info.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "platform/ansi_text.h"
#include "platform/pci_subsystem.h"
#include "support/board_maker.h"
#include "support/singletons.h"

namespace lirrin {

namespace {

TNvkBiosInfo* instance = nullptr;


constexpr std::size_t kModelOffset = 10;
constexpr std::size_t kModelSize = 32;

}  // namespace

TNvkBiosInfo* TNvkBiosInfo::Instance() {
  if (instance == nullptr) {
    instance = new TNvkBiosInfo();
    EnlistSingleton(&TNvkBiosInfo::FreeInstance);
  }
  return instance;
}

void TNvkBiosInfo::FreeInstance() {
  delete instance;
  instance = nullptr;
}

TNvkBiosInfo::TNvkBiosInfo() : ReadWrite(TReadWrite::Instance()) {
  const u16 makerVendor[] = {kBoardMakerSubsystemVendor};
  MakerDevice = HasSubsystemVendor(*ReadWrite, makerVendor);
  if (!MakerDevice) return;
  Valid = FindBlock();
  if (Valid) ReadFields();
}

// Firmware updates can leave older copies of the block behind that no longer
// sum to 0, so every occurrence of the marker is tried until one is valid.
bool TNvkBiosInfo::FindBlock() {
  const TChecksummedStructure block{kBoardInfoMarker, 1, kBlockSize};
  return MemFound(FindChecksummedStructure(*ReadWrite, block, kFirmwareAreaBase, kFirmwareAreaSize, Bytes));
}

void TNvkBiosInfo::ReadFields() {
  // A name that fills its 32 bytes has no zero byte; it ends with the field
  // rather than running into the version bytes.
  const char* field = reinterpret_cast<const char*>(Bytes.data() + kModelOffset);
  const std::string_view name(field, std::find(field, field + kModelSize, '\0') - field);
  RawModel = FromAnsi(name);
  Model = RawModel;
  while (!Model.empty() && Model.back() == u'.') Model.pop_back();

  const char letter = static_cast<char>(Bytes[42]);
  const char suffix = static_cast<char>(Bytes[45]);
  char text[16];
  if (suffix == '0') {
    std::snprintf(text, sizeof text, "%c%d.%02d", letter, Bytes[43], Bytes[44]);
  } else {
    std::snprintf(text, sizeof text, "%c%d.%02d%c", letter, Bytes[43], Bytes[44], suffix);
  }
  VersionText = FromAnsi(text);

  std::snprintf(text, sizeof text, "%d/%02d/%02d", Le16(&Bytes[46]), Bytes[48], Bytes[49]);
  DateText = FromAnsi(text);
}

}  // namespace lirrin
