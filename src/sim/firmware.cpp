#include "sim/firmware.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "support/board_maker.h"

namespace lirrin::sim {

namespace {

constexpr u64 k4GiB = 0x100000000ull;
constexpr u64 kAcpiAreaSize = 0x10000;
constexpr u64 kPageSize = 0x1000;

void Put16(std::vector<u8>& bytes, std::size_t at, u16 value) {
  bytes[at] = static_cast<u8>(value);
  bytes[at + 1] = static_cast<u8>(value >> 8);
}

void Put32(std::vector<u8>& bytes, std::size_t at, u32 value) {
  Put16(bytes, at, static_cast<u16>(value));
  Put16(bytes, at + 2, static_cast<u16>(value >> 16));
}

void Put64(std::vector<u8>& bytes, std::size_t at, u64 value) {
  Put32(bytes, at, static_cast<u32>(value));
  Put32(bytes, at + 4, static_cast<u32>(value >> 32));
}

void PutText(std::vector<u8>& bytes, std::size_t at, std::string_view text) {
  std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// --- Board information block -----------------------------------------------
// 0 marker "$CN1368$", 10 model name (zero-terminated when shorter than 32
// bytes), 42 version letter, major, minor, suffix, 46 year, 48 month, day.
// Bytes 8..9 and 50..62 are not interpreted by the maker's tools; the
// firmware keeps the checksum in byte 63.

// --- SMBIOS 2.4 --------------------------------------------------------------

// One structure: the formatted area, then its strings, each zero-terminated,
// and a second zero byte ending the set.
std::vector<u8> SmbiosStructure(u8 type, u16 handle, const std::vector<u8>& formatted,
                                const std::vector<std::string>& strings) {
  std::vector<u8> structure(4 + formatted.size());
  structure[0] = type;
  structure[1] = static_cast<u8>(structure.size());
  Put16(structure, 2, handle);
  std::copy(formatted.begin(), formatted.end(), structure.begin() + 4);
  for (const std::string& text : strings) {
    structure.insert(structure.end(), text.begin(), text.end());
    structure.push_back(0);
  }
  if (strings.empty()) structure.push_back(0);
  structure.push_back(0);
  return structure;
}

std::vector<u8> SmbiosTable(const TBoardInfo& info, u16& structures, u16& largest) {
  char version[16];
  std::snprintf(version, sizeof version, info.Suffix == '0' ? "%c%d.%02d" : "%c%d.%02d%c", info.VersionLetter,
                info.Major, info.Minor, info.Suffix);
  char date[16];
  std::snprintf(date, sizeof date, "%02d/%02d/%04d", info.Month % 100, info.Day % 100, info.Year % 10000);

  // BIOS information: vendor, version, segment E000h, date, 1 MiB ROM,
  // characteristics (PCI, BIOS upgradeable, boot from CD, selectable boot,
  // EDD), ACPI, USB legacy and BBS boot support, release.
  std::vector<u8> bios(0x14);
  bios[0] = 1;
  bios[1] = 2;
  Put16(bios, 2, 0xE000);
  bios[4] = 3;
  bios[5] = 0x0F;
  Put64(bios, 6, 0x0000000000098880ull);
  bios[14] = 0x03;
  bios[15] = 0x01;
  bios[16] = info.Major;
  bios[17] = info.Minor;
  bios[18] = 0xFF;
  bios[19] = 0xFF;
  // System information: manufacturer, product, version, serial, UUID,
  // wake-up by power switch, SKU, family.
  std::vector<u8> system(0x17);
  system[0] = 1;
  system[1] = 2;
  system[2] = 3;
  system[3] = 4;
  for (int i = 0; i < 16; ++i) system[4 + i] = static_cast<u8>(0x10 + i);
  system[20] = 0x06;
  system[21] = 5;
  system[22] = 6;
  // Base board: manufacturer, product, version, serial.
  const std::vector<u8> baseBoard{1, 2, 3, 4};
  const std::string maker(kBoardMakerName);

  const std::vector<std::vector<u8>> all{
      SmbiosStructure(0, 0x0000, bios, {maker, version, date}),
      SmbiosStructure(1, 0x0001, system, {maker, info.Model, "1.0", "NVK0000000001", "Default", "Desktop"}),
      SmbiosStructure(2, 0x0002, baseBoard, {maker, info.Model, "Rev 1.xx", "NVKBB000001"}),
      SmbiosStructure(127, 0x0003, {}, {}),
  };
  std::vector<u8> table;
  largest = 0;
  for (const auto& structure : all) {
    table.insert(table.end(), structure.begin(), structure.end());
    largest = std::max<u16>(largest, static_cast<u16>(structure.size()));
  }
  structures = static_cast<u16>(all.size());
  return table;
}

// The 31-byte SMBIOS 2.4 entry point: "_SM_", checksum over all 31 bytes,
// length, version, largest structure, then the legacy "_DMI_" part with its
// own checksum over bytes 10h..1Eh, the table's length and address, the
// number of structures and the BCD revision.
std::vector<u8> SmbiosEntryPoint(u16 tableLength, u32 tableAddress, u16 structures, u16 largest) {
  std::vector<u8> entry(0x1F);
  PutText(entry, 0x00, kSmbiosAnchor);
  entry[0x05] = 0x1F;
  entry[0x06] = 2;
  entry[0x07] = 4;
  Put16(entry, 0x08, largest);
  PutText(entry, 0x10, kSmbiosLegacyAnchor);
  Put16(entry, 0x16, tableLength);
  Put32(entry, 0x18, tableAddress);
  Put16(entry, 0x1C, structures);
  entry[0x1E] = 0x24;
  SetChecksum(entry, 0x15, 0x10, 0x0F);
  SetChecksum(entry, 0x04, 0x00, 0x1F);
  return entry;
}

// --- ACPI ------------------------------------------------------------------

std::vector<u8> PointerTable(std::string_view signature, const std::vector<u64>& tables, std::size_t width) {
  std::vector<u8> body(tables.size() * width);
  for (std::size_t i = 0; i < tables.size(); ++i) {
    if (width == 4) {
      Put32(body, i * 4, static_cast<u32>(tables[i]));
    } else {
      Put64(body, i * 8, tables[i]);
    }
  }
  return AcpiTable(signature, 1, body);
}

// The FADT of an ICH-based desktop (PM registers at I/O 400h). Revision 1 is
// the 116-byte ACPI 1.0 table; revision 3 the 244-byte ACPI 2.0 table, which
// repeats the FACS and DSDT addresses in 64-bit fields.
std::vector<u8> Fadt(u8 revision, u32 facs, u32 dsdt) {
  std::vector<u8> body((revision >= 3 ? 244 : 116) - 36);
  auto at = [](std::size_t offset) { return offset - 36; };
  Put32(body, at(36), facs);
  Put32(body, at(40), dsdt);
  body[at(45)] = 1;              // preferred profile: desktop
  Put16(body, at(46), 9);        // SCI interrupt
  Put32(body, at(48), 0xB2);     // SMI command port
  body[at(52)] = 0xA0;           // ACPI enable
  body[at(53)] = 0xA1;           // ACPI disable
  Put32(body, at(56), 0x400);    // PM1a event block
  Put32(body, at(64), 0x404);    // PM1a control block
  Put32(body, at(72), 0x450);    // PM2 control block
  Put32(body, at(76), 0x408);    // PM timer
  Put32(body, at(80), 0x420);    // GPE0 block
  body[at(88)] = 4;
  body[at(89)] = 2;
  body[at(90)] = 1;
  body[at(91)] = 4;
  body[at(92)] = 16;
  Put16(body, at(96), 101);      // C2 latency: not supported
  Put16(body, at(98), 1001);     // C3 latency: not supported
  body[at(106)] = 0x0D;          // RTC day alarm index
  body[at(108)] = 0x32;          // RTC century index
  Put32(body, at(112), 0x000001A5);  // WBINVD, C1, no fixed sleep button, RTC wakes S4, 32-bit timer
  if (revision >= 3) {
    Put16(body, at(109), 0x0003);  // legacy devices, 8042
    body[at(116)] = 1;             // reset register: I/O port CF9h, value 06h
    body[at(117)] = 8;
    Put64(body, at(120), 0xCF9);
    body[at(128)] = 0x06;
    Put64(body, at(132), facs);
    Put64(body, at(140), dsdt);
  }
  return AcpiTable("FACP", revision, body);
}

// The FACS has no standard header and no checksum: signature, length,
// hardware signature, waking vectors, global lock, flags, version.
std::vector<u8> Facs() {
  std::vector<u8> facs(64);
  PutText(facs, 0, "FACS");
  Put32(facs, 4, 64);
  Put32(facs, 8, 0x4C495252);
  facs[32] = 1;
  return facs;
}

// A DSDT whose AML defines the S5 sleep package: Name (_S5, Package (2) {5, 5}).
std::vector<u8> Dsdt() {
  return AcpiTable("DSDT", 2, {0x08, '_', 'S', '5', '_', 0x12, 0x06, 0x02, 0x0A, 0x05, 0x0A, 0x05});
}

// MADT: local APIC at FEE00000h, PC-AT compatible 8259s, one local APIC
// entry per processor and the I/O APIC at FEC00000h.
std::vector<u8> Madt(u32 processors) {
  std::vector<u8> body(8);
  Put32(body, 0, 0xFEE00000);
  Put32(body, 4, 1);
  for (u32 cpu = 0; cpu < processors; ++cpu) {
    const std::vector<u8> local{0, 8, static_cast<u8>(cpu), static_cast<u8>(cpu), 1, 0, 0, 0};
    body.insert(body.end(), local.begin(), local.end());
  }
  const std::vector<u8> ioApic{1, 12, static_cast<u8>(processors), 0, 0x00, 0x00, 0xC0, 0xFE, 0, 0, 0, 0};
  body.insert(body.end(), ioApic.begin(), ioApic.end());
  return AcpiTable("APIC", 1, body);
}

// MCFG: 8 reserved bytes, then one allocation: base address, segment group 0,
// first and last bus decoded.
std::vector<u8> Mcfg(u64 ecamBase, u32 buses) {
  std::vector<u8> body(8 + 16);
  Put64(body, 8, ecamBase);
  body[8 + 11] = static_cast<u8>(buses - 1);
  return AcpiTable("MCFG", 1, body);
}

TMemoryDescription& FirmwareRom(TBoardDescription& board) {
  for (TMemoryDescription& range : board.Memory) {
    if (range.Type == TMemoryDescription::Kind::Rom && range.Base == kFirmwareAreaBase && range.Size >= kFirmwareAreaSize) {
      return range;
    }
  }
  board.Memory.push_back({TMemoryDescription::Kind::Rom, kFirmwareAreaBase, kFirmwareAreaSize, {}});
  return board.Memory.back();
}

// The highest RAM region below 4 GiB with room for the tables (const or not,
// as the description is).
template <typename Description>
auto AcpiRam(Description& board) -> decltype(&board.Memory.front()) {
  decltype(&board.Memory.front()) highest = nullptr;
  for (auto& range : board.Memory) {
    if (range.Type != TMemoryDescription::Kind::Ram || range.Size < kAcpiAreaSize || range.Base + range.Size > k4GiB) continue;
    if (highest == nullptr || range.Base > highest->Base) highest = &range;
  }
  return highest;
}

void Place(TMemoryDescription& range, u64 address, std::vector<u8> bytes) {
  range.Contents.emplace_back(address - range.Base, std::move(bytes));
}

// The RSDT lists FACP, APIC and MCFG (in this order, as q35's firmware does);
// the FADT leads on to the FACS and the DSDT.
void AddAcpi(TBoardDescription& board, TMemoryDescription& rom, u8 revision) {
  const TAcpiLayout layout = AcpiLayout(board);
  TMemoryDescription& ram = *AcpiRam(board);
  std::vector<u64> tables{layout.Facp, layout.Apic};
  if (board.EcamBase != 0 && board.EcamBuses != 0) {
    tables.push_back(layout.Mcfg);
    Place(ram, layout.Mcfg, Mcfg(board.EcamBase, board.EcamBuses));
  }
  Place(ram, layout.Rsdt, PointerTable("RSDT", tables, 4));
  if (revision >= 2) Place(ram, layout.Xsdt, PointerTable("XSDT", tables, 8));
  Place(ram, layout.Facp, Fadt(revision >= 2 ? 3 : 1, static_cast<u32>(layout.Facs), static_cast<u32>(layout.Dsdt)));
  Place(ram, layout.Facs, Facs());
  Place(ram, layout.Apic, Madt(board.Processors));
  Place(ram, layout.Dsdt, Dsdt());
  Place(rom, kRsdpAddress, Rsdp(revision, static_cast<u32>(layout.Rsdt), revision >= 2 ? layout.Xsdt : 0));
}

}  // namespace

void SetChecksum(std::vector<u8>& bytes, std::size_t at, std::size_t first, std::size_t count) {
  bytes[at] = 0;
  const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(first);
  const u8 sum = std::accumulate(begin, begin + static_cast<std::ptrdiff_t>(count), u8{0},
                                 [](u8 total, u8 byte) { return static_cast<u8>(total + byte); });
  bytes[at] = static_cast<u8>(0x100 - sum);
}

std::vector<u8> BoardInfoBlock(const TBoardInfo& info) {
  std::vector<u8> block(kBoardInfoSize);
  PutText(block, 0, kBoardInfoMarker);
  Put16(block, 8, 0x0101);
  PutText(block, 10, std::string_view(info.Model).substr(0, 32));
  block[42] = static_cast<u8>(info.VersionLetter);
  block[43] = info.Major;
  block[44] = info.Minor;
  block[45] = static_cast<u8>(info.Suffix);
  Put16(block, 46, info.Year);
  block[48] = info.Month;
  block[49] = info.Day;
  SetChecksum(block, kBoardInfoSize - 1, 0, kBoardInfoSize);
  return block;
}

std::vector<u8> AcpiTable(std::string_view signature, u8 revision, const std::vector<u8>& body) {
  std::vector<u8> table(36);
  PutText(table, 0, signature.substr(0, 4));
  Put32(table, 4, static_cast<u32>(36 + body.size()));
  table[8] = revision;
  PutText(table, 10, "NORVIK");
  PutText(table, 16, "LIRRINSM");
  Put32(table, 24, 1);
  PutText(table, 28, "NVK ");
  Put32(table, 32, 0x20120709);
  table.insert(table.end(), body.begin(), body.end());
  SetChecksum(table, 9, 0, table.size());
  return table;
}

std::vector<u8> Rsdp(u8 revision, u32 rsdtAddress, u64 xsdtAddress) {
  std::vector<u8> rsdp(revision == 0 ? 20 : 36);
  PutText(rsdp, 0, kRsdpSignature);
  PutText(rsdp, 9, "NORVIK");
  rsdp[15] = revision;
  Put32(rsdp, 16, rsdtAddress);
  if (revision != 0) {
    Put32(rsdp, 20, 36);
    Put64(rsdp, 24, xsdtAddress);
  }
  SetChecksum(rsdp, 8, 0, 20);
  if (revision != 0) SetChecksum(rsdp, 32, 0, 36);
  return rsdp;
}

std::vector<std::pair<u64, u64>> OsManagedRam(const TSimBoard& board) {
  std::vector<std::pair<u64, u64>> ranges = board.RamRanges();
  const std::pair<u64, u64>* acpi = nullptr;
  for (const auto& range : ranges) {
    if (range.second < kAcpiAreaSize || range.first + range.second > k4GiB) continue;
    if (acpi == nullptr || range.first > acpi->first) acpi = &range;
  }
  std::vector<std::pair<u64, u64>> managed;
  for (const auto& [base, size] : ranges) {
    const u64 first = std::max<u64>(base, kPageSize);
    const u64 end = acpi != nullptr && acpi->first == base ? base + size - kAcpiAreaSize : base + size;
    if (end > first) managed.emplace_back(first, end - first);
  }
  return managed;
}

TAcpiLayout AcpiLayout(const TBoardDescription& board) {
  TAcpiLayout layout;
  const TMemoryDescription* ram = AcpiRam(board);
  if (ram == nullptr) return layout;
  const u64 base = ram->Base + ram->Size - kAcpiAreaSize;
  layout.Rsdt = base + 0x000;
  layout.Xsdt = base + 0x080;
  layout.Facp = base + 0x100;
  layout.Facs = base + 0x200;  // 64-byte aligned, as the FACS must be
  layout.Apic = base + 0x280;
  layout.Mcfg = base + 0x380;
  layout.Dsdt = base + 0x400;
  return layout;
}

void AddFirmware(TBoardDescription& board, const TFirmwareSwitches& switches) {
  TMemoryDescription& rom = FirmwareRom(board);
  if (!switches.NoMarker) {
    std::vector<u8> block = BoardInfoBlock(switches.Info);
    // An older copy of the block, left behind by a firmware update, whose
    // bytes no longer sum to 0.
    std::vector<u8> decoy = block;
    decoy[kBoardInfoSize - 1] ^= 0x5A;
    Place(rom, kDecoyBlockAddress, std::move(decoy));
    Place(rom, kBoardInfoAddress, std::move(block));
  }
  u16 structures = 0;
  u16 largest = 0;
  std::vector<u8> table = SmbiosTable(switches.Info, structures, largest);
  Place(rom, kSmbiosEntryAddress,
        SmbiosEntryPoint(static_cast<u16>(table.size()), static_cast<u32>(kSmbiosTableAddress), structures, largest));
  Place(rom, kSmbiosTableAddress, std::move(table));
  if (!switches.NoAcpi && AcpiRam(board) != nullptr) AddAcpi(board, rom, switches.AcpiRevision);
}

void RemoveMakerSubsystemVendors(TBoardDescription& board) {
  board.Devices.push_back([](TSimBoard& simBoard) {
    for (unsigned bus = 0; bus <= 255; ++bus) {
      for (u8 device = 0; device <= 31; ++device) {
        for (u8 function = 0; function <= 7; ++function) {
          TPciFunction* model = simBoard.Function(static_cast<u8>(bus), device, function);
          if (model == nullptr) continue;
          const u16 vendor = static_cast<u16>(model->Subsystem());
          if (std::find(kSupportedSubsystemVendors.begin(), kSupportedSubsystemVendors.end(), vendor) !=
              kSupportedSubsystemVendors.end()) {
            model->Poke(0x2C, 4, 0);
          }
        }
      }
    }
  });
}

}  // namespace lirrin::sim
