#include "platform/acpi_base.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "hw/firmware.h"
#include "support/singletons.h"
#include "support/text.h"

namespace lirrin {

namespace {

TAcpiBase* instance = nullptr;

// RSDP: checksum over the first 20 bytes (the ACPI 1.0 structure), revision
// at 15, RSDT address at 16, length of the whole structure at 20 (revision 2
// and later, which extend it to 36 bytes).
constexpr u32 kRsdpReadSize = 36;
constexpr u32 kRsdpV1Size = 20;

constexpr u32 kHeaderSize = 36;

constexpr TChecksummedStructure kRsdp{kRsdpSignature, kRsdpAlignment, kRsdpV1Size};

}  // namespace

TAcpiBase* TAcpiBase::Instance() {
  if (instance == nullptr) {
    instance = new TAcpiBase();
    EnlistSingleton(&TAcpiBase::FreeInstance);
  }
  return instance;
}

void TAcpiBase::FreeInstance() {
  delete instance;
  instance = nullptr;
}

TAcpiBase::TAcpiBase() {
  Root = FindRootInMemory() || FindRootInRegistry();
  if (Root) BuildAcpiTable();
}

// Only the first occurrence counts: a copy with a bad checksum means the
// firmware area is not to be trusted, not that another copy is.
bool TAcpiBase::FindRootInMemory() { return AddRootFrom(kFirmwareAreaBase); }

// Windows keeps a copy of the root table in the registry. Its first table
// pointer leads near the firmware's tables; the RSDP is looked for in the
// 128 KiB from 64 KiB below it. Without a usable RSDP the root still counts
// as found, with a placeholder entry and nothing to walk.
bool TAcpiBase::FindRootInRegistry() {
  std::vector<u8> data;
  if (!ReadRegistryRootTable(data)) return false;
  if (data.size() < 4 || (std::memcmp(data.data(), "RSDT", 4) != 0 && std::memcmp(data.data(), "XSDT", 4) != 0)) {
    return false;
  }
  if (data.size() >= kHeaderSize + 4) {
    const u32 from = (Le32(&data[kHeaderSize]) - 0x10000u) & ~0xFFu;
    if (AddRootFrom(from)) return true;
  }
  Entries.push_back({0, static_cast<u32>(data.size()), {}});
  return true;
}

// The RSDP's search runs over the size of the firmware area from `from`.
bool TAcpiBase::AddRootFrom(u64 from) {
  std::array<u8, kRsdpReadSize> rsdp{};
  const u64 rsdpAddress =
      FindChecksummedStructure(*ReadWrite, kRsdp, from, kFirmwareAreaSize, rsdp, TOccurrences::FirstOnly);
  if (!MemFound(rsdpAddress)) return false;
  Entries.push_back({static_cast<u32>(rsdpAddress), rsdp[15] == 0 ? kRsdpV1Size : Le32(&rsdp[20]), {}});
  // The XSDT of later revisions lists the same tables with 64-bit pointers;
  // the walk takes them from the RSDT.
  Append(Le32(&rsdp[16]));
  return true;
}

void TAcpiBase::Append(u32 address) {
  if (Entries.size() < kMaxTables) Entries.push_back({address, 0, {}});
}

// Handlers append entries, so the end of the list is looked at anew after
// every table.
void TAcpiBase::BuildAcpiTable() {
  struct THandled {
    std::string_view Signature;
    THandler Handler;
  };
  static constexpr THandled kHandlers[] = {
      {"RSDT", &TAcpiBase::BuildRSDT},
      {"FACP", &TAcpiBase::BuildFACP},
      {"MCFG", &TAcpiBase::BuildMCFG},
  };
  for (std::size_t i = 1; i < Entries.size(); ++i) {
    const u32 address = Entries[i].Address;
    std::array<u8, kHeaderSize> header;
    // Memory that cannot be read reads as all ones, as in the I/O layer.
    if (!ReadWrite->ReadMemBlock(header.data(), kHeaderSize, address)) header.fill(0xFF);
    const std::string signature(header.begin(), header.begin() + 4);
    const u32 length = Le32(&header[4]);
    Entries[i].Signature = signature;
    Entries[i].Length = length;
    Console->LogW(u"BuildAcpiTable", u"Table = " + Widen(signature), kColorRed);

    const auto handled = std::find_if(std::begin(kHandlers), std::end(kHandlers),
                                      [&](const THandled& h) { return h.Signature == signature; });
    if (handled == std::end(kHandlers)) continue;
    std::vector<u8> table(std::min(length, kMaxTableLength));
    // A table that cannot be read whole has nothing to hand on.
    if (!ReadWrite->ReadMemBlock(table.data(), static_cast<u32>(table.size()), address)) continue;
    (this->*handled->Handler)(table);
  }
}

// RSDT: 32-bit table pointers from offset 36 to the end of the table.
void TAcpiBase::BuildRSDT(std::span<const u8> table) {
  for (std::size_t at = kHeaderSize; at + 4 <= table.size(); at += 4) {
    const u32 pointer = Le32(&table[at]);
    if (pointer != 0) Append(pointer);
  }
}

// FADT: FIRMWARE_CTRL (the FACS) at 36, DSDT at 40.
void TAcpiBase::BuildFACP(std::span<const u8> table) {
  if (table.size() >= 44) {
    Dsdt = Le32(&table[40]);
    char text[32];
    std::snprintf(text, sizeof text, "DsdtAddress = 0x%08X", static_cast<unsigned>(Dsdt));
    Console->LogW(u"TAcpiBase::BuildFACP", Widen(text), kColorGreen);
  }
  if (table.size() >= 40) Append(Le32(&table[36]));
  if (table.size() >= 44) Append(Dsdt);
}

// MCFG: 8 reserved bytes after the header, then 16-byte allocations whose
// first field is the 64-bit ECAM base; the configuration space lies below
// 4 GiB on every board the program supports, so the low half is the base.
void TAcpiBase::BuildMCFG(std::span<const u8> table) {
  constexpr std::size_t kFirstAllocation = kHeaderSize + 8;
  if (table.size() >= kFirstAllocation + 16) Pcie = Le32(&table[kFirstAllocation]);
}

}  // namespace lirrin
