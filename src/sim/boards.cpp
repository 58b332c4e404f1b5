#include "sim/boards.h"

#include <charconv>

#include "sim/firmware.h"
#include "sim/smbus/chipset.h"

namespace lirrin::sim {

namespace {

constexpr u32 Subsystem(u16 device) { return u32{device} << 16 | kBoardMakerSubsystemVendor; }

constexpr u64 kEcamBase = 0xE0000000;

}  // namespace

TBoardDescription DesktopIch10Board() {
  TBoardDescription board;
  board.Name = "sim";
  board.Processors = 4;
  board.Functions = {
      // bus dev fn  id          class     rev   header subsystem
      {0, 0x00, 0, 0x2E208086, 0x060000, 0x03, 0x00, Subsystem(0x5000), {}},  // P45 host bridge
      {0, 0x01, 0, 0x2E218086, 0x060400, 0x03, 0x01, 0, {{0x18, 0x00010100}}}, // PEG root port
      {0, 0x1B, 0, 0x3A3E8086, 0x040300, 0x00, 0x00, Subsystem(0x5001), {}},  // HD audio
      {0, 0x1C, 0, 0x3A408086, 0x060400, 0x00, 0x81, 0, {{0x18, 0x00020200}}}, // PCIe root port 1
      {0, 0x1C, 1, 0x3A428086, 0x060400, 0x00, 0x81, 0, {{0x18, 0x00030300}}}, // PCIe root port 2
      {0, 0x1D, 0, 0x3A348086, 0x0C0300, 0x00, 0x80, Subsystem(0x5002), {}},  // UHCI
      {0, 0x1D, 7, 0x3A3A8086, 0x0C0320, 0x00, 0x00, Subsystem(0x5002), {}},  // EHCI
      {0, 0x1E, 0, 0x244E8086, 0x060401, 0x90, 0x01, 0, {{0x18, 0x00040400}}}, // PCI bridge
      {0, 0x1F, 0, 0x3A188086, 0x060100, 0x00, 0x80, Subsystem(0x5003), {}},  // LPC
      {0, 0x1F, 2, 0x3A228086, 0x010601, 0x00, 0x00, Subsystem(0x5004), {}},  // SATA AHCI
      {0, 0x1F, 3, 0x3A308086, 0x0C0500, 0x00, 0x00, Subsystem(0x5005), {}},  // SMBus
      {1, 0x00, 0, 0x06401002, 0x030000, 0x00, 0x00, Subsystem(0x5006), {}},  // graphics card
      {2, 0x00, 0, 0x816810EC, 0x020000, 0x03, 0x00, Subsystem(0x5007), {}},  // Ethernet
  };
  board.Memory = {
      {TMemoryDescription::Kind::Ram, 0x00000000, 0x000A0000, {}},
      {TMemoryDescription::Kind::Rom, 0x000E0000, 0x00020000, {}},
      {TMemoryDescription::Kind::Ram, 0x00100000, 0x40000000 - 0x00100000, {}},
  };
  board.EcamBase = kEcamBase;
  board.EcamBuses = 256;
  board.Msrs = {
      {0x0017, 0x0004000000000000ull},  // platform ID
      {0x001B, 0xFEE00900},             // APIC base, bootstrap processor, enabled
      {0x00CE, 0x0000000000001100ull},  // platform info
      {0x019C, 0x88370000},             // thermal status: reading valid, 55 below TjMax
      {0x01A2, 0x00640000},             // temperature target: TjMax 100 degrees C
  };
  return board;
}

namespace {

// The desktop board around an older south bridge: its host bridge and south
// bridge functions, 640 KiB + 511 MiB of RAM and the firmware area.
TBoardDescription SouthBridgeBoard(const std::string& name) {
  TBoardDescription board;
  board.Name = name;
  board.Processors = 2;
  board.Memory = {
      {TMemoryDescription::Kind::Ram, 0x00000000, 0x000A0000, {}},
      {TMemoryDescription::Kind::Rom, 0x000E0000, 0x00020000, {}},
      {TMemoryDescription::Kind::Ram, 0x00100000, 0x20000000 - 0x00100000, {}},
  };
  board.Msrs = {{0x001B, 0xFEE00900}};
  return board;
}

constexpr int kDefaultFamily = 2;

}  // namespace

std::shared_ptr<TSimBoard> MakeBoard(std::string_view name, const std::string& stateFile, std::string& error) {
  const std::string full(name);
  std::string_view board = name.substr(0, name.find('+'));
  TSMBusSwitches switches;
  switches.StateFile = stateFile;
  TFirmwareSwitches firmware;
  bool noVendor = false;
  for (std::string_view flags = name.substr(board.size()); !flags.empty();) {
    flags.remove_prefix(1);  // '+'
    const std::string_view flag = flags.substr(0, flags.find('+'));
    flags.remove_prefix(flag.size());
    if (flag == "noamp") {
      switches.AmplifierAbsent = true;
    } else if (flag == "stuck") {
      switches.Stuck = true;
    } else if (flag == "nomarker") {
      firmware.NoMarker = true;
    } else if (flag == "novendor") {
      noVendor = true;
    } else if (flag == "noacpi") {
      firmware.NoAcpi = true;
    } else {
      error = "unknown board flag '" + std::string(flag) + "' in '" + full +
              "' (known: noamp, stuck, nomarker, novendor, noacpi)";
      return nullptr;
    }
  }
  int family = -1;
  if (board == "sim") {
    family = kDefaultFamily;
  } else if (board.starts_with("sim:")) {
    const std::string_view number = board.substr(4);
    const auto [end, status] = std::from_chars(number.data(), number.data() + number.size(), family);
    if (status != std::errc() || end != number.data() + number.size() || number.empty()) family = -1;
  }
  const auto& families = SMBusFamilies();
  if (family < 0 || family >= static_cast<int>(families.size())) {
    error = "unknown board '" + full + "' (known: sim, sim:0..sim:" + std::to_string(families.size() - 1) + ", hw)";
    return nullptr;
  }
  TBoardDescription description = family == kDefaultFamily ? DesktopIch10Board() : SouthBridgeBoard(full);
  description.Name = full;
  AttachSMBus(description, families[family], switches);
  AddFirmware(description, firmware);
  // Last, so that it also reaches the functions the chipset model added.
  if (noVendor) RemoveMakerSubsystemVendors(description);
  return std::make_shared<TSimBoard>(description);
}

}  // namespace lirrin::sim
