#pragma once
// The boards the simulator offers by name (the CLI's --board sim...).

#include <memory>
#include <string>
#include <string_view>

#include "sim/board.h"
#include "support/board_maker.h"

namespace lirrin::sim {

// A desktop board with an Intel ICH10 south bridge: host bridge, graphics,
// HD audio, PCIe root ports, USB, LPC, SATA, SMBus and an Ethernet
// controller behind a root port; 640 KiB + 1 GiB of RAM, the firmware area at
// E0000h..FFFFFh and an ECAM window at E0000000h.
TBoardDescription DesktopIch10Board();

// Builds the board named by `name`: "sim" (the desktop board, SMBus family
// 2), "sim:N" (a board whose SMBus controller is family N of the controller
// table, 1..18; 0: one the table does not know), each optionally followed by
// fault switches: "+noamp" (the amplifier does not answer), "+stuck" (the
// SMBus controller is stuck busy), "+nomarker" (no board information block),
// "+novendor" (no function carries the maker's subsystem vendor) and
// "+noacpi" (no ACPI root and tables). With a non-empty `stateFile` the SMBus
// slaves keep their registers in that file. nullptr and a one-line reason in
// `error` for a name it does not know.
std::shared_ptr<TSimBoard> MakeBoard(std::string_view name, const std::string& stateFile, std::string& error);

}  // namespace lirrin::sim
