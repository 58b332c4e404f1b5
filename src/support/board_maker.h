#pragma once
// The PCI subsystem vendor IDs by which the board maker's firmware marks the
// functions of its own boards. Platform identification and the simulated
// boards both take them from here.

#include <array>
#include <string_view>

#include "support/types.h"

namespace lirrin {

// The maker's first ID: the one the board information block reader demands.
constexpr u16 kBoardMakerSubsystemVendor = 0xF17A;
// The second ID the maker's firmware uses on some boards.
constexpr u16 kBoardMakerSecondSubsystemVendor = 0xF17B;
// ATI/AMD: the maker's boards with an ATI south bridge or on-board graphics
// keep the chip vendor's subsystem ID on those functions.
constexpr u16 kAtiSubsystemVendor = 0x1002;

// The maker's name in the SMBIOS base board structure (type 2).
constexpr std::string_view kBoardMakerName = "Norvik";

// Any of these on a PCI function, together with the board information block,
// makes the machine a supported board.
constexpr std::array<u16, 3> kSupportedSubsystemVendors{kBoardMakerSubsystemVendor,
                                                        kBoardMakerSecondSubsystemVendor, kAtiSubsystemVendor};

}  // namespace lirrin
