#pragma once
// The commands of lirrin-cli. Each runs on the board the session connected
// and takes the arguments after its name; exit codes as in cli.h.

#include <iosfwd>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/saved_setting.h"
#include "support/types.h"

namespace lirrin::cli {

using TArgs = std::vector<std::string>;

class TWordPath;

// What the session hands a command beyond its arguments.
struct TSession {
  std::string Board;  // as given to --board
  bool Force = false;
  bool ViaRaw = false;         // --via raw
  // amp: where a changed setting is kept (empty: nowhere); restore: the
  // setting it puts back.
  std::string SettingFile;
  TSavedSetting Saved;
  TWordPath* Words = nullptr;  // read-word, write-word, amp: the route to the bus
  // report, doctor: what the session met, one line each: a board that
  // could not be reached, and the error boxes shown since.
  const std::ostringstream* Met = nullptr;
};

int PlatformCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);
int PciCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);
int RunCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);
int DetectCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);
int ReadWordCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);
int WriteWordCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);
int AmpCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);
int RestoreCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);
int ReportCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);
int DoctorCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);

// The PCI functions present, one line each: bus:device.function
// vendor:device class subsystem-vendor:subsystem-device.
std::vector<std::string> PciFunctionLines();

// A number in decimal or 0x-hexadecimal within [0, max]; nothing else.
std::optional<u32> ParseNumber(const std::string& text, u32 max);

// The requests the driver has refused in this command line's session.
u32 DriverRefusals();

// "0x" and `digits` upper-case hexadecimal digits.
std::string HexText(u32 value, int digits);

}  // namespace lirrin::cli
