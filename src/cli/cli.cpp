#include "cli/cli.h"

#include <chrono>
#include <cstdio>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>

#include "cli/commands.h"
#include "cli/saved_setting.h"
#include "cli/word_paths.h"
#include "hw/board_context.h"
#include "hw/driver_model.h"
#include "hw/driver_transport.h"
#include "platform/acpi_base.h"
#include "platform/initializer.h"
#include "platform/platform_check.h"
#include "support/message_box.h"
#ifdef LIRRIN_LINUX_HARDWARE
#include "hw/kernel_board_view.h"
#include "hw/kernel_smbus_adapter.h"
#include "hw/linux_hardware_transport.h"
#endif
#include "sim/boards.h"
#include "sim/firmware.h"

namespace lirrin::cli {

namespace {

u32 gDriverRefusals = 0;

constexpr const char* kUsage =
    "usage: lirrin-cli [--board BOARD] [--state FILE] [--realtime] [--debug] [--force]\n"
    "                  [--via kernel|raw] [--driver-policy] [--setting FILE] [--no-save]\n"
    "                  COMMAND [ARGS]\n"
    "  BOARD: sim (default), sim:N (controller family 1..18, 0 = none) with\n"
    "         +noamp, +stuck, +nomarker, +novendor, +noacpi fault switches,\n"
    "         or hw (real hardware)\n"
    "  --realtime: a simulated board's delays take real time, as on hardware\n"
    "  --force: skip the platform check before SMBus commands (diagnostics)\n"
    "  --via: how read-word, write-word and amp reach the bus: the kernel's\n"
    "         SMBus driver (/dev/i2c-N; the default while it owns the\n"
    "         controller) or raw I/O\n"
    "  --driver-policy: hold every request against the Windows driver's policy\n"
    "         first (always so on Linux with --board hw); what the driver\n"
    "         refuses fails and is named on standard error\n"
    "  --setting: the file that keeps the amplifier's setting for restore\n"
    "         (Linux with --board hw: /var/lib/lirrin/amp unless named)\n"
    "  --no-save: amp set, mute and unmute leave the kept setting as it is\n"
    "commands:\n"
    "  platform                     board identification and ACPI tables\n"
    "  pci                          list the PCI functions present\n"
    "  run [--max-steps N] (-e SCRIPT | -f FILE)...\n"
    "                               run scripts on one interpreter\n"
    "  detect                       name the SMBus controller family\n"
    "  read-word ADDR CMD           read one SMBus word\n"
    "  write-word ADDR CMD WORD     write one SMBus word\n"
    "  amp get | set V | mute | unmute\n"
    "                               the headphone amplifier (volume 0..63)\n"
    "  restore                      put the kept setting back on the amplifier\n"
    "  report [FILE]                a support report of this machine\n"
    "  doctor                       what is wrong and what to do\n";

// What a command needs before it runs, as the program's start provides it.
enum class TPrerequisite {
  None,
  PcieBase,       // the ECAM base from the ACPI tables, for enhanced configuration access
  PlatformCheck,  // a supported board (unless --force) and a detected controller
  WordPath,       // the platform check, and a route to the bus (raw I/O or the kernel's adapter)
  Facts,          // whatever can be reached: a board out of reach is a fact to report
  SavedSetting,   // a kept setting (none: nothing to do), then as WordPath
};

struct TCommandEntry {
  const char* Name;
  int (*Run)(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err);
  TPrerequisite Needs;
};

constexpr TCommandEntry kCommands[] = {
    {"platform", PlatformCommand, TPrerequisite::None},
    {"pci", PciCommand, TPrerequisite::None},
    {"run", RunCommand, TPrerequisite::PcieBase},
    {"detect", DetectCommand, TPrerequisite::PlatformCheck},
    {"read-word", ReadWordCommand, TPrerequisite::WordPath},
    {"write-word", WriteWordCommand, TPrerequisite::WordPath},
    {"amp", AmpCommand, TPrerequisite::WordPath},
    {"restore", RestoreCommand, TPrerequisite::SavedSetting},
    {"report", ReportCommand, TPrerequisite::Facts},
    {"doctor", DoctorCommand, TPrerequisite::Facts},
};

// How word commands reach the bus: as the machine suggests, or as chosen.
enum class TVia { Default, Kernel, Raw };

struct TOptions {
  std::string Board = "sim";
  std::string StateFile;
  bool Debug = false;
  bool Force = false;
  bool DriverPolicy = false;
  TVia Via = TVia::Default;
  bool RealTime = false;
  std::string SettingFile;
  bool NoSave = false;
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
    } else if (arg == "--driver-policy") {
      options.DriverPolicy = true;
    } else if (arg == "--realtime") {
      options.RealTime = true;
    } else if (arg == "--no-save") {
      options.NoSave = true;
    } else if (arg == "--board" || arg == "--state" || arg == "--via" || arg == "--setting") {
      if (i + 1 >= args.size()) {
        err << "lirrin-cli: " << arg << " needs a value\n";
        return false;
      }
      const std::string& value = args[++i];
      if (arg == "--via") {
        if (value != "kernel" && value != "raw") {
          err << "lirrin-cli: --via takes kernel or raw, not '" << value << "'\n";
          return false;
        }
        options.Via = value == "kernel" ? TVia::Kernel : TVia::Raw;
      } else {
        (arg == "--board" ? options.Board : arg == "--state" ? options.StateFile : options.SettingFile) = value;
      }
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

// How much of the real machine a command reaches.
enum class TBoardAccess {
  Full,      // the registers themselves: raw I/O, scripts, detection
  ReadOnly,  // the platform check of words that go through the kernel's adapter
  None,      // words through the kernel's adapter with --force: its device only
};

// Opens the chosen board and holds the board context over it for the
// lifetime of the session: the simulated board's clock, the program's error
// boxes as lines on standard error, and the debug console as --debug asks.
class TBoardSession {
 public:
  bool Connect(const TOptions& options, TBoardAccess access, std::ostream& err) {
    std::shared_ptr<TTransport> transport;
    if (options.Board == "hw") {
      if (access == TBoardAccess::None) {
        transport = std::make_shared<TUnavailableTransport>();
      } else if (access == TBoardAccess::ReadOnly) {
        transport = OpenReadOnlyHardware();
      } else if (!OpenHardware(transport, err)) {
        return false;
      }
    } else {
      transport = OpenSimulated(options, err);
      if (!transport) return false;
    }
    const bool policy = options.DriverPolicy || RawLinuxHardware(options, access);
    if (policy && !ThroughDriverPolicy(transport, err)) return false;
    Context.emplace(TBoardSeams{
        .Transport = std::move(transport),
        .Clock = Board ? &Board->Clock() : nullptr,
        .MessageBoxes = [stream = &err](const TMessageBox& box) { *stream << ToUtf8(box.Text) << "\n"; },
        .Debug = options.Debug,
    });
    return true;
  }

  // Why the read-only transport cannot read physical memory; empty when it
  // can (or another transport is in use).
  const std::string& MemoryProblem() const { return MemoryProblemText; }

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

  // Only the Linux build has a kernel route, whose check reads and never
  // writes; a null transport elsewhere, as the platform's own is used.
  std::shared_ptr<TTransport> OpenReadOnlyHardware() {
#if defined(LIRRIN_LINUX_HARDWARE)
    return OpenLinuxReadOnlyTransport(MemoryProblemText);
#else
    return nullptr;
#endif
  }

  // On Linux the program drives the machine's registers itself; the
  // Windows driver's policy stands in front of them there too, so that no
  // script reaches what the driver would refuse (a memory module's EEPROM
  // among them). The read-only transport cannot write at all.
  static bool RawLinuxHardware([[maybe_unused]] const TOptions& options, [[maybe_unused]] TBoardAccess access) {
#if defined(LIRRIN_LINUX_HARDWARE)
    return options.Board == "hw" && access == TBoardAccess::Full;
#else
    return false;
#endif
  }

  // The driver's own request handling in front of the board, with the RAM
  // that the operating system manages as the driver would learn it.
  bool ThroughDriverPolicy(std::shared_ptr<TTransport>& transport, [[maybe_unused]] std::ostream& err) {
    TDriverModelOptions model;
    if (Board) {
      model.SystemRam = sim::OsManagedRam(*Board);
    } else {
#if defined(LIRRIN_LINUX_HARDWARE)
      model.SystemRam = LinuxSystemRam();
#else
      // Windows: the driver itself is in front of the hardware.
      err << "lirrin-cli: --driver-policy: the driver checks every request on this system itself\n";
      return false;
#endif
    }
    transport = MakeDriverModelTransport(std::move(transport), std::move(model));
    return true;
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
  std::string MemoryProblemText;
};

// The platform check on the kernel's route: the board information marker
// in the firmware area and a function with a supported subsystem vendor
// where physical memory can be read; where it cannot (lockdown, not root),
// what the kernel shows of the board in sysfs. The functions come from
// sysfs's list either way, which names only the functions present.
bool KernelRouteBoardSupported([[maybe_unused]] const std::string& memoryProblem) {
  bool supported = false;
#if defined(LIRRIN_LINUX_HARDWARE)
  if (memoryProblem.empty()) {
    TKernelBoardView functions;
    FindMarkedFunction(functions);
    supported = !functions.MarkedFunction.empty() && HasBoardInfoMarker(*TReadWrite::Instance());
  } else {
    supported = ReadKernelBoardView().Supported();
  }
#endif
  if (!supported) ShowErrorBox({kNotForThisPlatform, u"Error 0xFFFE", true});
  return supported;
}

#ifdef LIRRIN_LINUX_HARDWARE
// At boot and after resume the controller's driver, its adapter and the
// adapter's device appear one after the other, maybe after restore has
// started: it waits for them a bounded time, then takes what there is.
std::optional<TKernelSMBusOwner> WaitForKernelAdapter() {
  constexpr auto kPatience = std::chrono::seconds(10);
  const auto deadline = std::chrono::steady_clock::now() + kPatience;
  for (;;) {
    const std::optional<TKernelSMBusOwner> owner = KernelOwnedSMBusController();
    if ((owner && TKernelSMBusAdapter().Open(*owner)) || std::chrono::steady_clock::now() >= deadline) return owner;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}
#endif

// Where amp keeps a changed setting and restore finds it: the file named,
// or on the real board of a Linux build the system's file.
std::string SettingFileOf(const TOptions& options) {
  if (!options.SettingFile.empty()) return options.SettingFile;
#ifdef LIRRIN_LINUX_HARDWARE
  if (options.Board == "hw") return kSystemSettingFile;
#endif
  return {};
}

// The route of the word commands. Two masters on one bus corrupt each
// other's transactions: while a kernel driver owns the SMBus controller of
// the real machine, the words go through that driver's adapter, and raw I/O
// is refused unless forced. Simulated boards have no kernel driver. Null
// after a one-line refusal.
std::unique_ptr<TWordPath> ChooseWordPath(const TOptions& options, [[maybe_unused]] bool waitForAdapter,
                                          std::ostream& err) {
#ifdef LIRRIN_LINUX_HARDWARE
  if (options.Board == "hw") {
    const std::optional<TKernelSMBusOwner> owner =
        waitForAdapter && options.Via != TVia::Raw ? WaitForKernelAdapter() : KernelOwnedSMBusController();
    if (options.Via == TVia::Kernel || (options.Via == TVia::Default && owner)) {
      if (owner) return MakeKernelWordPath(*owner);
      err << "lirrin-cli: --via kernel: no kernel driver owns an SMBus controller (load the controller's driver, "
             "such as i2c-i801 or i2c-piix4)\n";
      return nullptr;
    }
    if (owner && !options.Force) {
      err << "lirrin-cli: the kernel driver " << owner->Text()
          << " owns the SMBus controller; unload it first (or use --force)\n";
      return nullptr;
    }
    return MakeEngineWordPath();
  }
#endif
  if (options.Via == TVia::Kernel) {
    err << "lirrin-cli: --via kernel: the kernel's SMBus drivers are reached on Linux with --board hw only\n";
    return nullptr;
  }
  return MakeEngineWordPath();
}

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

u32 DriverRefusals() { return gDriverRefusals; }

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
  // The driver's refusals are named as they happen; `run` fails the
  // script that met one.
  gDriverRefusals = 0;
  std::set<std::pair<u32, std::string>> named;
  SetRefusalReporter([&err, &named](u32 code, std::string_view reason) {
    ++gDriverRefusals;
    if (!named.emplace(code, reason).second) return;  // once is enough for each kind
    err << "lirrin-cli: the driver refuses request " << HexText(code, 6) << ": " << reason << "\n";
  });
  struct TReporterReset {
    ~TReporterReset() { SetRefusalReporter(nullptr); }
  } reporterReset;
  TSession session{.Board = options.Board,
                   .Force = options.Force,
                   .ViaRaw = options.Via == TVia::Raw,
                   .SettingFile = options.NoSave ? "" : SettingFileOf(options),
                   .Saved = {}};
  if (command->Needs == TPrerequisite::SavedSetting) {
    // Nothing kept is nothing to do, on any board.
    const std::string file = SettingFileOf(options);
    std::string problem;
    if (file.empty()) {
      err << "lirrin-cli: " << command->Name << ": no setting is kept for this board (name a file with --setting)\n";
      return kExitUsage;
    }
    switch (LoadSavedSetting(file, session.Saved, problem)) {
      case TSettingLoad::Loaded:
        break;
      case TSettingLoad::NothingSaved:
        out << "nothing saved\n";
        return kExitOk;
      case TSettingLoad::Unreadable:
        err << "lirrin-cli: " << command->Name << ": " << problem << "\n";
        return kExitFailed;
    }
  }
  std::unique_ptr<TWordPath> words;
  if (command->Needs == TPrerequisite::WordPath || command->Needs == TPrerequisite::SavedSetting) {
    words = ChooseWordPath(options, command->Needs == TPrerequisite::SavedSetting, err);
    if (!words) return kExitUsage;
    session.Words = words.get();
  }
  // Words through the kernel's adapter need the machine only for the
  // platform check, which reads; forced, not even that.
  const bool kernelWords = words && words->ThroughKernel() && options.Board == "hw";
  const TBoardAccess access =
      !kernelWords ? TBoardAccess::Full : options.Force ? TBoardAccess::None : TBoardAccess::ReadOnly;
  TBoardSession board;
  std::ostringstream met;
  if (command->Needs == TPrerequisite::Facts) {
    // The hardware's failure and the error boxes become the report's lines;
    // out of reach, it is reported with what needs no access.
    session.Met = &met;
    if (!board.Connect(options, TBoardAccess::Full, met) &&
        (options.Board != "hw" || !board.Connect(options, TBoardAccess::None, met))) {
      err << met.str();
      return kExitUsage;
    }
  } else if (!board.Connect(options, access, err)) {
    return kExitUsage;
  }
  switch (command->Needs) {
    case TPrerequisite::None:
    case TPrerequisite::Facts:
      break;
    case TPrerequisite::PcieBase:
      TAcpiBase::Instance()->HandPcieBaseToIo();
      break;
    case TPrerequisite::PlatformCheck:
    case TPrerequisite::WordPath:
    case TPrerequisite::SavedSetting:
      // As at the program's start: identify the board (its error text goes
      // to standard error), then the engine detects the controller; words
      // through the kernel's adapter need no engine. A board the program
      // does not support cannot be used: the usage code.
      if (options.Force) break;
      if (access == TBoardAccess::ReadOnly ? !KernelRouteBoardSupported(board.MemoryProblem())
                                            : !TInitializer::Instance()->Supported()) {
        return kExitUsage;
      }
      break;
  }
  const TArgs commandArgs(options.Command.begin() + 1, options.Command.end());
  return command->Run(session, commandArgs, out, err);
}

}  // namespace lirrin::cli
