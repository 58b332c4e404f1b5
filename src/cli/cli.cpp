#include "cli/cli.h"

#include <cstdio>
#include <ostream>

#include "cli/commands.h"
#include "hw/board_context.h"
#include "platform/acpi_base.h"
#include "platform/initializer.h"
#ifdef LIRRIN_LINUX_HARDWARE
#include "hw/linux_hardware_transport.h"
#endif
#include "sim/boards.h"

namespace lirrin::cli {

namespace {

constexpr const char* kUsage =
    "usage: lirrin-cli [--board BOARD] [--state FILE] [--realtime] [--debug] [--force] COMMAND [ARGS]\n"
    "  BOARD: sim (default), sim:N (controller family 1..18, 0 = none) with\n"
    "         +noamp, +stuck, +nomarker, +novendor, +noacpi fault switches,\n"
    "         or hw (real hardware)\n"
    "  --realtime: a simulated board's delays take real time, as on hardware\n"
    "  --force: skip the platform check before SMBus commands (diagnostics)\n"
    "commands:\n"
    "  platform                     board identification and ACPI tables\n"
    "  pci                          list the PCI functions present\n"
    "  run [--max-steps N] (-e SCRIPT | -f FILE)...\n"
    "                               run scripts on one interpreter\n"
    "  detect                       name the SMBus controller family\n"
    "  read-word ADDR CMD           read one SMBus word\n"
    "  write-word ADDR CMD WORD     write one SMBus word\n"
    "  amp get | set V | mute | unmute\n"
    "                               the headphone amplifier (volume 0..63)\n";

// What a command needs before it runs, as the program's start provides it.
enum class TPrerequisite {
  None,
  PcieBase,       // the ECAM base from the ACPI tables, for enhanced configuration access
  PlatformCheck,  // a supported board (unless --force) and a detected controller
  BusOfOurOwn,    // the platform check, and no kernel driver on the controller (unless --force)
};

struct TCommandEntry {
  const char* Name;
  int (*Run)(const TArgs& args, std::ostream& out, std::ostream& err);
  TPrerequisite Needs;
};

constexpr TCommandEntry kCommands[] = {
    {"platform", PlatformCommand, TPrerequisite::None},
    {"pci", PciCommand, TPrerequisite::None},
    {"run", RunCommand, TPrerequisite::PcieBase},
    {"detect", DetectCommand, TPrerequisite::PlatformCheck},
    {"read-word", ReadWordCommand, TPrerequisite::BusOfOurOwn},
    {"write-word", WriteWordCommand, TPrerequisite::BusOfOurOwn},
    {"amp", AmpCommand, TPrerequisite::BusOfOurOwn},
};

struct TOptions {
  std::string Board = "sim";
  std::string StateFile;
  bool Debug = false;
  bool Force = false;
  bool RealTime = false;
  std::vector<std::string> Command;
};

// Parses the global options in front of the command; false on bad usage.
bool ParseOptions(const std::vector<std::string>& args, TOptions& options, std::ostream& err) {
  std::size_t i = 0;
  for (; i < args.size() && args[i].starts_with("--"); ++i) {
    const std::string& arg = args[i];
    if (arg == "--debug") {
      options.Debug = true;
    } else if (arg == "--force") {
      options.Force = true;
    } else if (arg == "--realtime") {
      options.RealTime = true;
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

// Opens the chosen board and holds the board context over it for the
// lifetime of the session: the simulated board's clock, the program's error
// boxes as lines on standard error, and the debug console as --debug asks.
class TBoardSession {
 public:
  bool Connect(const TOptions& options, std::ostream& err) {
    std::shared_ptr<TTransport> transport;
    if (options.Board == "hw") {
      if (!OpenHardware(transport, err)) return false;
    } else {
      transport = OpenSimulated(options, err);
      if (!transport) return false;
    }
    Context.emplace(TBoardSeams{
        .Transport = std::move(transport),
        .Clock = Board ? &Board->Clock() : nullptr,
        .MessageBoxes = [stream = &err](const TMessageBox& box) { *stream << ToUtf8(box.Text) << "\n"; },
        .Debug = options.Debug,
    });
    return true;
  }

  // Two masters on one bus corrupt each other's transactions: while a kernel
  // driver owns the SMBus controller of the real machine, transactions are
  // refused. Simulated boards have no kernel driver.
  static bool KernelLeavesTheBus(const TOptions& options, std::ostream& err) {
#ifdef LIRRIN_LINUX_HARDWARE
    if (options.Board != "hw") return true;
    const std::string owner = KernelOwnedSMBusController();
    if (owner.empty()) return true;
    err << "lirrin-cli: the kernel driver " << owner
        << " owns the SMBus controller; unload it first (or use --force)\n";
    return false;
#else
    (void)options;
    (void)err;
    return true;
#endif
  }

 private:
  // Linux: its own interfaces. Windows: the platform's transport (a null
  // transport in the seams), the program's kernel driver, which is loaded
  // when the I/O layer is first used, once error boxes go to the recorder.
  static bool OpenHardware([[maybe_unused]] std::shared_ptr<TTransport>& transport,
                           [[maybe_unused]] std::ostream& err) {
#if defined(_WIN32)
    return true;
#elif defined(LIRRIN_LINUX_HARDWARE)
    std::string reason;
    transport = OpenLinuxHardwareTransport(reason);
    if (!transport) err << "lirrin-cli: --board hw: " << reason << "\n";
    return transport != nullptr;
#else
    err << "lirrin-cli: --board hw: this build has no hardware transport\n";
    return false;
#endif
  }

  std::shared_ptr<TTransport> OpenSimulated(const TOptions& options, std::ostream& err) {
    std::string error;
    Board = sim::MakeBoard(options.Board, options.StateFile, error);
    if (!Board) err << "lirrin-cli: " << error << "\n";
    if (Board && options.RealTime) Board->Clock().RunInRealTime();
    return Board;
  }

  // The board outlives the context, which frees everything built over it.
  std::shared_ptr<sim::TSimBoard> Board;
  std::optional<TBoardContext> Context;
};

}  // namespace

std::optional<u32> ParseNumber(const std::string& text, u32 max) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 10) return std::nullopt;
  u64 value = 0;
  for (char c : digits) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return std::nullopt;
    value = value * (hex ? 16 : 10) + static_cast<u64>(digit);
  }
  if (value > max) return std::nullopt;
  return static_cast<u32>(value);
}

std::string HexText(u32 value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%0*X", digits, value);
  return buffer;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  TOptions options;
  if (!ParseOptions(args, options, err)) {
    err << kUsage;
    return kExitUsage;
  }

  const TCommandEntry* command = nullptr;
  for (const TCommandEntry& entry : kCommands) {
    if (options.Command[0] == entry.Name) command = &entry;
  }
  if (command == nullptr) {
    err << "lirrin-cli: unknown command '" << options.Command[0] << "'\n" << kUsage;
    return kExitUsage;
  }
  TBoardSession session;
  if (!session.Connect(options, err)) return kExitUsage;
  switch (command->Needs) {
    case TPrerequisite::None:
      break;
    case TPrerequisite::PcieBase:
      TAcpiBase::Instance()->HandPcieBaseToIo();
      break;
    case TPrerequisite::PlatformCheck:
    case TPrerequisite::BusOfOurOwn:
      // As at the program's start: identify the board (its error text goes
      // to standard error), then the engine detects the controller.
      // A board the program does not support cannot be used: the usage code.
      if (!options.Force && !TInitializer::Instance()->Supported()) return kExitUsage;
      if (command->Needs == TPrerequisite::BusOfOurOwn && !options.Force &&
          !TBoardSession::KernelLeavesTheBus(options, err)) {
        return kExitUsage;
      }
      break;
  }
  const TArgs commandArgs(options.Command.begin() + 1, options.Command.end());
  return command->Run(commandArgs, out, err);
}

}  // namespace lirrin::cli
