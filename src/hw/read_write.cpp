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

u32 AllOnes(TAccessWidth width) { return width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1; }

// Configuration coordinates outside the mechanism's fields would spill into
// neighbouring fields of the address (device 32 is bus + 1, device 0), so
// they are refused rather than wrapped.
bool ConfigArgumentsValid(u8 device, u8 function, u16 offset) {
  return device <= 31 && function <= 7 && offset <= kMaxConfigOffset;
}

void Unpack(PciAddress address, u8& bus, u8& device, u8& function) {
  bus = static_cast<u8>(address >> 8);
  device = static_cast<u8>((address >> 3) & 0x1F);
  function = static_cast<u8>(address & 0x07);
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

u8 TReadWrite::InByte(u16 port) {
  u32 value = 0xFF;
  Transport->ReadPort(port, 1, value);
  return static_cast<u8>(value);
}

u16 TReadWrite::InWord(u16 port) {
  u32 value = 0xFFFF;
  Transport->ReadPort(port, 2, value);
  return static_cast<u16>(value);
}

u32 TReadWrite::InDword(u16 port) {
  u32 value = 0xFFFFFFFF;
  Transport->ReadPort(port, 4, value);
  return value;
}

bool TReadWrite::OutByte(u16 port, u8 value) {
  Transport->WritePort(port, 1, value);
  return true;
}

bool TReadWrite::OutWord(u16 port, u16 value) {
  Transport->WritePort(port, 2, value);
  return true;
}

bool TReadWrite::OutDword(u16 port, u32 value) {
  Transport->WritePort(port, 4, value);
  return true;
}

// --- Index/data pairs -------------------------------------------------------

u8 TReadWrite::InIndexDataByte(u16 indexPort, u16 dataPort, u8 offset) {
  OutByte(indexPort, offset);
  return InByte(dataPort);
}

u16 TReadWrite::InIndexDataWord(u16 indexPort, u16 dataPort, u8 offset) {
  const u8 high = InIndexDataByte(indexPort, dataPort, static_cast<u8>(offset + 1));
  const u8 low = InIndexDataByte(indexPort, dataPort, offset);
  return static_cast<u16>(high << 8 | low);
}

u32 TReadWrite::InIndexDataDword(u16 indexPort, u16 dataPort, u8 offset) {
  // Highest register first, as the multi-byte registers of Super I/O chips
  // latch on the read of the low byte.
  u32 value = 0;
  for (int i = 3; i >= 0; --i) {
    value = value << 8 | InIndexDataByte(indexPort, dataPort, static_cast<u8>(offset + i));
  }
  return value;
}

bool TReadWrite::OutIndexDataByte(u16 indexPort, u16 dataPort, u8 offset, u8 value) {
  OutByte(indexPort, offset);
  return OutByte(dataPort, value);
}

bool TReadWrite::OutIndexDataWord(u16 indexPort, u16 dataPort, u8 offset, u16 value) {
  OutIndexDataByte(indexPort, dataPort, offset, static_cast<u8>(value));
  return OutIndexDataByte(indexPort, dataPort, static_cast<u8>(offset + 1), static_cast<u8>(value >> 8));
}

// --- Legacy configuration space ---------------------------------------------

u32 TReadWrite::ReadConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width) {
  u32 value = AllOnes(width);
  if (ConfigArgumentsValid(device, function, offset)) {
    Transport->ReadPciConfig(bus, device, function, offset, width, value);
  }
  return value & AllOnes(width);
}

// Writes report success whatever the request did, as the hardware gives no
// acknowledgement; only coordinates that cannot be addressed are refused.
bool TReadWrite::WriteConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32 value) {
  if (!ConfigArgumentsValid(device, function, offset)) return false;
  Transport->WritePciConfig(bus, device, function, offset, width, value);
  return true;
}

u8 TReadWrite::ReadPciByte(u8 bus, u8 device, u8 function, u16 offset) {
  return static_cast<u8>(ReadConfig(bus, device, function, offset, 1));
}
u16 TReadWrite::ReadPciWord(u8 bus, u8 device, u8 function, u16 offset) {
  return static_cast<u16>(ReadConfig(bus, device, function, offset, 2));
}
u32 TReadWrite::ReadPciDword(u8 bus, u8 device, u8 function, u16 offset) {
  return ReadConfig(bus, device, function, offset, 4);
}
bool TReadWrite::WritePciByte(u8 bus, u8 device, u8 function, u16 offset, u8 value) {
  return WriteConfig(bus, device, function, offset, 1, value);
}
bool TReadWrite::WritePciWord(u8 bus, u8 device, u8 function, u16 offset, u16 value) {
  return WriteConfig(bus, device, function, offset, 2, value);
}
bool TReadWrite::WritePciDword(u8 bus, u8 device, u8 function, u16 offset, u32 value) {
  return WriteConfig(bus, device, function, offset, 4, value);
}

u8 TReadWrite::ReadPciByte(PciAddress address, u16 offset) {
  u8 bus, device, function;
  Unpack(address, bus, device, function);
  return ReadPciByte(bus, device, function, offset);
}
u16 TReadWrite::ReadPciWord(PciAddress address, u16 offset) {
  u8 bus, device, function;
  Unpack(address, bus, device, function);
  return ReadPciWord(bus, device, function, offset);
}
u32 TReadWrite::ReadPciDword(PciAddress address, u16 offset) {
  u8 bus, device, function;
  Unpack(address, bus, device, function);
  return ReadPciDword(bus, device, function, offset);
}
bool TReadWrite::WritePciByte(PciAddress address, u16 offset, u8 value) {
  u8 bus, device, function;
  Unpack(address, bus, device, function);
  return WritePciByte(bus, device, function, offset, value);
}
bool TReadWrite::WritePciWord(PciAddress address, u16 offset, u16 value) {
  u8 bus, device, function;
  Unpack(address, bus, device, function);
  return WritePciWord(bus, device, function, offset, value);
}
bool TReadWrite::WritePciDword(PciAddress address, u16 offset, u32 value) {
  u8 bus, device, function;
  Unpack(address, bus, device, function);
  return WritePciDword(bus, device, function, offset, value);
}

// --- Enhanced configuration space (ECAM) --------------------------------------

// The dword address of a register in the ECAM window, computed in 32 bits as
// the window lies below 4 GiB on every board the program supports.
bool TReadWrite::EcamAddress(u8 bus, u8 device, u8 function, u16 offset, u32& address) const {
  if (PcieBase == kNoPcieBase || !ConfigArgumentsValid(device, function, offset)) return false;
  address = PcieBase + bus * 0x100000u + device * 0x8000u + function * 0x1000u + (offset & 0x0FFCu);
  return true;
}

u8 TReadWrite::ReadPcieByte(u8 bus, u8 device, u8 function, u16 offset) {
  u32 address;
  if (EcamAddress(bus, device, function, offset, address)) {
    return static_cast<u8>(ReadMemDword(address) >> (8 * (offset & 3)));
  }
  return offset < 0x100 ? ReadPciByte(bus, device, function, offset) : 0xFF;
}

u16 TReadWrite::ReadPcieWord(u8 bus, u8 device, u8 function, u16 offset) {
  u32 address;
  if (EcamAddress(bus, device, function, offset, address)) {
    const u32 dword = ReadMemDword(address);
    return static_cast<u16>((offset & 3) == 0 ? dword : dword >> 16);
  }
  return offset < 0x100 ? ReadPciWord(bus, device, function, offset) : 0xFFFF;
}

u32 TReadWrite::ReadPcieDword(u8 bus, u8 device, u8 function, u16 offset) {
  u32 address;
  if (EcamAddress(bus, device, function, offset, address)) return ReadMemDword(address);
  return offset < 0x100 ? ReadPciDword(bus, device, function, offset) : 0xFFFFFFFF;
}

// Writes below 100h always take the legacy mechanism, which every chipset
// decodes, whether or not the ECAM base is known.
bool TReadWrite::WritePcieByte(u8 bus, u8 device, u8 function, u16 offset, u8 value) {
  if (offset < 0x100) return WritePciByte(bus, device, function, offset, value);
  u32 address;
  if (!EcamAddress(bus, device, function, offset, address)) return false;
  const unsigned shift = 8 * (offset & 3);
  const u32 dword = (ReadMemDword(address) & ~(0xFFu << shift)) | (static_cast<u32>(value) << shift);
  return WriteMemDword(dword, address);
}

bool TReadWrite::WritePcieWord(u8 bus, u8 device, u8 function, u16 offset, u16 value) {
  if (offset < 0x100) return WritePciWord(bus, device, function, offset, value);
  u32 address;
  if (!EcamAddress(bus, device, function, offset, address)) return false;
  const u32 dword = ReadMemDword(address);
  const u32 merged = (offset & 3) == 0 ? (dword & 0xFFFF0000u) | value : (dword & 0x0000FFFFu) | (u32{value} << 16);
  return WriteMemDword(merged, address);
}

bool TReadWrite::WritePcieDword(u8 bus, u8 device, u8 function, u16 offset, u32 value) {
  if (offset < 0x100) return WritePciDword(bus, device, function, offset, value);
  u32 address;
  if (!EcamAddress(bus, device, function, offset, address)) return false;
  return WriteMemDword(value, address);
}

u8 TReadWrite::ReadPcieByte(PciAddress address, u16 offset) {
  u8 bus, device, function;
  Unpack(address, bus, device, function);
  return ReadPcieByte(bus, device, function, offset);
}
u16 TReadWrite::ReadPcieWord(PciAddress address, u16 offset) {
  u8 bus, device, function;
  Unpack(address, bus, device, function);
  return ReadPcieWord(bus, device, function, offset);
}
u32 TReadWrite::ReadPcieDword(PciAddress address, u16 offset) {
  u8 bus, device, function;
  Unpack(address, bus, device, function);
  return ReadPcieDword(bus, device, function, offset);
}
bool TReadWrite::WritePcieByte(PciAddress address, u16 offset, u8 value) {
  u8 bus, device, function;
  Unpack(address, bus, device, function);
  return WritePcieByte(bus, device, function, offset, value);
}
bool TReadWrite::WritePcieWord(PciAddress address, u16 offset, u16 value) {
  u8 bus, device, function;
  Unpack(address, bus, device, function);
  return WritePcieWord(bus, device, function, offset, value);
}
bool TReadWrite::WritePcieDword(PciAddress address, u16 offset, u32 value) {
  u8 bus, device, function;
  Unpack(address, bus, device, function);
  return WritePcieDword(bus, device, function, offset, value);
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

// The value reads preset all ones and keep them when the request fails.
template <typename T>
T TReadWrite::ReadMemValue(u64 address, u32 unit) {
  T value = static_cast<T>(~T{0});
  if (!Transport->ReadMemory(address, &value, sizeof value, unit)) return static_cast<T>(~T{0});
  return value;
}

u8 TReadWrite::ReadMemByte(u64 address) { return ReadMemValue<u8>(address, kMemUnitByte); }
u16 TReadWrite::ReadMemWord(u64 address) { return ReadMemValue<u16>(address, kMemUnitWord); }
u32 TReadWrite::ReadMemDword(u64 address) { return ReadMemValue<u32>(address, kMemUnitDword); }

bool TReadWrite::ReadMemBlock(void* buffer, u32 length, u64 address) {
  return ReadMem(buffer, length, address, kMemUnitByte);
}

bool TReadWrite::ReadMem(void* buffer, u32 length, u64 address, u32 unit) {
  if (!UnitValid(length, address, unit)) return false;
  if (length == 0) return true;
  return Transport->ReadMemory(address, buffer, length, unit);
}

bool TReadWrite::ReadMem256(void* buffer, u64 address) { return ReadMemBlock(buffer, 256, address); }

bool TReadWrite::WriteMemByte(u8 value, u64 address) {
  return Transport->WriteMemory(address, &value, sizeof value, kMemUnitByte);
}

bool TReadWrite::WriteMemWord(u16 value, u64 address) {
  return Transport->WriteMemory(address, &value, sizeof value, kMemUnitWord);
}

bool TReadWrite::WriteMemDword(u32 value, u64 address) {
  return Transport->WriteMemory(address, &value, sizeof value, kMemUnitDword);
}

// Moves the range in chunks of at most MemSearchChunk bytes. The current
// address always names the next candidate, so each chunk starts at the first
// candidate not yet examined and overlaps the previous one whenever a pattern
// could straddle the boundary. A chunk that cannot be read holds no match:
// its candidates are passed over, never compared against stale bytes.
u64 TReadWrite::FindMem(u32 length, u32 step, u64 address, u32 index, const void* pattern, u32 patternLength) {
  if (patternLength == 0 || patternLength > Settings.MaxPatternLength || pattern == nullptr) return kMemNotFound;
  if (step == 0) step = 1;
  std::vector<u8> chunk(Settings.MemSearchChunk);
  u64 current = address;
  u32 remaining = length;
  while (remaining >= patternLength) {
    const u32 size = std::min(Settings.MemSearchChunk, remaining);
    const bool readable = ReadMemBlock(chunk.data(), size, current);
    for (u32 i = 0; i + patternLength <= size; i += step) {
      if (readable && std::memcmp(chunk.data() + i, pattern, patternLength) == 0) {
        if (index == 0) return current;
        --index;
      }
      if (step > remaining) return kMemNotFound;
      current += step;
      remaining -= step;
    }
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

// CPUID runs in the program itself: it is not privileged. The sub-leaf
// (ECX) input is taken from the Ecx field, so leaves such as 4, 7 and 0Bh
// can be enumerated; callers that do not care leave it 0.
bool TReadWrite::Cpuid(CpuRegisters& regs) {
#if defined(__i386__) || defined(__x86_64__)
  unsigned eax, ebx, ecx, edx;
  __cpuid_count(regs.Eax, regs.Ecx, eax, ebx, ecx, edx);
  regs = {eax, ebx, ecx, edx};
#endif
  return true;
}

}  // namespace lirrin
