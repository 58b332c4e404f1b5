#pragma once
// The boards the simulator offers by name (the CLI's --board sim...).

#include <memory>
#include <string>
#include <string_view>

#include "sim/board.h"

namespace lirrin::sim {

// Subsystem vendor carried by the board maker's own PCI functions.
constexpr u16 kBoardMakerSubsystemVendor = 0xF17A;

// A desktop board with an Intel ICH10 south bridge: host bridge, graphics,
// HD audio, PCIe root ports, USB, LPC, SATA, SMBus and an Ethernet
// controller behind a root port; 640 KiB + 1 GiB of RAM, the firmware area at
// E0000h..FFFFFh and an ECAM window at E0000000h.
TBoardDescription DesktopIch10Board();

// Builds the board named by `name` ("sim"); nullptr and a one-line reason in
// `error` for a name it does not know.
std::shared_ptr<TSimBoard> MakeBoard(std::string_view name, std::string& error);

}  // namespace lirrin::sim
