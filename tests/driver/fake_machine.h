#pragma once
// A model of the machine behind the driver's request handling: ports,
// model-specific, control and counter registers that fault when absent,
// a window of physical memory, the system's RAM ranges, and the calling
// process's user space as one block of memory at a chosen address. Every
// access is recorded so tests can check what reached the hardware.

#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

struct TPortAccess {
  bool Out;
  uint16_t Port;
  unsigned Width;
  uint32_t Value;
  bool operator==(const TPortAccess&) const = default;
};

struct TFakeMachine {
  // Ports answer with this value (cut to the access width) unless listed.
  uint32_t PortDefault = 0xFFFFFFFF;
  std::map<uint16_t, uint32_t> PortValues;
  std::vector<TPortAccess> PortLog;

  std::map<uint32_t, uint64_t> Msrs;  // absent indexes fault
  std::vector<std::pair<uint32_t, uint64_t>> MsrWrites;
  uint64_t Tsc = 0;
  std::map<uint32_t, uint64_t> Pmcs;  // absent counters fault
  std::map<unsigned, uint64_t> Crs;   // absent registers fault
  std::vector<std::pair<unsigned, uint64_t>> CrWrites;

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
  int OpenMappings = 0;  // mappings not yet undone

  // What the system reports as RAM; with RamKnown false it cannot say.
  std::vector<std::pair<uint64_t, uint64_t>> RamRanges{{0x1000, 0x9E000}};
  bool RamKnown = true;

  int OpenAllocations = 0;

  // The calling process's user space and the one block mapped in it.
  uint64_t UserLimit = 0x7FFF0000;
  uint64_t UserBase = 0x10000;
  std::vector<uint8_t> User = std::vector<uint8_t>(0x10000);

  // The host address of physical address `address` in the model.
  uint8_t* PhysicalAt(uint64_t address) { return Physical.data() + (address - PhysicalBase); }
  uint8_t* UserAt(uint64_t address) { return User.data() + (address - UserBase); }
};

// The model the driver code talks to; each test starts from a fresh one.
extern TFakeMachine gMachine;
