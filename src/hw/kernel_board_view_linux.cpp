#include "hw/kernel_board_view.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "support/board_maker.h"

namespace lirrin {

namespace {

std::string FirstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
  return line;
}

}  // namespace

bool TKernelBoardView::Supported() const { return !MarkedFunction.empty() && BoardMaker == kBoardMakerName; }

std::string TKernelBoardView::Evidence() const {
  char vendor[8];
  std::snprintf(vendor, sizeof vendor, "%04X", SubsystemVendor);
  return (MarkedFunction.empty() ? std::string("no function with the maker's subsystem vendor")
                                 : "subsystem vendor " + std::string(vendor) + " on " + MarkedFunction) +
         ", board maker " + (BoardMaker.empty() ? "not shown" : "'" + BoardMaker + "'") + " (sysfs)";
}

void FindMarkedFunction(TKernelBoardView& view, const TLinuxDevices& devices) {
  std::vector<std::string> functions;
  if (DIR* entries = opendir(devices.PciDirectory.c_str())) {
    while (const dirent* entry = readdir(entries)) {
      u32 bus = 0, device = 0, function = 0;
      if (PciFunctionName(entry->d_name, bus, device, function)) functions.emplace_back(entry->d_name);
    }
    closedir(entries);
  }
  std::sort(functions.begin(), functions.end());
  for (const std::string& name : functions) {
    const std::string text = FirstLine(devices.PciDirectory + "/" + name + "/subsystem_vendor");
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
  view.BoardMaker = FirstLine(devices.DmiDirectory + "/board_vendor");
  FindMarkedFunction(view, devices);
  return view;
}

}  // namespace lirrin
