// pci: the functions present, found by the same scan as the device search.
#include <ostream>

#include "cli/cli.h"
#include "cli/commands.h"
#include "hw/read_write.h"

namespace lirrin::cli {

namespace {

// Upper-case hexadecimal digits without the "0x".
std::string Hex(u32 value, int digits) { return HexText(value, digits).substr(2); }

}  // namespace

std::vector<std::string> PciFunctionLines() {
  TReadWrite& io = *TReadWrite::Instance();
  std::vector<std::string> lines;
  for (PciAddress address : io.PciFunctions()) {
    const u32 id = io.ReadPciDword(address, 0x00);
    const u32 classCode = io.ReadPciDword(address, 0x08) >> 8;
    const u32 subsystem = io.ReadPciDword(address, 0x2C);
    lines.push_back(Hex(address >> 8, 2) + ':' + Hex((address >> 3) & 0x1F, 2) + '.' + Hex(address & 7, 1) + ' ' +
                    Hex(id & 0xFFFF, 4) + ':' + Hex(id >> 16, 4) + ' ' + Hex(classCode, 6) + ' ' +
                    Hex(subsystem & 0xFFFF, 4) + ':' + Hex(subsystem >> 16, 4));
  }
  return lines;
}

int PciCommand(const TSession&, const TArgs& args, std::ostream& out, std::ostream& err) {
  if (!args.empty()) {
    err << "lirrin-cli: pci takes no arguments\n";
    return kExitUsage;
  }
  for (const std::string& line : PciFunctionLines()) out << line << '\n';
  return kExitOk;
}

}  // namespace lirrin::cli
