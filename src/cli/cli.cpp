#include "cli/cli.h"

#include <cstdio>
#include <ostream>

#include "hw/read_write.h"
#include "sim/boards.h"
#include "support/clock.h"
#include "support/debug_console.h"

namespace lirrin::cli {

namespace {

constexpr const char* kUsage =
    "usage: lirrin-cli [--board BOARD] [--state FILE] [--debug] COMMAND [ARGS]\n"
    "  BOARD: sim (default) or hw\n"
    "commands:\n"
    "  pci    list the PCI functions present on the board\n";

struct TOptions {
  std::string Board = "sim";
  std::string StateFile;
  bool Debug = false;
  std::vector<std::string> Command;
};

// Parses the global options in front of the command; false on bad usage.
bool ParseOptions(const std::vector<std::string>& args, TOptions& options, std::ostream& err) {
  std::size_t i = 0;
  for (; i < args.size() && args[i].starts_with("--"); ++i) {
    const std::string& arg = args[i];
    if (arg == "--debug") {
      options.Debug = true;
    } else if (arg == "--board" || arg == "--state") {
      if (i + 1 >= args.size()) {
        err << "lirrin-cli: " << arg << " needs a value\n";
        return false;
      }
      (arg == "--board" ? options.Board : options.StateFile) = args[++i];
    } else {
      err << "lirrin-cli: unknown option '" << arg << "'\n";
      return false;
    }
  }
  options.Command.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  if (options.Command.empty()) {
    err << "lirrin-cli: no command given\n";
    return false;
  }
  return true;
}

// Connects the I/O layer and the clock to the chosen board for the lifetime
// of the session, and disconnects both afterwards.
class TBoardSession {
 public:
  bool Connect(const std::string& board, std::ostream& err) {
    if (board == "hw") {
      err << "lirrin-cli: --board hw: hardware access is not available on this platform yet\n";
      return false;
    }
    std::string error;
    Board = sim::MakeBoard(board, error);
    if (!Board) {
      err << "lirrin-cli: " << error << "\n";
      return false;
    }
    TReadWrite::FreeInstance();
    TReadWrite::SetTransportFactory([board = Board] { return board; });
    TClock::Install(&Board->Clock());
    return true;
  }

  ~TBoardSession() {
    if (!Board) return;
    TReadWrite::FreeInstance();
    TReadWrite::SetTransportFactory({});
    TClock::Install(nullptr);
  }

 private:
  std::shared_ptr<sim::TSimBoard> Board;
};

std::string Hex(unsigned value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*X", digits, value);
  return buffer;
}

// One line per function: bus:device.function vendor:device class
// subsystem-vendor:subsystem-device, in the order of the device search.
int ListPciFunctions(std::ostream& out) {
  TReadWrite& io = *TReadWrite::Instance();
  for (PciAddress address : io.PciFunctions()) {
    const u32 id = io.ReadPciDword(address, 0x00);
    const u32 classCode = io.ReadPciDword(address, 0x08) >> 8;
    const u32 subsystem = io.ReadPciDword(address, 0x2C);
    out << Hex(address >> 8, 2) << ':' << Hex((address >> 3) & 0x1F, 2) << '.' << Hex(address & 7, 1) << ' '
        << Hex(id & 0xFFFF, 4) << ':' << Hex(id >> 16, 4) << ' ' << Hex(classCode, 6) << ' '
        << Hex(subsystem & 0xFFFF, 4) << ':' << Hex(subsystem >> 16, 4) << '\n';
  }
  return kExitOk;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TOptions options;
  if (!ParseOptions(args, options, err)) {
    err << kUsage;
    return kExitUsage;
  }
  TDebugConsole::Instance(options.Debug);

  const std::string& command = options.Command[0];
  if (command != "pci") {
    err << "lirrin-cli: unknown command '" << command << "'\n" << kUsage;
    return kExitUsage;
  }
  if (options.Command.size() != 1) {
    err << "lirrin-cli: pci takes no arguments\n";
    return kExitUsage;
  }
  TBoardSession session;
  if (!session.Connect(options.Board, err)) return kExitUsage;
  return ListPciFunctions(out);
}

}  // namespace lirrin::cli
