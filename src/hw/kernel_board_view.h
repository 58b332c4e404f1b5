#pragma once
// What the kernel shows everyone of the board, for the platform check where
// physical memory is closed to the program (a kernel in lockdown, as under
// Secure Boot, or a user other than root): the PCI functions' subsystem
// vendors and the SMBIOS base board's maker, both from sysfs. The maker's
// firmware marks its boards' functions with its subsystem vendor and names
// itself in the base board structure; together they stand for the board
// information block that the firmware area would show.

#include <string>

#include "hw/linux_hardware_transport.h"
#include "support/types.h"

namespace lirrin {

struct TKernelBoardView {
  std::string MarkedFunction;  // the first function with a supported subsystem vendor, "0000:00:02.0"
  u16 SubsystemVendor = 0;     // its subsystem vendor
  std::string BoardMaker;      // empty when the kernel shows none

  bool Supported() const;
  // One line: what was found.
  std::string Evidence() const;
};

TKernelBoardView ReadKernelBoardView(const TLinuxDevices& devices = {});

// The functions' part of the view alone, for a check whose other evidence
// is physical memory.
void FindMarkedFunction(TKernelBoardView& view, const TLinuxDevices& devices = {});

}  // namespace lirrin
