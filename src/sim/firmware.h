#pragma once
// The firmware of the simulated boards: the structures a PC's firmware leaves
// in physical memory. In the legacy firmware area (E0000h..FFFFFh): the
// board maker's board information block (behind an earlier, corrupted copy of
// it), the SMBIOS entry point with its structure table, and the ACPI root
// pointer (RSDP). Near the top of the RAM below 4 GiB: the ACPI tables RSDT,
// XSDT (revision 2 only), FACP, FACS, DSDT, APIC and MCFG. Every structure
// carries a valid checksum (8-bit byte sum 0).

#include <string>
#include <string_view>
#include <vector>

#include "hw/firmware.h"
#include "sim/board.h"

namespace lirrin::sim {

// Where the firmware area holds its structures. The RSDP sits on a 16-byte
// boundary, as the ACPI Specification requires; the valid board information
// block sits where the maker's firmware puts it, the corrupted copy lower down.
constexpr u64 kRsdpAddress = 0xF6A10;
constexpr u64 kSmbiosEntryAddress = 0xF0800;
constexpr u64 kSmbiosTableAddress = 0xF0820;
constexpr u64 kDecoyBlockAddress = 0xE3C40;
constexpr u64 kBoardInfoAddress = 0xFF0B0;

// The fields of a board information block.
struct TBoardInfo {
  std::string Model = "NV-P45 Deluxe";  // up to 32 bytes; 32 leave no zero byte
  char VersionLetter = 'V';
  u8 Major = 2;
  u8 Minor = 7;
  char Suffix = '0';  // '0': no suffix
  u16 Year = 2012;
  u8 Month = 7;
  u8 Day = 9;
};

struct TFirmwareSwitches {
  bool NoMarker = false;  // nomarker: no board information block, not even the corrupted copy
  bool NoAcpi = false;    // noacpi: no RSDP and no ACPI tables
  u8 AcpiRevision = 2;    // RSDP revision: 0 (ACPI 1.0: RSDT only) or 2 (RSDT and XSDT)
  TBoardInfo Info;
};

// Physical addresses of the ACPI tables of a board (see AcpiLayout).
struct TAcpiLayout {
  u64 Rsdt = 0;
  u64 Xsdt = 0;
  u64 Facp = 0;
  u64 Facs = 0;
  u64 Apic = 0;
  u64 Mcfg = 0;
  u64 Dsdt = 0;
};

// --- Builders --------------------------------------------------------------

// A valid 64-byte board information block.
std::vector<u8> BoardInfoBlock(const TBoardInfo& info);

// An ACPI table: the 36-byte System Description Table header (signature,
// length, revision, checksum, OEM fields) followed by `body`.
std::vector<u8> AcpiTable(std::string_view signature, u8 revision, const std::vector<u8>& body);

// An RSDP: 20 bytes for revision 0; 36 bytes with the XSDT address and the
// extended checksum for later revisions.
std::vector<u8> Rsdp(u8 revision, u32 rsdtAddress, u64 xsdtAddress);

// Sets the byte at `at` so that the bytes [first, first + count) sum to 0.
void SetChecksum(std::vector<u8>& bytes, std::size_t at, std::size_t first, std::size_t count);

// --- Boards ----------------------------------------------------------------

// Where AddFirmware puts the ACPI tables of `board`: the last 64 KiB of its
// highest RAM region that ends at or below 4 GiB.
TAcpiLayout AcpiLayout(const TBoardDescription& board);

// The RAM an operating system manages on `board`, as its firmware reports
// the memory map: every RAM region but the first page (the real-mode
// interrupt table and BIOS data) and the ACPI tables' area, which the
// firmware keeps for itself (AcpiLayout's rule on the board's regions).
std::vector<std::pair<u64, u64>> OsManagedRam(const TSimBoard& board);

// Adds the firmware to `board`: the structures of the firmware area go into
// its ROM at E0000h (added when the board has none), the ACPI tables into its
// RAM. The MCFG table describes the board's ECAM window; a board without one
// has no MCFG. The APIC table lists one processor per simulated processor.
void AddFirmware(TBoardDescription& board, const TFirmwareSwitches& switches = {});

// novendor: takes every subsystem vendor ID of the supported list off the
// board's PCI functions (their subsystem register then reads 0). It works on
// the built board, so that the functions chipset models add are covered too:
// call it after every other device of the description is attached.
void RemoveMakerSubsystemVendors(TBoardDescription& board);

}  // namespace lirrin::sim
