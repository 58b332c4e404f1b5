#include "hw/read_write.h"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include "support/singletons.h"

namespace lirrin {

namespace {

TReadWrite* instance = nullptr;
TTransportFactory transportFactory;

constexpr u16 kMaxConfigOffset = 0x0FFF;

u32 AllOnes(TAccessWidth width) { return width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1; }

// Configuration coordinates outside the mechanism's fields would spill into
// neighbouring fields of the address (device 32 is bus + 1, device 0), so
// they are refused rather than wrapped.
bool ConfigArgumentsValid(u8 device, u8 function, u16 offset) {
  return device <= 31 && function <= 7 && offset <= kMaxConfigOffset;
}

// The memory request unit of an access width.
u32 MemUnit(TAccessWidth width) { return width == 1 ? kMemUnitByte : width == 2 ? kMemUnitWord : kMemUnitDword; }

// Where a byte or word lies in its ECAM dword: a byte at its own lane, a
// word in the low half at offset 0 of the dword and in the high half
// otherwise.
unsigned EcamShift(u16 offset, TAccessWidth width) {
  return width == 1 ? 8 * (offset & 3u) : width == 2 && (offset & 3) != 0 ? 16 : 0;
}

bool UnitValid(u32 length, u64 address, u32 unit) {
  if (unit > kMemUnitDword) return false;
  const u32 width = 1u << unit;
  return length % width == 0 && address % width == 0;
}

}  // namespace

TReadWrite* TReadWrite::Instance() {
  if (instance == nullptr) {
    instance = new TReadWrite(transportFactory ? transportFactory() : MakePlatformTransport());
    EnlistSingleton(&TReadWrite::FreeInstance);
  }
  return instance;
}

void TReadWrite::FreeInstance() {
  delete instance;
  instance = nullptr;
}

void TReadWrite::SetTransportFactory(TTransportFactory factory) { transportFactory = std::move(factory); }

TReadWrite::TReadWrite(std::shared_ptr<TTransport> transport)
    : Transport(transport ? std::move(transport) : std::make_shared<TUnavailableTransport>()) {}

// --- Port I/O ---------------------------------------------------------------
// A port read whose request failed has no value to give; all ones is what a
// port without a decoder reads as, so failures look like absent hardware.

u32 TReadWrite::InPort(u16 port, TAccessWidth width) {
  u32 value = AllOnes(width);
  if (AccessWidthValid(width)) Transport->ReadPort(port, width, value);
  return value & AllOnes(width);
}

bool TReadWrite::OutPort(u16 port, TAccessWidth width, u32 value) {
  if (!AccessWidthValid(width)) return false;
  Transport->WritePort(port, width, value & AllOnes(width));
  return true;
}

u8 TReadWrite::InByte(u16 port) { return static_cast<u8>(InPort(port, 1)); }
u16 TReadWrite::InWord(u16 port) { return static_cast<u16>(InPort(port, 2)); }
u32 TReadWrite::InDword(u16 port) { return InPort(port, 4); }
bool TReadWrite::OutByte(u16 port, u8 value) { return OutPort(port, 1, value); }
bool TReadWrite::OutWord(u16 port, u16 value) { return OutPort(port, 2, value); }
bool TReadWrite::OutDword(u16 port, u32 value) { return OutPort(port, 4, value); }

// --- Index/data pairs -------------------------------------------------------
// One byte register per index. Multi-byte reads take the highest register
// first, as the multi-byte registers of Super I/O chips latch on the read of
// the low byte; writes go low byte first.

u32 TReadWrite::InIndexData(u16 indexPort, u16 dataPort, u8 offset, TAccessWidth width) {
  if (!AccessWidthValid(width)) return AllOnes(width);
  u32 value = 0;
  for (int i = static_cast<int>(width) - 1; i >= 0; --i) {
    OutPort(indexPort, 1, static_cast<u8>(offset + i));
    value = value << 8 | InPort(dataPort, 1);
  }
  return value;
}

bool TReadWrite::OutIndexData(u16 indexPort, u16 dataPort, u8 offset, TAccessWidth width, u32 value) {
  if (!AccessWidthValid(width)) return false;
  for (unsigned i = 0; i < width; ++i) {
    OutPort(indexPort, 1, static_cast<u8>(offset + i));
    OutPort(dataPort, 1, static_cast<u8>(value >> (8 * i)));
  }
  return true;
}

u8 TReadWrite::InIndexDataByte(u16 indexPort, u16 dataPort, u8 offset) {
  return static_cast<u8>(InIndexData(indexPort, dataPort, offset, 1));
}
u16 TReadWrite::InIndexDataWord(u16 indexPort, u16 dataPort, u8 offset) {
  return static_cast<u16>(InIndexData(indexPort, dataPort, offset, 2));
}
u32 TReadWrite::InIndexDataDword(u16 indexPort, u16 dataPort, u8 offset) {
  return InIndexData(indexPort, dataPort, offset, 4);
}
bool TReadWrite::OutIndexDataByte(u16 indexPort, u16 dataPort, u8 offset, u8 value) {
  return OutIndexData(indexPort, dataPort, offset, 1, value);
}
bool TReadWrite::OutIndexDataWord(u16 indexPort, u16 dataPort, u8 offset, u16 value) {
  return OutIndexData(indexPort, dataPort, offset, 2, value);
}

// --- Configuration space ----------------------------------------------------

u32 TReadWrite::ReadConfig(TConfigSpace space, u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width) {
  if (!AccessWidthValid(width)) return AllOnes(width);
  return space == TConfigSpace::Pcie ? ReadEcam(bus, device, function, offset, width)
                                     : ReadLegacyConfig(bus, device, function, offset, width);
}

bool TReadWrite::WriteConfig(TConfigSpace space, u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width,
                             u32 value) {
  if (!AccessWidthValid(width)) return false;
  return space == TConfigSpace::Pcie ? WriteEcam(bus, device, function, offset, width, value)
                                     : WriteLegacyConfig(bus, device, function, offset, width, value);
}

u32 TReadWrite::ReadConfig(TConfigSpace space, PciAddress address, u16 offset, TAccessWidth width) {
  return ReadConfig(space, PciBus(address), PciDevice(address), PciFunction(address), offset, width);
}

bool TReadWrite::WriteConfig(TConfigSpace space, PciAddress address, u16 offset, TAccessWidth width, u32 value) {
  return WriteConfig(space, PciBus(address), PciDevice(address), PciFunction(address), offset, width, value);
}

u32 TReadWrite::ReadLegacyConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width) {
  u32 value = AllOnes(width);
  if (ConfigArgumentsValid(device, function, offset)) {
    Transport->ReadPciConfig(bus, device, function, offset, width, value);
  }
  return value & AllOnes(width);
}

// Writes report success whatever the request did, as the hardware gives no
// acknowledgement; only coordinates that cannot be addressed are refused.
bool TReadWrite::WriteLegacyConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32 value) {
  if (!ConfigArgumentsValid(device, function, offset)) return false;
  Transport->WritePciConfig(bus, device, function, offset, width, value & AllOnes(width));
  return true;
}

// The dword address of a register in the ECAM window, computed in 32 bits as
// the window lies below 4 GiB on every board the program supports.
bool TReadWrite::EcamAddress(u8 bus, u8 device, u8 function, u16 offset, u32& address) const {
  if (PcieBase == kNoPcieBase || !ConfigArgumentsValid(device, function, offset)) return false;
  address = PcieBase + bus * 0x100000u + device * 0x8000u + function * 0x1000u + (offset & 0x0FFCu);
  return true;
}

// Without an ECAM base the legacy mechanism serves the offsets below 100h.
u32 TReadWrite::ReadEcam(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width) {
  u32 address;
  if (EcamAddress(bus, device, function, offset, address)) {
    return (ReadMemValue(address, 4) >> EcamShift(offset, width)) & AllOnes(width);
  }
  return offset < 0x100 ? ReadLegacyConfig(bus, device, function, offset, width) : AllOnes(width);
}

// Writes below 100h always take the legacy mechanism, which every chipset
// decodes, whether or not the ECAM base is known. A byte or word above it is
// merged into its dword, which is read first.
bool TReadWrite::WriteEcam(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32 value) {
  if (offset < 0x100) return WriteLegacyConfig(bus, device, function, offset, width, value);
  u32 address;
  if (!EcamAddress(bus, device, function, offset, address)) return false;
  if (width == 4) return WriteMemValue(address, 4, value);
  const unsigned shift = EcamShift(offset, width);
  const u32 mask = AllOnes(width) << shift;
  const u32 dword = (ReadMemValue(address, 4) & ~mask) | ((value << shift) & mask);
  return WriteMemValue(address, 4, dword);
}

u8 TReadWrite::ReadPciByte(u8 bus, u8 device, u8 function, u16 offset) {
  return static_cast<u8>(ReadConfig(TConfigSpace::Pci, bus, device, function, offset, 1));
}
u16 TReadWrite::ReadPciWord(u8 bus, u8 device, u8 function, u16 offset) {
  return static_cast<u16>(ReadConfig(TConfigSpace::Pci, bus, device, function, offset, 2));
}
u32 TReadWrite::ReadPciDword(u8 bus, u8 device, u8 function, u16 offset) {
  return ReadConfig(TConfigSpace::Pci, bus, device, function, offset, 4);
}
bool TReadWrite::WritePciByte(u8 bus, u8 device, u8 function, u16 offset, u8 value) {
  return WriteConfig(TConfigSpace::Pci, bus, device, function, offset, 1, value);
}
bool TReadWrite::WritePciWord(u8 bus, u8 device, u8 function, u16 offset, u16 value) {
  return WriteConfig(TConfigSpace::Pci, bus, device, function, offset, 2, value);
}
bool TReadWrite::WritePciDword(u8 bus, u8 device, u8 function, u16 offset, u32 value) {
  return WriteConfig(TConfigSpace::Pci, bus, device, function, offset, 4, value);
}
u8 TReadWrite::ReadPciByte(PciAddress address, u16 offset) {
  return static_cast<u8>(ReadConfig(TConfigSpace::Pci, address, offset, 1));
}
u16 TReadWrite::ReadPciWord(PciAddress address, u16 offset) {
  return static_cast<u16>(ReadConfig(TConfigSpace::Pci, address, offset, 2));
}
u32 TReadWrite::ReadPciDword(PciAddress address, u16 offset) {
  return ReadConfig(TConfigSpace::Pci, address, offset, 4);
}
bool TReadWrite::WritePciByte(PciAddress address, u16 offset, u8 value) {
  return WriteConfig(TConfigSpace::Pci, address, offset, 1, value);
}
bool TReadWrite::WritePciWord(PciAddress address, u16 offset, u16 value) {
  return WriteConfig(TConfigSpace::Pci, address, offset, 2, value);
}
bool TReadWrite::WritePciDword(PciAddress address, u16 offset, u32 value) {
  return WriteConfig(TConfigSpace::Pci, address, offset, 4, value);
}
u8 TReadWrite::ReadPcieByte(u8 bus, u8 device, u8 function, u16 offset) {
  return static_cast<u8>(ReadConfig(TConfigSpace::Pcie, bus, device, function, offset, 1));
}
u16 TReadWrite::ReadPcieWord(u8 bus, u8 device, u8 function, u16 offset) {
  return static_cast<u16>(ReadConfig(TConfigSpace::Pcie, bus, device, function, offset, 2));
}
u32 TReadWrite::ReadPcieDword(u8 bus, u8 device, u8 function, u16 offset) {
  return ReadConfig(TConfigSpace::Pcie, bus, device, function, offset, 4);
}
bool TReadWrite::WritePcieByte(u8 bus, u8 device, u8 function, u16 offset, u8 value) {
  return WriteConfig(TConfigSpace::Pcie, bus, device, function, offset, 1, value);
}
bool TReadWrite::WritePcieWord(u8 bus, u8 device, u8 function, u16 offset, u16 value) {
  return WriteConfig(TConfigSpace::Pcie, bus, device, function, offset, 2, value);
}
bool TReadWrite::WritePcieDword(u8 bus, u8 device, u8 function, u16 offset, u32 value) {
  return WriteConfig(TConfigSpace::Pcie, bus, device, function, offset, 4, value);
}
u8 TReadWrite::ReadPcieByte(PciAddress address, u16 offset) {
  return static_cast<u8>(ReadConfig(TConfigSpace::Pcie, address, offset, 1));
}
u16 TReadWrite::ReadPcieWord(PciAddress address, u16 offset) {
  return static_cast<u16>(ReadConfig(TConfigSpace::Pcie, address, offset, 2));
}
u32 TReadWrite::ReadPcieDword(PciAddress address, u16 offset) {
  return ReadConfig(TConfigSpace::Pcie, address, offset, 4);
}
bool TReadWrite::WritePcieByte(PciAddress address, u16 offset, u8 value) {
  return WriteConfig(TConfigSpace::Pcie, address, offset, 1, value);
}
bool TReadWrite::WritePcieWord(PciAddress address, u16 offset, u16 value) {
  return WriteConfig(TConfigSpace::Pcie, address, offset, 2, value);
}
bool TReadWrite::WritePcieDword(PciAddress address, u16 offset, u32 value) {
  return WriteConfig(TConfigSpace::Pcie, address, offset, 4, value);
}

// --- Device search -------------------------------------------------------------

void TReadWrite::ScanPciFunctions(const std::function<bool(u8, u8, u8)>& visit, TEmptySlot empty) {
  for (unsigned bus = 0; bus <= 255; ++bus) {
    const u8 b = static_cast<u8>(bus);
    for (u8 device = 0; device <= 31; ++device) {
      const u32 id = ReadPciDword(b, device, 0, 0x00);
      if (id == 0xFFFFFFFF || (id == 0 && empty == TEmptySlot::AllOnesOrZero)) continue;
      const u8 functions = (ReadPciByte(b, device, 0, 0x0E) & 0x80) != 0 ? 8 : 1;
      for (u8 function = 0; function < functions; ++function) {
        if (!visit(b, device, function)) return;
      }
    }
  }
}

template <typename Matches>
PciAddress TReadWrite::FindPciFunction(Matches matches, u8 index) {
  PciAddress found = kPciNotFound;
  ScanPciFunctions([&](u8 bus, u8 device, u8 function) {
    if (!matches(bus, device, function)) return true;
    if (index != 0) {
      --index;
      return true;
    }
    found = MakePciAddress(bus, device, function);
    return false;
  });
  return found;
}

std::vector<PciAddress> TReadWrite::PciFunctions() {
  std::vector<PciAddress> functions;
  ScanPciFunctions([&](u8 bus, u8 device, u8 function) {
    if (function == 0 || ReadPciDword(bus, device, function, 0x00) != 0xFFFFFFFF) {
      functions.push_back(MakePciAddress(bus, device, function));
    }
    return true;
  });
  return functions;
}

PciAddress TReadWrite::FindPciDevice(u32 identifier, u8 index) {
  return FindPciFunction(
      [&](u8 bus, u8 device, u8 function) {
        const u32 id = ReadPciDword(bus, device, function, 0x00);
        return identifier == id || identifier == (id | 0x0000FFFFu) || identifier == (id | 0xFFFF0000u);
      },
      index);
}

PciAddress TReadWrite::FindPciClass(u32 classCode, u8 index) {
  // Each wildcard form sets one or two bytes of the function's class code to
  // FFh; the all-FFh pattern is not among them.
  static constexpr u32 kWildcards[] = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF, 0xFF00FF, 0xFFFF00};
  return FindPciFunction(
      [&](u8 bus, u8 device, u8 function) {
        const u32 code = ReadPciDword(bus, device, function, 0x08) >> 8;
        return std::any_of(std::begin(kWildcards), std::end(kWildcards),
                           [&](u32 wildcard) { return classCode == (code | wildcard); });
      },
      index);
}

// --- Physical memory -------------------------------------------------------------

// Memory holds values low byte first. A value read whose request fails reads
// all ones.
u32 TReadWrite::ReadMemValue(u64 address, TAccessWidth width) {
  u8 bytes[4];
  if (!AccessWidthValid(width) || !Transport->ReadMemory(address, bytes, width, MemUnit(width))) return AllOnes(width);
  u32 value = 0;
  for (unsigned i = width; i-- > 0;) value = value << 8 | bytes[i];
  return value;
}

bool TReadWrite::WriteMemValue(u64 address, TAccessWidth width, u32 value) {
  if (!AccessWidthValid(width)) return false;
  u8 bytes[4];
  for (unsigned i = 0; i < width; ++i) bytes[i] = static_cast<u8>(value >> (8 * i));
  return Transport->WriteMemory(address, bytes, width, MemUnit(width));
}

u8 TReadWrite::ReadMemByte(u64 address) { return static_cast<u8>(ReadMemValue(address, 1)); }
u16 TReadWrite::ReadMemWord(u64 address) { return static_cast<u16>(ReadMemValue(address, 2)); }
u32 TReadWrite::ReadMemDword(u64 address) { return ReadMemValue(address, 4); }
bool TReadWrite::WriteMemByte(u8 value, u64 address) { return WriteMemValue(address, 1, value); }
bool TReadWrite::WriteMemWord(u16 value, u64 address) { return WriteMemValue(address, 2, value); }
bool TReadWrite::WriteMemDword(u32 value, u64 address) { return WriteMemValue(address, 4, value); }

bool TReadWrite::ReadMemBlock(void* buffer, u32 length, u64 address) {
  return ReadMem(buffer, length, address, kMemUnitByte);
}

bool TReadWrite::ReadMem(void* buffer, u32 length, u64 address, u32 unit) {
  if (!UnitValid(length, address, unit)) return false;
  if (length == 0) return true;
  return Transport->ReadMemory(address, buffer, length, unit);
}

bool TReadWrite::ReadMem256(void* buffer, u64 address) { return ReadMemBlock(buffer, 256, address); }

// Moves the range in chunks of at most MemSearchChunk bytes. The current
// address always names the next candidate, so each chunk starts at the first
// candidate not yet examined and overlaps the previous one whenever a pattern
// could straddle the boundary. A chunk that cannot be read holds no match:
// its candidates are passed over, never compared against stale bytes.
u64 TReadWrite::FindMem(u32 length, u32 step, u64 address, u32 index, const void* pattern, u32 patternLength) {
  if (patternLength == 0 || patternLength > Settings.MaxPatternLength || pattern == nullptr) return kMemNotFound;
  if (step == 0) step = 1;
  std::vector<u8> chunk(Settings.MemSearchChunk);
  const u8* wanted = static_cast<const u8*>(pattern);
  u64 current = address;
  u32 remaining = length;
  while (remaining >= patternLength) {
    const u32 size = std::min(Settings.MemSearchChunk, remaining);
    // The candidates at 0, step, 2 * step ... whose pattern fits the chunk.
    const u32 candidates = (size - patternLength) / step + 1;
    if (ReadMemBlock(chunk.data(), size, current)) {
      for (u32 i = 0; i < candidates; ++i) {
        const u8* at = chunk.data() + u64{i} * step;
        if (step == 1) {
          // The first byte rules out most candidates; memchr passes over them
          // many at a time, which is most of the start-up firmware searches.
          at = static_cast<const u8*>(std::memchr(at, wanted[0], candidates - i));
          if (at == nullptr) break;
          i = static_cast<u32>(at - chunk.data());
        }
        if (*at == wanted[0] && std::memcmp(at, wanted, patternLength) == 0) {
          if (index == 0) return current + u64{i} * step;
          --index;
        }
      }
    }
    // A step that leaves the range after the chunk's last candidate ends the
    // search there.
    const u64 examined = u64{candidates} * step;
    if (examined > remaining) return kMemNotFound;
    current += examined;
    remaining -= static_cast<u32>(examined);
  }
  return kMemNotFound;
}

// --- Processor --------------------------------------------------------------------

u32 TReadWrite::ProcessorCount() { return Transport->ProcessorCount(); }

bool TReadWrite::SwitchCpu(int cpu) {
  if (ProcessorCount() <= 1) return false;
  const u64 mask = u64{1} << ((static_cast<unsigned>(cpu) - 1) & 31);
  return Transport->SetAffinity(mask);
}

bool TReadWrite::ReadMsr(CpuRegisters& regs) {
  u64 value = 0;
  if (!Transport->ReadMsr(regs.Ecx, value)) return false;
  regs.Eax = static_cast<u32>(value);
  regs.Edx = static_cast<u32>(value >> 32);
  return true;
}

bool TReadWrite::WriteMsr(CpuRegisters& regs) {
  return Transport->WriteMsr(regs.Ecx, u64{regs.Edx} << 32 | regs.Eax);
}

u64 TReadWrite::ReadCr(u32 index) {
  u64 value = 0;
  return Transport->ReadCr(index, value) ? value : ~u64{0};
}

bool TReadWrite::WriteCr(u32 index, u64 value) { return Transport->WriteCr(index, value); }

u64 TReadWrite::ReadTsc() {
  u64 value = 0;
  return Transport->ReadTsc(value) ? value : 0;
}

u64 TReadWrite::ReadPmc(u32 counter) {
  u64 value = 0;
  return Transport->ReadPmc(counter, value) ? value : 0;
}

// CPUID runs in the program itself: it is not privileged. Only the leaf
// comes from the caller (Eax); the sub-leaf is always 0, so a leaf with
// sub-leaves (4, 7, 0Bh) reports its first one whatever the other fields
// held from an earlier request.
bool TReadWrite::Cpuid(CpuRegisters& regs) {
#if defined(__i386__) || defined(__x86_64__)
  unsigned eax, ebx, ecx, edx;
  __cpuid_count(regs.Eax, 0, eax, ebx, ecx, edx);
  regs = {eax, ebx, ecx, edx};
#endif
  return true;
}

}  // namespace lirrin
