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

class TWordPath;

// What the session hands a command beyond its arguments.
struct TSession {
  std::string Board;          // as given to --board
  TWordPath* Words = nullptr;  // read-word, write-word, amp: the route to the bus
};

int PlatformCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);
int PciCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);
int RunCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);
int DetectCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);
int ReadWordCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);
int WriteWordCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);
int AmpCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);

// A number in decimal or 0x-hexadecimal within [0, max]; nothing else.
std::optional<u32> ParseNumber(const std::string& text, u32 max);

// "0x" and `digits` upper-case hexadecimal digits.
std::string HexText(u32 value, int digits);

}  // namespace lirrin::cli
