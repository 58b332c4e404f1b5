#include "sim/smbus/chipset.h"

#include <algorithm>
#include <array>

namespace lirrin::sim {

namespace {

// Intel ICH7-10 root complex register block: LPC config F0h holds its base
// (16 KiB aligned, bit 0 enable); Function Disable at +3418h, bit 3 SMBus
// (quirks.c, ICH6 path).
constexpr u16 kRcbaRegister = 0xF0;
constexpr u64 kRcbaSize = 0x4000;
constexpr u16 kFunctionDisable = 0x3418;
constexpr u8 kSMBusDisabled = 0x08;

// TCO registers at ACPI base + 60h (lpc_ich.c, iTCO_wdt.c): storage only;
// the watchdog they control is not modelled.
constexpr u16 kTcoOffset = 0x60;
constexpr u16 kTcoSize = 0x20;
constexpr u8 kTco2ControlDefault = 0x08;  // TCO2_CNT at reset (QEMU tco.c)

// SB800 power-management registers in the AcpiMmio window.
constexpr u64 kPowerManagementMmio = 0xFED80300;
constexpr u64 kPowerManagementSize = 0x100;
constexpr u8 kSMBusBaseLow = 0x2C, kSMBusBaseHigh = 0x2D;

class TSMBusChipset;

// A south-bridge function whose configuration writes re-decode the chipset.
class TChipsetFunction final : public TPciFunction {
 public:
  TChipsetFunction(const TPciFunctionDescription& pci, std::shared_ptr<TSMBusChipset> chipset)
      : TPciFunction(pci.Id, pci.ClassCode, pci.Revision, pci.HeaderType, pci.Subsystem),
        Chipset(std::move(chipset)) {}

  // A hidden function is absent on the bus: reads float high, writes are lost.
  bool Hidden = false;

  void AddBar(const TIoBar& bar) {
    SetWritable(bar.Offset, 4, true);
    Bars.push_back(bar);
  }
  void ApplyBars() {
    for (const TIoBar& bar : Bars) {
      const u32 value = Peek(bar.Offset, 4);
      Poke(bar.Offset, 4, (value & ~u32{bar.Size - 1u}) | 1u);
    }
  }

  u32 ReadConfig(u16 offset, TAccessWidth width) override {
    if (Hidden) return width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
    return TPciFunction::ReadConfig(offset, width);
  }
  void WriteConfig(u16 offset, TAccessWidth width, u32 value) override;

 private:
  std::shared_ptr<TSMBusChipset> Chipset;
  std::vector<TIoBar> Bars;
};

class TTcoRegisters final : public TPortHandler {
 public:
  TTcoRegisters() { Bytes[0x0A] = kTco2ControlDefault; }
  u32 ReadPort(u16 port, TAccessWidth width) override {
    u32 value = 0;
    for (unsigned i = 0; i < width; ++i) value |= u32{Bytes[(port - Base + i) % kTcoSize]} << (8 * i);
    return value;
  }
  void WritePort(u16 port, TAccessWidth width, u32 value) override {
    for (unsigned i = 0; i < width; ++i) Bytes[(port - Base + i) % kTcoSize] = static_cast<u8>(value >> (8 * i));
  }
  u16 Base = 0;

 private:
  std::array<u8, kTcoSize> Bytes{};
};

class TRootComplex final : public TMmioHandler {
 public:
  explicit TRootComplex(TSMBusChipset& chipset) : Chipset(chipset) {}
  bool SMBusDisabled() const { return (Bytes[kFunctionDisable] & kSMBusDisabled) != 0; }
  u32 ReadMmio(u64 offset, TAccessWidth width) override {
    u32 value = 0;
    for (unsigned i = 0; i < width; ++i) value |= u32{Bytes[offset + i]} << (8 * i);
    return value;
  }
  void WriteMmio(u64 offset, TAccessWidth width, u32 value) override;

 private:
  TSMBusChipset& Chipset;
  std::array<u8, kRcbaSize> Bytes{};
};

class TPowerManagement final : public TMmioHandler {
 public:
  TPowerManagement(TSMBusChipset& chipset, u16 firmwareBase) : Chipset(chipset) {
    Bytes[kSMBusBaseLow] = static_cast<u8>(firmwareBase);
    Bytes[kSMBusBaseHigh] = static_cast<u8>(firmwareBase >> 8);
  }
  bool SMBusEnabled() const { return (Bytes[kSMBusBaseLow] & 1) != 0; }
  u16 SMBusBase() const { return static_cast<u16>((Bytes[kSMBusBaseHigh] << 8 | Bytes[kSMBusBaseLow]) & 0xFFE0); }
  u32 ReadMmio(u64 offset, TAccessWidth width) override {
    u32 value = 0;
    for (unsigned i = 0; i < width; ++i) value |= u32{Bytes[(offset + i) % kPowerManagementSize]} << (8 * i);
    return value;
  }
  void WriteMmio(u64 offset, TAccessWidth width, u32 value) override;

 private:
  TSMBusChipset& Chipset;
  std::array<u8, kPowerManagementSize> Bytes{};
};

class TSMBusChipset {
 public:
  TSMBusChipset(const TSMBusFamily& family, const TSMBusSwitches& switches) : Family(family), Switches(switches) {}

  void Build(TSimBoard& board, const std::shared_ptr<TSMBusChipset>& self) {
    Bridge = AddFunction(board, Family.Bridge, self);
    if (Family.Controller) Controller = AddFunction(board, *Family.Controller, self);
    for (const TIoBar& bar : Family.Bars) Function(bar.Unit)->AddBar(bar);
    Bridge->ApplyBars();
    if (Controller != nullptr) Controller->ApplyBars();
    for (std::size_t i = 0; i < Family.Channels.size(); ++i) {
      // The slaves sit on the first channel; further channels are empty buses.
      Buses.push_back(i == 0 ? MakeBoardBus(Switches.StateFile, !Switches.AmplifierAbsent)
                             : std::make_unique<TSMBusBus>());
      Hosts.push_back(MakeHost(board, *Buses.back()));
      Hosts.back()->Stuck = Switches.Stuck;
    }
    if (Family.PowerManagement) Tco = std::make_unique<TTcoRegisters>();
    if (Family.PowerManagementBase) {
      // Firmware: the controller at B00h, enabled.
      PowerManagement = std::make_unique<TPowerManagement>(*this, 0x0B01);
      board.MapMmio(kPowerManagementMmio, kPowerManagementSize, PowerManagement.get());
    }
    if (Family.RootComplexFunctionDisable) {
      RootComplex = std::make_unique<TRootComplex>(*this);
      board.MapMmio(Bridge->Peek(kRcbaRegister, 4) & ~u32{kRcbaSize - 1}, kRcbaSize, RootComplex.get());
    }
    Board = &board;
    Rewire();
  }

  void Rewire() {
    if (Board == nullptr) return;  // still building
    bool hidden = Family.Hide && IsSet(*Family.Hide);
    if (RootComplex) hidden = hidden || RootComplex->SMBusDisabled();
    if (Controller != nullptr) Controller->Hidden = hidden;
    const bool decoded =
        !hidden && std::all_of(Family.Decode.begin(), Family.Decode.end(), [&](const auto& bits) { return IsSet(bits); });
    const bool hostEnabled = !Family.HostEnable || IsSet(*Family.HostEnable);
    for (std::size_t i = 0; i < Hosts.size(); ++i) {
      if (i == 0 && PowerManagement) {
        Hosts[i]->Decode(PowerManagement->SMBusBase(), decoded && PowerManagement->SMBusEnabled());
      } else {
        Hosts[i]->Decode(BaseOf(Family.Channels[i]), decoded);
      }
      Hosts[i]->EnableHost(hostEnabled);
    }
    if (Tco) {
      Board->UnmapPorts(Tco.get());
      Tco->Base = static_cast<u16>(BaseOf(Family.PowerManagement->Base) + kTcoOffset);
      if (IsSet(Family.PowerManagement->Enable)) Board->MapPorts(Tco->Base, kTcoSize, Tco.get());
    }
  }

 private:
  TChipsetFunction* AddFunction(TSimBoard& board, const TPciFunctionDescription& pci,
                                const std::shared_ptr<TSMBusChipset>& self) {
    auto function = std::make_unique<TChipsetFunction>(pci, self);
    for (const auto& [offset, value] : pci.Dwords) function->Poke(offset, 4, value);
    return static_cast<TChipsetFunction*>(&board.AddFunction(pci.Bus, pci.Device, pci.Function, std::move(function)));
  }

  std::unique_ptr<TSMBusHost> MakeHost(TSimBoard& board, TSMBusBus& bus) const {
    switch (Family.Interface) {
      case TRegisterInterface::Piix4: return std::make_unique<TPiix4Host>(board, bus);
      case TRegisterInterface::I801: return std::make_unique<TI801Host>(board, bus);
      case TRegisterInterface::Sch: return std::make_unique<TSchHost>(board, bus);
      case TRegisterInterface::Sis: return std::make_unique<TSisHost>(board, bus, Family.SisDataOffset);
      case TRegisterInterface::Uli: return std::make_unique<TUliHost>(board, bus);
      case TRegisterInterface::Nforce: return std::make_unique<TNforceHost>(board, bus);
    }
    return nullptr;
  }

  TChipsetFunction* Function(TUnit unit) const { return unit == TUnit::Bridge ? Bridge : Controller; }
  bool IsSet(const TConfigBits& bits) const {
    return (Function(bits.Unit)->Peek(bits.Offset, 1) & bits.Mask) == bits.Mask;
  }
  u16 BaseOf(const TBaseRegister& base) const {
    return static_cast<u16>((Function(base.Unit)->Peek(base.Offset, 2) & base.Mask) + base.Add);
  }

  TSMBusFamily Family;
  TSMBusSwitches Switches;
  TSimBoard* Board = nullptr;
  TChipsetFunction* Bridge = nullptr;
  TChipsetFunction* Controller = nullptr;
  std::vector<std::unique_ptr<TSMBusBus>> Buses;
  std::vector<std::unique_ptr<TSMBusHost>> Hosts;
  std::unique_ptr<TTcoRegisters> Tco;
  std::unique_ptr<TRootComplex> RootComplex;
  std::unique_ptr<TPowerManagement> PowerManagement;
};

void TChipsetFunction::WriteConfig(u16 offset, TAccessWidth width, u32 value) {
  if (Hidden) return;
  TPciFunction::WriteConfig(offset, width, value);
  ApplyBars();
  Chipset->Rewire();
}

void TPowerManagement::WriteMmio(u64 offset, TAccessWidth width, u32 value) {
  for (unsigned i = 0; i < width; ++i) Bytes[(offset + i) % kPowerManagementSize] = static_cast<u8>(value >> (8 * i));
  Chipset.Rewire();
}

void TRootComplex::WriteMmio(u64 offset, TAccessWidth width, u32 value) {
  for (unsigned i = 0; i < width; ++i) Bytes[offset + i] = static_cast<u8>(value >> (8 * i));
  if (offset <= kFunctionDisable && offset + width > kFunctionDisable) Chipset.Rewire();
}

bool SameLocation(const TPciFunctionDescription& a, const TPciFunctionDescription& b) {
  return a.Bus == b.Bus && a.Device == b.Device && a.Function == b.Function;
}

}  // namespace

void AttachSMBus(TBoardDescription& board, const TSMBusFamily& family, const TSMBusSwitches& switches) {
  std::erase_if(board.Functions, [&](const TPciFunctionDescription& pci) {
    return SameLocation(pci, family.Bridge) || (family.Controller && SameLocation(pci, *family.Controller));
  });
  board.Functions.insert(board.Functions.end(), family.Platform.begin(), family.Platform.end());
  board.Devices.push_back([family, switches](TSimBoard& simBoard) {
    auto chipset = std::make_shared<TSMBusChipset>(family, switches);
    chipset->Build(simBoard, chipset);
  });
}

}  // namespace lirrin::sim
