#include "platform/smbios_base.h"

#include <array>
#include <string_view>

#include "hw/firmware.h"
#include "support/singletons.h"

namespace lirrin {

namespace {

TSmbiosBase* instance = nullptr;

constexpr u32 kEntrySize = 31;

}  // namespace

TSmbiosBase* TSmbiosBase::Instance() {
  if (instance == nullptr) {
    instance = new TSmbiosBase();
    EnlistSingleton(&TSmbiosBase::FreeInstance);
  }
  return instance;
}

void TSmbiosBase::FreeInstance() {
  delete instance;
  instance = nullptr;
}

// The anchor text also occurs in firmware code and strings, so each
// occurrence is tried until one has a valid checksum.
TSmbiosBase::TSmbiosBase() {
  std::array<u8, kEntrySize> entry{};
  const TChecksummedStructure entryPoint{kSmbiosAnchor, 1, kEntrySize};
  EntryFound = MemFound(FindChecksummedStructure(*ReadWrite, entryPoint, kFirmwareAreaBase, kFirmwareAreaSize, entry));
  if (!EntryFound) return;
  VersionCode = static_cast<u8>(entry[6] * 16 + entry[7]);
  Length = Le16(&entry[0x16]);
  Address = Le32(&entry[0x18]);
  Copy.resize(Length);
  if (!ReadWrite->ReadMemBlock(Copy.data(), Length, Address)) Copy.clear();
}

}  // namespace lirrin
