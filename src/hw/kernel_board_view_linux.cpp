#include "hw/kernel_board_view.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "support/board_maker.h"

namespace lirrin {

bool TKernelBoardView::Supported() const { return !MarkedFunction.empty() && BoardMaker == kBoardMakerName; }

std::string TKernelBoardView::Evidence() const {
  char vendor[8];
  std::snprintf(vendor, sizeof vendor, "%04X", SubsystemVendor);
  return (MarkedFunction.empty() ? std::string("no function with the maker's subsystem vendor")
                                 : "subsystem vendor " + std::string(vendor) + " on " + MarkedFunction) +
         ", board maker " + (BoardMaker.empty() ? "not shown" : "'" + BoardMaker + "'") + " (sysfs)";
}

void FindMarkedFunction(TKernelBoardView& view, const TLinuxDevices& devices) {
  for (const std::string& name : PciFunctionNames(devices.PciDirectory)) {
    const std::string text = FirstLineOf(devices.PciDirectory + "/" + name + "/subsystem_vendor");
    const auto vendor = static_cast<u16>(std::strtoul(text.c_str(), nullptr, 16));
    if (!text.empty() && std::find(kSupportedSubsystemVendors.begin(), kSupportedSubsystemVendors.end(), vendor) !=
                             kSupportedSubsystemVendors.end()) {
      view.MarkedFunction = name;
      view.SubsystemVendor = vendor;
      return;
    }
  }
}

TKernelBoardView ReadKernelBoardView(const TLinuxDevices& devices) {
  TKernelBoardView view;
  // Firmware pads some strings with blanks; the kernel shows them as they are.
  view.BoardMaker = FirstLineOf(devices.DmiDirectory + "/board_vendor");
  view.BoardMaker.erase(view.BoardMaker.find_last_not_of(" \r") + 1);
  FindMarkedFunction(view, devices);
  return view;
}

}  // namespace lirrin
