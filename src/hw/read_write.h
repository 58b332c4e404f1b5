#pragma once
// TReadWrite: the one object through which the program touches hardware.
// Every operation keeps a precise hardware meaning so that everything above
// (interpreter, SMBus engine, firmware readers) runs against any transport.
// Each primitive is one transport request (two for the read-modify-write of
// an enhanced-configuration byte or word); nothing is cached.
//
// Absent or failed values are all ones: an absent PCI function reads all ones
// of the access width, a failed memory read returns all ones, a failed memory
// search returns 0x00000000FFFFFFFF and the device searches return 0xFFFF.

#include <functional>
#include <memory>
#include <vector>

#include "hw/transport.h"
#include "support/types.h"

namespace lirrin {

// Packed PCI function address: bus in bits 15..8, device in 7..3, function in 2..0.
using PciAddress = u16;

constexpr PciAddress MakePciAddress(u8 bus, u8 device, u8 function) {
  return static_cast<PciAddress>((bus << 8) | ((device & 0x1F) << 3) | (function & 0x07));
}
constexpr u8 PciBus(PciAddress address) { return static_cast<u8>(address >> 8); }
constexpr u8 PciDevice(PciAddress address) { return static_cast<u8>((address >> 3) & 0x1F); }
constexpr u8 PciFunction(PciAddress address) { return static_cast<u8>(address & 0x07); }
constexpr PciAddress kPciNotFound = 0xFFFF;
constexpr u64 kMemNotFound = 0x00000000FFFFFFFFull;
constexpr u32 kNoPcieBase = 0xFFFFFFFF;

// Register image of the MSR and CPUID operations (16 bytes, in this order).
struct CpuRegisters {
  u32 Eax = 0;
  u32 Ebx = 0;
  u32 Ecx = 0;
  u32 Edx = 0;
};

// Hardware-access settings: compiled-in defaults, created with the layer.
struct TRwConfig {
  u32 MemSearchChunk = 4096;     // bytes moved per FindMem request
  u32 MaxPatternLength = 4096;   // longest FindMem pattern
};

using TTransportFactory = std::function<std::shared_ptr<TTransport>()>;

class TReadWrite {
 public:
  // The process-wide layer, created on first use over the transport of the
  // board context in force (the platform's own outside any context).
  static TReadWrite* Instance();
  static void FreeInstance();

  explicit TReadWrite(std::shared_ptr<TTransport> transport);
  TReadWrite(const TReadWrite&) = delete;
  TReadWrite& operator=(const TReadWrite&) = delete;

  // Physical base of the enhanced configuration space (ACPI MCFG), or
  // kNoPcieBase. Set once by platform identification.
  u32 PcieBase = kNoPcieBase;

  // Every access below exists once with its width as a parameter (1, 2 or 4
  // bytes; any other width reads all ones and writes nothing), for callers
  // that take the width from their input, like the script commands. The
  // per-width operations are thin forwarders to these.
  u32 InPort(u16 port, TAccessWidth width);
  bool OutPort(u16 port, TAccessWidth width, u32 value);
  // A width of 4 writes the registers offset to offset+3, low byte first.
  u32 InIndexData(u16 indexPort, u16 dataPort, u8 offset, TAccessWidth width);
  bool OutIndexData(u16 indexPort, u16 dataPort, u8 offset, TAccessWidth width, u32 value);
  // Configuration space through the legacy mechanism or the ECAM window.
  enum class TConfigSpace { Pci, Pcie };
  u32 ReadConfig(TConfigSpace space, u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width);
  bool WriteConfig(TConfigSpace space, u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32 value);
  u32 ReadConfig(TConfigSpace space, PciAddress address, u16 offset, TAccessWidth width);
  bool WriteConfig(TConfigSpace space, PciAddress address, u16 offset, TAccessWidth width, u32 value);
  u32 ReadMemValue(u64 address, TAccessWidth width);
  bool WriteMemValue(u64 address, TAccessWidth width, u32 value);

  // Port I/O.
  u8 InByte(u16 port);
  u16 InWord(u16 port);
  u32 InDword(u16 port);
  bool OutByte(u16 port, u8 value);
  bool OutWord(u16 port, u16 value);
  bool OutDword(u16 port, u32 value);

  // Index/data port pairs; the offset wraps from 0xFF to 0x00.
  u8 InIndexDataByte(u16 indexPort, u16 dataPort, u8 offset);
  u16 InIndexDataWord(u16 indexPort, u16 dataPort, u8 offset);
  u32 InIndexDataDword(u16 indexPort, u16 dataPort, u8 offset);
  bool OutIndexDataByte(u16 indexPort, u16 dataPort, u8 offset, u8 value);
  bool OutIndexDataWord(u16 indexPort, u16 dataPort, u8 offset, u16 value);

  // PCI configuration space through the legacy mechanism (offset 0..0FFFh).
  u8 ReadPciByte(u8 bus, u8 device, u8 function, u16 offset);
  u16 ReadPciWord(u8 bus, u8 device, u8 function, u16 offset);
  u32 ReadPciDword(u8 bus, u8 device, u8 function, u16 offset);
  bool WritePciByte(u8 bus, u8 device, u8 function, u16 offset, u8 value);
  bool WritePciWord(u8 bus, u8 device, u8 function, u16 offset, u16 value);
  bool WritePciDword(u8 bus, u8 device, u8 function, u16 offset, u32 value);
  u8 ReadPciByte(PciAddress address, u16 offset);
  u16 ReadPciWord(PciAddress address, u16 offset);
  u32 ReadPciDword(PciAddress address, u16 offset);
  bool WritePciByte(PciAddress address, u16 offset, u8 value);
  bool WritePciWord(PciAddress address, u16 offset, u16 value);
  bool WritePciDword(PciAddress address, u16 offset, u32 value);

  // PCI Express enhanced configuration space (ECAM at PcieBase).
  u8 ReadPcieByte(u8 bus, u8 device, u8 function, u16 offset);
  u16 ReadPcieWord(u8 bus, u8 device, u8 function, u16 offset);
  u32 ReadPcieDword(u8 bus, u8 device, u8 function, u16 offset);
  bool WritePcieByte(u8 bus, u8 device, u8 function, u16 offset, u8 value);
  bool WritePcieWord(u8 bus, u8 device, u8 function, u16 offset, u16 value);
  bool WritePcieDword(u8 bus, u8 device, u8 function, u16 offset, u32 value);
  u8 ReadPcieByte(PciAddress address, u16 offset);
  u16 ReadPcieWord(PciAddress address, u16 offset);
  u32 ReadPcieDword(PciAddress address, u16 offset);
  bool WritePcieByte(PciAddress address, u16 offset, u8 value);
  bool WritePcieWord(PciAddress address, u16 offset, u16 value);
  bool WritePcieDword(PciAddress address, u16 offset, u32 value);

  // Device searches in bus, device, function order; index 0 is the first
  // match. An FFFFh half of `identifier` (device in 31..16, vendor in 15..0)
  // or an FFh byte of `classCode` matches any value there.
  PciAddress FindPciDevice(u32 identifier, u8 index);
  PciAddress FindPciClass(u32 classCode, u8 index);
  // Every present function, in the order and by the presence rules of the
  // searches (functions above 0 that read all ones are left out).
  std::vector<PciAddress> PciFunctions();

  // Which identifiers at offset 0 of function 0 mark a device slot as empty.
  // The device searches also skip 0, which some bridges read for a slot
  // behind them; the platform check skips only all ones.
  enum class TEmptySlot { AllOnesOrZero, AllOnes };
  // Visits every function in bus, device, function order until `visit`
  // returns false. The functions above 0 of a multi-function device (header
  // type bit 7) are visited without a presence test.
  void ScanPciFunctions(const std::function<bool(u8 bus, u8 device, u8 function)>& visit,
                        TEmptySlot empty = TEmptySlot::AllOnesOrZero);

  // Physical memory.
  u8 ReadMemByte(u64 address);
  u16 ReadMemWord(u64 address);
  u32 ReadMemDword(u64 address);
  bool ReadMemBlock(void* buffer, u32 length, u64 address);
  bool ReadMem(void* buffer, u32 length, u64 address, u32 unit);
  bool ReadMem256(void* buffer, u64 address);
  bool WriteMemByte(u8 value, u64 address);
  bool WriteMemWord(u16 value, u64 address);
  bool WriteMemDword(u32 value, u64 address);
  // Address of the index-th position address + k * step at which `pattern`
  // lies wholly inside [address, address + length), or kMemNotFound.
  u64 FindMem(u32 length, u32 step, u64 address, u32 index, const void* pattern, u32 patternLength);

  // Processor.
  u32 ProcessorCount();     // as the system reports it
  bool SwitchCpu(int cpu);  // 1-based
  bool ReadMsr(CpuRegisters& regs);
  bool WriteMsr(CpuRegisters& regs);
  u64 ReadCr(u32 index);
  bool WriteCr(u32 index, u64 value);
  u64 ReadTsc();
  u64 ReadPmc(u32 counter);
  bool Cpuid(CpuRegisters& regs);

 private:
  friend class TBoardContext;
  // The transport the next Instance() connects; an empty factory restores
  // the platform's. Only a board context sets it.
  static void SetTransportFactory(TTransportFactory factory);

  u32 ReadLegacyConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width);
  bool WriteLegacyConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32 value);
  u32 ReadEcam(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width);
  bool WriteEcam(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32 value);
  bool EcamAddress(u8 bus, u8 device, u8 function, u16 offset, u32& address) const;
  template <typename Matches>
  PciAddress FindPciFunction(Matches matches, u8 index);

  std::shared_ptr<TTransport> Transport;
  TRwConfig Settings;
};

// The transport of the platform the program was built for (the kernel driver
// on Windows). Used when no other factory is set.
std::shared_ptr<TTransport> MakePlatformTransport();

}  // namespace lirrin
