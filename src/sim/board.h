#pragma once
// The simulated board: one in-process model of a PC that answers the I/O
// layer's primitive requests. Port space with per-range handlers; PCI
// configuration space through mechanism #1 at 0CF8h/0CFCh and through an
// ECAM window; physical memory made of RAM, ROM, memory-mapped handlers and
// holes; MSRs, control registers, TSC, PMCs; processors and affinity; a
// virtual clock. Every request is counted by kind, so tests can assert how
// many requests an operation made, or that it made none.
//
// Boards are described declaratively (TBoardDescription); chipset models
// attach themselves through the description's device hooks.

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hw/transport.h"
#include "sim/pci_function.h"
#include "sim/sim_clock.h"

namespace lirrin::sim {

enum class TRequestKind { Port, PciConfig, Memory, Msr, ControlRegister, Tsc, Pmc, Affinity, Count };

class TPortHandler {
 public:
  virtual ~TPortHandler() = default;
  virtual u32 ReadPort(u16 port, TAccessWidth width) = 0;
  virtual void WritePort(u16 port, TAccessWidth width, u32 value) = 0;
};

class TMmioHandler {
 public:
  virtual ~TMmioHandler() = default;
  // `offset` is from the region's base; one call per access of `width` bytes.
  virtual u32 ReadMmio(u64 offset, TAccessWidth width) = 0;
  virtual void WriteMmio(u64 offset, TAccessWidth width, u32 value) = 0;
};

class TSimBoard;

struct TPciFunctionDescription {
  u8 Bus = 0, Device = 0, Function = 0;
  u32 Id = 0;          // device in 31..16, vendor in 15..0
  u32 ClassCode = 0;   // base class, subclass, programming interface
  u8 Revision = 0;
  u8 HeaderType = 0;   // bit 7: multi-function device
  u32 Subsystem = 0;   // subsystem device in 31..16, subsystem vendor in 15..0
  std::vector<std::pair<u16, u32>> Dwords;  // further registers as firmware left them
};

struct TMemoryDescription {
  enum class Kind { Ram, Rom } Type = Kind::Ram;
  u64 Base = 0;
  u64 Size = 0;
  std::vector<std::pair<u64, std::vector<u8>>> Contents;  // (offset, bytes) placed at start
};

struct TBoardDescription {
  std::string Name;
  u32 Processors = 2;
  std::vector<TPciFunctionDescription> Functions;
  std::vector<TMemoryDescription> Memory;
  u64 EcamBase = 0;   // 0: no ECAM window
  u32 EcamBuses = 0;  // buses decoded by the window (1..256)
  std::map<u32, u64> Msrs;
  // Chipset models and other devices: called once the core exists, to add
  // functions, map ports or memory and keep the board for later.
  std::vector<std::function<void(TSimBoard&)>> Devices;
};

class TSimBoard final : public TTransport {
 public:
  explicit TSimBoard(const TBoardDescription& description);
  ~TSimBoard() override;
  TSimBoard(const TSimBoard&) = delete;
  TSimBoard& operator=(const TSimBoard&) = delete;

  const std::string& Name() const { return BoardName; }
  TSimClock& Clock() { return VirtualClock; }

  // --- Building the board (descriptions and device models) ---
  TPciFunction& AddFunction(u8 bus, u8 device, u8 function, std::unique_ptr<TPciFunction> model);
  TPciFunction* Function(u8 bus, u8 device, u8 function) const;
  // Decodes [first, first + count) to `handler`, in front of earlier mappings
  // of the same ports; Unmap removes every range of the handler.
  void MapPorts(u16 first, u16 count, TPortHandler* handler);
  void UnmapPorts(TPortHandler* handler);
  void AddRam(u64 base, u64 size);
  void AddRom(u64 base, std::vector<u8> bytes);
  void MapMmio(u64 base, u64 size, TMmioHandler* handler);
  // The RAM regions as (base, size), lowest first.
  std::vector<std::pair<u64, u64>> RamRanges() const;
  // Raw physical memory access that bypasses request counting (RAM and ROM).
  bool Poke(u64 address, const void* bytes, u32 length);
  void SetMsr(u32 index, u64 value) { Msrs[index] = value; }
  u64 Msr(u32 index) const;
  u64 ControlRegister(u32 index) const { return Crs.at(index); }
  u64 Affinity() const { return AffinityMask; }

  // --- Request accounting ---
  u64 Requests(TRequestKind kind) const { return Counts[static_cast<std::size_t>(kind)]; }
  u64 TotalRequests() const;
  void ResetRequestCounts() { Counts.fill(0); }

  // --- TTransport ---
  bool ReadPort(u16 port, TAccessWidth width, u32& value) override;
  bool WritePort(u16 port, TAccessWidth width, u32 value) override;
  bool ReadPciConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32& value) override;
  bool WritePciConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32 value) override;
  bool ReadMemory(u64 address, void* buffer, u32 length, u32 unit) override;
  bool WriteMemory(u64 address, const void* buffer, u32 length, u32 unit) override;
  bool ReadMsr(u32 index, u64& value) override;
  bool WriteMsr(u32 index, u64 value) override;
  bool ReadCr(u32 index, u64& value) override;
  bool WriteCr(u32 index, u64 value) override;
  bool ReadTsc(u64& value) override;
  bool ReadPmc(u32 counter, u64& value) override;
  u32 ProcessorCount() override;
  bool SetAffinity(u64 mask) override;

  // Port accesses without counting: the configuration mechanism and device
  // models use these for the ports they drive themselves.
  u32 InPort(u16 port, TAccessWidth width);
  void OutPort(u16 port, TAccessWidth width, u32 value);

 private:
  struct TPortRange {
    u16 First;
    u32 Count;
    TPortHandler* Handler;
  };
  struct TRegion;
  class TConfigMechanism;
  class TEcamWindow;

  void Count(TRequestKind kind) { ++Counts[static_cast<std::size_t>(kind)]; }
  TPortHandler* PortHandler(u16 port) const;
  u64 NextTsc();
  TRegion* RegionAt(u64 address) const;
  void AddRegion(std::unique_ptr<TRegion> region);
  bool Covered(u64 address, u32 length) const;
  bool TransferMemory(u64 address, u8* readInto, const u8* writeFrom, u32 length, u32 unit);

  std::string BoardName;
  TSimClock VirtualClock;
  std::array<u64, static_cast<std::size_t>(TRequestKind::Count)> Counts{};
  std::vector<TPortRange> Ports;  // newest mapping first
  std::map<u16, std::unique_ptr<TPciFunction>> Functions;
  std::vector<std::unique_ptr<TRegion>> Regions;  // sorted by base
  std::unique_ptr<TConfigMechanism> LegacyConfig;
  std::unique_ptr<TEcamWindow> Ecam;
  std::map<u32, u64> Msrs;
  std::map<u32, u64> Crs;
  std::array<u64, 4> Pmcs{};
  u64 TscReads = 0;
  u64 TscOffset = 0;  // from a write of MSR 10h
  u32 Processors;
  u64 AffinityMask;
};

}  // namespace lirrin::sim
