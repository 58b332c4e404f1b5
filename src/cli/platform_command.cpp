// platform: what the program's start-up identification finds on the board.
#include <ostream>

#include "cli/cli.h"
#include "cli/commands.h"
#include "platform/acpi_base.h"
#include "platform/nvk_bios_info.h"
#include "platform/platform_check.h"
#include "platform/smbios_base.h"

namespace lirrin::cli {

int PlatformCommand(const TSession&, const TArgs& args, std::ostream& out, std::ostream& err) {
  if (!args.empty()) {
    err << "lirrin-cli: platform takes no arguments\n";
    return kExitUsage;
  }
  const TNvkSpec& platform = *TNvkSpec::Instance();
  const TNvkBiosInfo& info = *TNvkBiosInfo::Instance();
  const TAcpiBase& acpi = *TAcpiBase::Instance();
  const TSmbiosBase& smbios = *TSmbiosBase::Instance();
  out << "supported=" << (platform.IsSupported() ? 1 : 0) << "\n"
      << "model=" << ToUtf8(platform.ModelName()) << "\n"
      << "bios=" << ToUtf8(info.Version()) << "\n"
      << "date=" << ToUtf8(info.Date()) << "\n"
      << "pciebase=" << HexText(acpi.PcieBase(), 8) << "\n";
  if (smbios.Found()) {
    out << "smbios=" << (smbios.Version() >> 4) << "." << (smbios.Version() & 0x0F)
        << " address=" << HexText(smbios.TableAddress(), 8) << " length=" << smbios.TableLength() << "\n";
  } else {
    out << "smbios=none\n";
  }
  // The first entry is the root pointer itself, which has no table header.
  for (const TAcpiBase::TTableEntry& table : acpi.Tables()) {
    if (!table.Signature.empty()) out << "table=" << table.Signature << "\n";
  }
  // A board the program does not support cannot be used: the usage code.
  return platform.IsSupported() ? kExitOk : kExitUsage;
}

}  // namespace lirrin::cli
