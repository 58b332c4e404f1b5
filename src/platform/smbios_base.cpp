#include "platform/smbios_base.h"

#include <array>
#include <string_view>

#include "platform/firmware_bytes.h"
#include "support/singletons.h"

namespace lirrin {

namespace {

TSmbiosBase* instance = nullptr;

constexpr std::string_view kAnchor = "_SM_";
constexpr u64 kAreaBase = 0xE0000;
constexpr u32 kAreaSize = 0x20000;
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
  for (u32 index = 0; !EntryFound; ++index) {
    const u64 found =
        ReadWrite->FindMem(kAreaSize, 1, kAreaBase, index, kAnchor.data(), static_cast<u32>(kAnchor.size()));
    if (!MemFound(found)) return;
    if (!ReadWrite->ReadMemBlock(entry.data(), kEntrySize, found)) continue;
    EntryFound = ByteSum(entry) == 0;
  }
  VersionCode = static_cast<u8>(entry[6] * 16 + entry[7]);
  Length = Le16(&entry[0x16]);
  Address = Le32(&entry[0x18]);
  Copy.resize(Length);
  if (!ReadWrite->ReadMemBlock(Copy.data(), Length, Address)) Copy.clear();
}

}  // namespace lirrin
