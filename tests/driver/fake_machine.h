#pragma once
// A model of the machine behind the driver's request handling: ports,
// PCI configuration space, model-specific, control and counter registers
// that fault when absent, a window of physical memory, the system's RAM
// ranges, and the calling process's user space as one block of memory at a
// chosen address. Every access is recorded so tests can check what reached
// the hardware, and faults can be switched on where a real processor or
// kernel could refuse.

#include <cstdint>
#include <array>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

struct TPortAccess {
  bool Out;
  uint16_t Port;
  unsigned Width;
  uint32_t Value;
  bool operator==(const TPortAccess&) const = default;
};

// One configuration cycle: the address dword sent to 0CF8h and the data
// port access that followed it.
struct TConfigCycle {
  uint32_t Address;
  uint16_t DataPort;
  unsigned Width;
  bool Write;
  uint32_t Value;
  bool operator==(const TConfigCycle&) const = default;
};

struct TRefusal {
  uint32_t Code;
  std::string Reason;
};

struct TFakeMachine {
  // Ports answer with this value (cut to the access width) unless listed;
  // an OUT lists the value it wrote.
  uint32_t PortDefault = 0xFFFFFFFF;
  std::map<uint16_t, uint32_t> PortValues;
  std::set<uint16_t> FaultingPorts;  // IN or OUT there faults
  std::vector<TPortAccess> PortLog;

  // Configuration space of the functions present, by bus << 8 | device << 3
  // | function; absent functions read as all ones and ignore writes.
  std::map<uint32_t, std::array<uint8_t, 4096>> Config;
  bool ConfigFaults = false;  // every configuration access fails
  std::vector<TConfigCycle> ConfigLog;

  std::map<uint32_t, uint64_t> Msrs;  // absent indexes fault
  uint64_t Tsc = 0;
  std::map<uint32_t, uint64_t> Pmcs;  // absent counters fault
  std::map<unsigned, uint64_t> Crs;   // absent registers fault

  // Physical memory that can be mapped: [PhysicalBase, PhysicalBase + size).
  uint64_t PhysicalBase = 0xC0000;
  std::vector<uint8_t> Physical = std::vector<uint8_t>(0x110000);
  int Mappings = 0;      // mappings made
  // Accesses inside mappings, as (offset from PhysicalBase, width, write).
  struct TMappedAccess {
    uint64_t Offset;
    unsigned Width;
    bool Write;
    bool operator==(const TMappedAccess&) const = default;
  };
  std::vector<TMappedAccess> MappedLog;
  // The mappings not yet undone, each with whether it was asked for as
  // writable.
  struct TOpenMapping {
    const volatile uint8_t* At;
    uint32_t Length;
    bool Writable;
  };
  std::vector<TOpenMapping> OpenMappings;
  // Stores through no mapping asked for as writable (the kernel would
  // fault on them; here they are dropped), and mappings undone that were
  // not open or with another length than they were made with.
  int MappingMisuses = 0;

  // What the system reports as RAM; with RamKnown false it cannot say.
  std::vector<std::pair<uint64_t, uint64_t>> RamRanges{{0x1000, 0x9E000}};
  bool RamKnown = true;

  int OpenAllocations = 0;
  bool AllocationFails = false;

  // The debug log's refusals.
  std::vector<TRefusal> Refusals;

  // The calling process's user space and the one block mapped in it.
  uint64_t UserLimit = 0x7FFF0000;
  uint64_t UserBase = 0x10000;
  std::vector<uint8_t> User = std::vector<uint8_t>(0x10000);

  // The host address of physical address `address` in the model.
  uint8_t* PhysicalAt(uint64_t address) { return Physical.data() + (address - PhysicalBase); }
  uint8_t* UserAt(uint64_t address) { return User.data() + (address - UserBase); }

  // A function with its identity and class (base class, subclass and
  // programming interface), single-function unless `multiFunction`.
  void AddFunction(uint8_t bus, uint8_t device, uint8_t function, uint32_t id, uint32_t classCode,
                   bool multiFunction = false);
  void SetConfig(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset, uint32_t value);
  uint32_t ConfigDword(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset) const;

  // An ICH10 desktop chipset: LPC bridge 0:1F.0 (PMBASE 800h, RCBA at
  // `rcba`) and SMBus function 0:1F.3 with its registers at 400h..41Fh.
  // The firmware's ACPI tables in the model's physical memory: the root
  // pointer at F0000h, an RSDT at F0100h that lists one MCFG table at
  // F0200h, whose one allocation gives the configuration window of buses
  // 0..lastBus at `ecamBase`.
  void AddFirmwareTables(uint64_t ecamBase, uint8_t lastBus);
  // Where the chipset decodes that window (0: nowhere the model can map):
  // a mapping inside one function's 4 KiB there reaches its configuration
  // space, and each access is logged as a configuration cycle with
  // DataPort 0.
  uint64_t EcamBase = 0;

  static constexpr uint16_t kSMBusBase = 0x400;
  static constexpr uint16_t kPmBase = 0x800;
  void AddIch10(uint32_t rcba);
};

// The model the driver code talks to; each test starts from a fresh one.
extern TFakeMachine gMachine;
