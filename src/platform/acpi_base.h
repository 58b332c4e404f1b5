#pragma once
// TAcpiBase: finds the ACPI root (RSDP), walks the tables reachable from the
// RSDT, logs each one on the debug console and takes the DSDT address (from
// the FADT, signature "FACP") and the PCI Express configuration base (from
// MCFG) out of them. Table layouts are those of the ACPI Specification.
//
// The table list starts with the root: entry 0 is the RSDP (or, when the
// root came from the registry without a usable RSDP, a placeholder at address
// 0 holding the registry data's size); entries from 1 are tables, appended as
// the walk discovers them. The whole search and walk run once, when the
// reader is built.

#include <span>
#include <string>
#include <vector>

#include "hw/io_object.h"

namespace lirrin {

class TAcpiBase : public TIoObject {
 public:
  struct TTableEntry {
    u32 Address = 0;
    u32 Length = 0;         // the table header's length, once walked
    std::string Signature;  // the 4 signature bytes as read; empty for entry 0
  };

  // No chain of real firmware tables comes near this many; firmware whose
  // tables point back at each other would otherwise grow the list forever.
  static constexpr std::size_t kMaxTables = 256;
  // The most a handled table (RSDT, FADT, MCFG) is read with, whatever its
  // header claims.
  static constexpr u32 kMaxTableLength = 0x10000;

  static TAcpiBase* Instance();
  static void FreeInstance();

  TAcpiBase();

  bool RootFound() const { return Root; }
  u32 DsdtAddress() const { return Dsdt; }
  // Low 32 bits of the first MCFG allocation's base, or kNoPcieBase.
  u32 PcieBase() const { return Pcie; }
  const std::vector<TTableEntry>& Tables() const { return Entries; }

  // Hands the PCI Express configuration base to the I/O layer, which has no
  // way of its own to learn it; the one place that sets it.
  void HandPcieBaseToIo() { ReadWrite->PcieBase = Pcie; }

 private:
  using THandler = void (TAcpiBase::*)(std::span<const u8> table);

  bool FindRootInMemory();
  bool FindRootInRegistry();
  // Takes the first RSDP found from `from` on as the root, if its checksum holds.
  bool AddRootFrom(u64 from);
  // The first value under HKLM "Hardware\ACPI\RSDT\<OEM>\<table>\<revision>",
  // where Windows keeps a copy of the root table; false where there is no
  // registry (acpi_base_win.cpp / acpi_base_posix.cpp).
  static bool ReadRegistryRootTable(std::vector<u8>& data);

  void Append(u32 address);
  void BuildAcpiTable();
  void BuildRSDT(std::span<const u8> table);
  void BuildFACP(std::span<const u8> table);
  void BuildMCFG(std::span<const u8> table);

  u32 Dsdt = 0;
  u32 Pcie = kNoPcieBase;
  bool Root = false;
  std::vector<TTableEntry> Entries;
};

}  // namespace lirrin
