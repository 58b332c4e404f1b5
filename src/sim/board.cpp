#include "sim/board.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

namespace lirrin::sim {

namespace {

u16 Key(u8 bus, u8 device, u8 function) { return static_cast<u16>(bus << 8 | (device & 0x1F) << 3 | (function & 7)); }

u32 AllOnes(TAccessWidth width) { return width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1; }

constexpr u64 kPageSize = 4096;

// Nominal TSC rate of the simulated processor: 1 GHz.
constexpr u64 kTscPerMillisecond = 1'000'000;
constexpr u32 kTimeStampCounterMsr = 0x10;  // IA32_TIME_STAMP_COUNTER

}  // namespace

// A range of physical memory. RAM is kept in sparse pages that read as zero
// until written, so boards can have realistic amounts of it.
struct TSimBoard::TRegion {
  enum class Kind { Ram, Rom, Mmio } Type;
  u64 Base;
  u64 Size;
  std::unordered_map<u64, std::array<u8, kPageSize>> Pages;  // RAM
  std::vector<u8> Bytes;                                       // ROM
  TMmioHandler* Handler = nullptr;                             // MMIO

  u64 End() const { return Base + Size; }

  // Copies between the region and `bytes`; ROM ignores writes, as a flash
  // part in read mode does, and RAM pages read as zero until written.
  void Read(u64 offset, u8* bytes, u32 length) const {
    if (Type == Kind::Rom) {
      std::memcpy(bytes, Bytes.data() + offset, length);
      return;
    }
    ForEachPage(offset, length, [&](u64 page, u64 within, u32 count, u32 done) {
      const auto found = Pages.find(page);
      if (found == Pages.end()) {
        std::memset(bytes + done, 0, count);
      } else {
        std::memcpy(bytes + done, found->second.data() + within, count);
      }
    });
  }

  void Write(u64 offset, const u8* bytes, u32 length) {
    if (Type == Kind::Rom) return;
    ForEachPage(offset, length, [&](u64 page, u64 within, u32 count, u32 done) {
      auto [found, added] = Pages.try_emplace(page);
      if (added) found->second.fill(0);
      std::memcpy(found->second.data() + within, bytes + done, count);
    });
  }

  template <typename Visit>
  static void ForEachPage(u64 offset, u32 length, Visit visit) {
    u32 done = 0;
    while (done < length) {
      const u64 at = offset + done;
      const u32 count = static_cast<u32>(std::min<u64>(kPageSize - at % kPageSize, length - done));
      visit(at / kPageSize, at % kPageSize, count, done);
      done += count;
    }
  }
};

// Configuration mechanism #1: a dword written to 0CF8h selects bus, device,
// function and register (bits 8..11 of the register in bits 24..27); the data
// window 0CFCh..0CFFh then reaches that register. Only dword accesses reach
// the address register; narrower ones at 0CF8h..0CFBh belong to other
// devices on real chipsets (0CF9h is the reset control register).
class TSimBoard::TConfigMechanism final : public TPortHandler {
 public:
  explicit TConfigMechanism(TSimBoard& board) : Board(board) {}

  u32 ReadPort(u16 port, TAccessWidth width) override {
    if (port == kConfigAddressPort && width == 4) return Address;
    if (port < kConfigDataPort) return AllOnes(width);
    TPciFunction* target = Selected();
    return target != nullptr ? target->ReadConfig(Register(port), width) : AllOnes(width);
  }

  void WritePort(u16 port, TAccessWidth width, u32 value) override {
    if (port == kConfigAddressPort && width == 4) {
      Address = value;
      return;
    }
    if (port < kConfigDataPort) return;
    if (TPciFunction* target = Selected()) target->WriteConfig(Register(port), width, value);
  }

 private:
  TPciFunction* Selected() const {
    if ((Address & 0x80000000u) == 0) return nullptr;
    return Board.Function(static_cast<u8>(Address >> 16), static_cast<u8>((Address >> 11) & 0x1F),
                          static_cast<u8>((Address >> 8) & 7));
  }
  u16 Register(u16 port) const {
    return static_cast<u16>(((Address >> 24) & 0x0F) << 8 | (Address & 0xFC) | (port - kConfigDataPort));
  }

  TSimBoard& Board;
  u32 Address = 0;
};

// The ECAM window: bus << 20 | device << 15 | function << 12 | register.
class TSimBoard::TEcamWindow final : public TMmioHandler {
 public:
  explicit TEcamWindow(TSimBoard& board) : Board(board) {}

  u32 ReadMmio(u64 offset, TAccessWidth width) override {
    TPciFunction* target = Target(offset);
    return target != nullptr ? target->ReadConfig(offset & 0xFFF, width) : AllOnes(width);
  }

  void WriteMmio(u64 offset, TAccessWidth width, u32 value) override {
    if (TPciFunction* target = Target(offset)) target->WriteConfig(offset & 0xFFF, width, value);
  }

 private:
  TPciFunction* Target(u64 offset) const {
    return Board.Function(static_cast<u8>(offset >> 20), static_cast<u8>((offset >> 15) & 0x1F),
                          static_cast<u8>((offset >> 12) & 7));
  }

  TSimBoard& Board;
};

TSimBoard::TSimBoard(const TBoardDescription& description)
    : BoardName(description.Name),
      LegacyConfig(std::make_unique<TConfigMechanism>(*this)),
      Processors(description.Processors),
      AffinityMask(description.Processors >= 64 ? ~u64{0} : (u64{1} << description.Processors) - 1) {
  MapPorts(kConfigAddressPort, 8, LegacyConfig.get());
  for (const TPciFunctionDescription& pci : description.Functions) {
    TPciFunction& function =
        AddFunction(pci.Bus, pci.Device, pci.Function,
                    std::make_unique<TPciFunction>(pci.Id, pci.ClassCode, pci.Revision, pci.HeaderType,
                                                   pci.Subsystem));
    for (const auto& [offset, value] : pci.Dwords) function.Poke(offset, 4, value);
  }
  for (const TMemoryDescription& range : description.Memory) {
    if (range.Type == TMemoryDescription::Kind::Ram) {
      AddRam(range.Base, range.Size);
      for (const auto& [offset, bytes] : range.Contents) {
        Poke(range.Base + offset, bytes.data(), static_cast<u32>(bytes.size()));
      }
    } else {
      std::vector<u8> image(range.Size, 0xFF);
      for (const auto& [offset, bytes] : range.Contents) {
        std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
      }
      AddRom(range.Base, std::move(image));
    }
  }
  if (description.EcamBase != 0 && description.EcamBuses != 0) {
    Ecam = std::make_unique<TEcamWindow>(*this);
    MapMmio(description.EcamBase, u64{description.EcamBuses} << 20, Ecam.get());
  }
  Msrs = description.Msrs;
  Crs = {{0, 0x80050033}, {2, 0}, {3, 0x001AD000}, {4, 0x000406F8}, {8, 0}};
  for (const auto& attach : description.Devices) attach(*this);
}

TSimBoard::~TSimBoard() = default;

// --- Building ----------------------------------------------------------------

TPciFunction& TSimBoard::AddFunction(u8 bus, u8 device, u8 function, std::unique_ptr<TPciFunction> model) {
  auto& slot = Functions[Key(bus, device, function)];
  slot = std::move(model);
  return *slot;
}

TPciFunction* TSimBoard::Function(u8 bus, u8 device, u8 function) const {
  const auto found = Functions.find(Key(bus, device, function));
  return found == Functions.end() ? nullptr : found->second.get();
}

void TSimBoard::MapPorts(u16 first, u16 count, TPortHandler* handler) {
  Ports.insert(Ports.begin(), TPortRange{first, count, handler});
}

void TSimBoard::UnmapPorts(TPortHandler* handler) {
  std::erase_if(Ports, [handler](const TPortRange& range) { return range.Handler == handler; });
}

TPortHandler* TSimBoard::PortHandler(u16 port) const {
  for (const TPortRange& range : Ports) {
    if (port >= range.First && u32{static_cast<u16>(port - range.First)} < range.Count) return range.Handler;
  }
  return nullptr;
}

void TSimBoard::AddRegion(std::unique_ptr<TRegion> region) {
  const auto at = std::upper_bound(Regions.begin(), Regions.end(), region->Base,
                                   [](u64 base, const auto& other) { return base < other->Base; });
  Regions.insert(at, std::move(region));
}

void TSimBoard::AddRam(u64 base, u64 size) {
  auto region = std::make_unique<TRegion>();
  region->Type = TRegion::Kind::Ram;
  region->Base = base;
  region->Size = size;
  AddRegion(std::move(region));
}

std::vector<std::pair<u64, u64>> TSimBoard::RamRanges() const {
  std::vector<std::pair<u64, u64>> ranges;
  for (const auto& region : Regions) {
    if (region->Type == TRegion::Kind::Ram) ranges.emplace_back(region->Base, region->Size);
  }
  return ranges;
}

void TSimBoard::AddRom(u64 base, std::vector<u8> bytes) {
  auto region = std::make_unique<TRegion>();
  region->Type = TRegion::Kind::Rom;
  region->Base = base;
  region->Size = bytes.size();
  region->Bytes = std::move(bytes);
  AddRegion(std::move(region));
}

void TSimBoard::MapMmio(u64 base, u64 size, TMmioHandler* handler) {
  auto region = std::make_unique<TRegion>();
  region->Type = TRegion::Kind::Mmio;
  region->Base = base;
  region->Size = size;
  region->Handler = handler;
  AddRegion(std::move(region));
}

TSimBoard::TRegion* TSimBoard::RegionAt(u64 address) const {
  for (const auto& region : Regions) {
    if (address >= region->Base && address < region->End()) return region.get();
  }
  return nullptr;
}

bool TSimBoard::Covered(u64 address, u32 length) const {
  u64 at = address;
  const u64 end = address + length;
  if (end < address) return false;
  while (at < end) {
    const TRegion* region = RegionAt(at);
    if (region == nullptr) return false;
    at = region->End();
  }
  return true;
}

bool TSimBoard::Poke(u64 address, const void* bytes, u32 length) {
  if (!Covered(address, length)) return false;
  const u8* source = static_cast<const u8*>(bytes);
  for (u32 done = 0; done < length;) {
    TRegion* region = RegionAt(address + done);
    if (region->Type == TRegion::Kind::Mmio) return false;
    const u64 offset = address + done - region->Base;
    const u32 span = static_cast<u32>(std::min<u64>(region->End() - (address + done), length - done));
    if (region->Type == TRegion::Kind::Rom) {
      std::memcpy(region->Bytes.data() + offset, source + done, span);  // the firmware image itself
    } else {
      region->Write(offset, source + done, span);
    }
    done += span;
  }
  return true;
}

u64 TSimBoard::Msr(u32 index) const {
  const auto found = Msrs.find(index);
  return found == Msrs.end() ? 0 : found->second;
}

u64 TSimBoard::TotalRequests() const {
  u64 total = 0;
  for (u64 count : Counts) total += count;
  return total;
}

// --- Ports and configuration space ---------------------------------------------------

u32 TSimBoard::InPort(u16 port, TAccessWidth width) {
  TPortHandler* handler = PortHandler(port);
  // Nothing decodes the port: the bus floats high.
  return handler != nullptr ? handler->ReadPort(port, width) & AllOnes(width) : AllOnes(width);
}

void TSimBoard::OutPort(u16 port, TAccessWidth width, u32 value) {
  if (TPortHandler* handler = PortHandler(port)) handler->WritePort(port, width, value & AllOnes(width));
}

bool TSimBoard::ReadPort(u16 port, TAccessWidth width, u32& value) {
  Count(TRequestKind::Port);
  value = InPort(port, width);
  return true;
}

bool TSimBoard::WritePort(u16 port, TAccessWidth width, u32 value) {
  Count(TRequestKind::Port);
  OutPort(port, width, value);
  return true;
}

bool TSimBoard::ReadPciConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32& value) {
  Count(TRequestKind::PciConfig);
  OutPort(kConfigAddressPort, 4, LegacyConfigAddress(bus, device, function, offset));
  value = InPort(static_cast<u16>(kConfigDataPort + (offset & 3)), width);
  return true;
}

bool TSimBoard::WritePciConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32 value) {
  Count(TRequestKind::PciConfig);
  OutPort(kConfigAddressPort, 4, LegacyConfigAddress(bus, device, function, offset));
  OutPort(static_cast<u16>(kConfigDataPort + (offset & 3)), width, value);
  return true;
}

// --- Physical memory ---------------------------------------------------------------

// A request is refused as a whole when any byte of it lies in a hole, as the
// driver fails to map such a range and copies nothing. Exactly one of
// `readInto` and `writeFrom` is set.
bool TSimBoard::TransferMemory(u64 address, u8* readInto, const u8* writeFrom, u32 length, u32 unit) {
  Count(TRequestKind::Memory);
  if (unit > kMemUnitDword) return false;
  const TAccessWidth width = 1u << unit;
  if (length % width != 0 || !Covered(address, length)) return false;
  u32 done = 0;
  while (done < length) {
    TRegion* region = RegionAt(address + done);
    const u64 offset = address + done - region->Base;
    const u32 span = static_cast<u32>(std::min<u64>(region->End() - (address + done), length - done));
    if (region->Type != TRegion::Kind::Mmio) {
      if (readInto != nullptr) {
        region->Read(offset, readInto + done, span);
      } else {
        region->Write(offset, writeFrom + done, span);
      }
    } else {
      // Registers see each access at its own width.
      for (u32 i = 0; i < span; i += width) {
        u32 value = 0;
        if (readInto != nullptr) {
          value = region->Handler->ReadMmio(offset + i, width);
          std::memcpy(readInto + done + i, &value, width);
        } else {
          std::memcpy(&value, writeFrom + done + i, width);
          region->Handler->WriteMmio(offset + i, width, value);
        }
      }
    }
    done += span;
  }
  return true;
}

bool TSimBoard::ReadMemory(u64 address, void* buffer, u32 length, u32 unit) {
  return TransferMemory(address, static_cast<u8*>(buffer), nullptr, length, unit);
}

bool TSimBoard::WriteMemory(u64 address, const void* buffer, u32 length, u32 unit) {
  return TransferMemory(address, nullptr, static_cast<const u8*>(buffer), length, unit);
}

// --- Processor ------------------------------------------------------------------------

// An MSR the processor does not implement raises #GP; the driver reports that
// as a failed request.
bool TSimBoard::ReadMsr(u32 index, u64& value) {
  Count(TRequestKind::Msr);
  if (index == kTimeStampCounterMsr) {
    value = NextTsc();
    return true;
  }
  const auto found = Msrs.find(index);
  if (found == Msrs.end()) return false;
  value = found->second;
  return true;
}

bool TSimBoard::WriteMsr(u32 index, u64 value) {
  Count(TRequestKind::Msr);
  if (index == kTimeStampCounterMsr) {
    // The counter goes on from the value written, as WRMSR 10h sets it.
    TscOffset = value - (VirtualClock.Milliseconds() * kTscPerMillisecond + TscReads);
    return true;
  }
  const auto found = Msrs.find(index);
  if (found == Msrs.end()) return false;
  found->second = value;
  return true;
}

// The driver reads CR0, CR2, CR3, CR4 and CR8 and writes CR0, CR3, CR4 and CR8
// (CR2 holds the last page-fault address and is only read); other indices fail.
bool TSimBoard::ReadCr(u32 index, u64& value) {
  Count(TRequestKind::ControlRegister);
  const auto found = Crs.find(index);
  if (found == Crs.end()) return false;
  value = found->second;
  return true;
}

bool TSimBoard::WriteCr(u32 index, u64 value) {
  Count(TRequestKind::ControlRegister);
  if (index == 2) return false;
  const auto found = Crs.find(index);
  if (found == Crs.end()) return false;
  found->second = value;
  return true;
}

// The TSC advances with the virtual clock and by one tick per read, so two
// reads are never equal, as on a running processor. RDTSC and MSR 10h read
// the same counter.
u64 TSimBoard::NextTsc() { return VirtualClock.Milliseconds() * kTscPerMillisecond + ++TscReads + TscOffset; }

bool TSimBoard::ReadTsc(u64& value) {
  Count(TRequestKind::Tsc);
  value = NextTsc();
  return true;
}

// Four general-purpose counters; RDPMC of any other index raises #GP.
bool TSimBoard::ReadPmc(u32 counter, u64& value) {
  Count(TRequestKind::Pmc);
  if (counter >= Pmcs.size()) return false;
  value = Pmcs[counter];
  return true;
}

u32 TSimBoard::ProcessorCount() { return Processors; }

// The system refuses an empty mask and one naming no existing processor.
bool TSimBoard::SetAffinity(u64 mask) {
  Count(TRequestKind::Affinity);
  const u64 present = Processors >= 64 ? ~u64{0} : (u64{1} << Processors) - 1;
  if ((mask & present) == 0 || (mask & ~present) != 0) return false;
  AffinityMask = mask;
  return true;
}

}  // namespace lirrin::sim
