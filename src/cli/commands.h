#pragma once
// The commands of lirrin-cli. Each runs on the board the session connected
// and takes the arguments after its name; exit codes as in cli.h.

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "support/types.h"

namespace lirrin::cli {

using TArgs = std::vector<std::string>;

int PlatformCommand(const TArgs& args, std::ostream& out, std::ostream& err);
int PciCommand(const TArgs& args, std::ostream& out, std::ostream& err);
int RunCommand(const TArgs& args, std::ostream& out, std::ostream& err);
int DetectCommand(const TArgs& args, std::ostream& out, std::ostream& err);
int ReadWordCommand(const TArgs& args, std::ostream& out, std::ostream& err);
int WriteWordCommand(const TArgs& args, std::ostream& out, std::ostream& err);
int AmpCommand(const TArgs& args, std::ostream& out, std::ostream& err);

// A number in decimal or 0x-hexadecimal within [0, max]; nothing else.
std::optional<u32> ParseNumber(const std::string& text, u32 max);

// The requests the driver has refused in this command line's session.
u32 DriverRefusals();

// "0x" and `digits` upper-case hexadecimal digits.
std::string HexText(u32 value, int digits);

}  // namespace lirrin::cli
