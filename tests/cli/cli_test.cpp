#include "cli/cli.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "cli/report_facts.h"
#include "cli/saved_setting.h"
#include "hw/load_driver.h"
#include "sim/boards.h"
#include "smbus/smbus.h"
#include "smbus/system_lock.h"
#include "smbus_rule.h"
#include "support/clock.h"
#include "support/text.h"

namespace lirrin::cli {
namespace {

struct CliRun {
  int Exit;
  std::string Out, Err;
};

CliRun Cli(std::vector<std::string> args) {
  std::ostringstream out, err;
  const int exit = RunCli(args, out, err);
  return {exit, out.str(), err.str()};
}

TEST(Cli, PciListsEveryFunctionOfTheDefaultBoard) {
  const CliRun run = Cli({"pci"});
  EXPECT_EQ(run.Exit, kExitOk);
  EXPECT_EQ(run.Err, "");
  std::istringstream lines(run.Out);
  std::vector<std::string> listed;
  for (std::string line; std::getline(lines, line);) listed.push_back(line);
  ASSERT_EQ(listed.size(), sim::DesktopIch10Board().Functions.size());
  EXPECT_EQ(listed.front(), "00:00.0 8086:2E20 060000 F17A:5000");
  EXPECT_EQ(listed[10], "00:1F.3 8086:3A30 0C0500 F17A:5005");
  EXPECT_EQ(listed.back(), "02:00.0 10EC:8168 020000 F17A:5007");
  EXPECT_EQ(Cli({"--board", "sim", "pci"}).Out, run.Out);
}

TEST(Cli, UsageErrorsExitWithTwo) {
  struct Case {
    std::vector<std::string> args;
    const char* reason;
  };
  const Case cases[] = {
      {{}, "no command given"},
      {{"--board"}, "--board needs a value"},
      {{"--verbose", "pci"}, "unknown option '--verbose'"},
      {{"frobnicate"}, "unknown command 'frobnicate'"},
      {{"pci", "extra"}, "pci takes no arguments"},
      {{"--board", "sim:99x", "pci"}, "unknown board 'sim:99x'"},
      {{"--via"}, "--via needs a value"},
      {{"--via", "i2c", "amp", "get"}, "--via takes kernel or raw, not 'i2c'"},
      // Simulated boards have no kernel driver to go through.
      {{"--via", "kernel", "amp", "get"},
       "--via kernel: the kernel's SMBus drivers are reached on Linux with --board hw"},
  };
  for (const Case& c : cases) {
    const CliRun run = Cli(c.args);
    EXPECT_EQ(run.Exit, kExitUsage) << c.reason;
    EXPECT_NE(run.Err.find(c.reason), std::string::npos) << run.Err;
    EXPECT_EQ(run.Out, "");
  }
}

#ifndef _WIN32
// Real hardware needs privileges and device files this test process does
// not have (root and /dev/mem).
TEST(Cli, HardwareBoardGivesAOneLineReasonWhenItCannotRun) {
  if (geteuid() == 0 && access("/dev/mem", F_OK) == 0) GTEST_SKIP() << "this process could reach real hardware";
  const CliRun run = Cli({"--board", "hw", "pci"});
  EXPECT_EQ(run.Exit, kExitUsage);
  EXPECT_TRUE(run.Err.starts_with("lirrin-cli: --board hw: ")) << run.Err;
  EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
  EXPECT_EQ(run.Out, "");
}
#else
// On Windows the hardware is reached through the program's own driver; the
// tests run under Wine, whose driver host runs no port instruction, so no
// PCI function is ever found and the command still ends normally. The
// 32-bit build runs under WOW64 there and installs the x64 image, which the
// 32-bit driver host cannot load: the user reads the driver's message once.
// The 64-bit build's own x64 image loads.
TEST(Cli, HardwareBoardUnderWineFindsNothing) {
  const CliRun run = Cli({"--board", "hw", "pci"});
  EXPECT_EQ(run.Err, ProgramIs64Bit() ? "" : ToUtf8(kDriverLoadFailedText) + "\n");
  EXPECT_EQ(run.Out, "");
  EXPECT_EQ(run.Exit, kExitOk);
}
#endif

#ifndef _WIN32  // the Windows console is a window of its own, not standard error
// --debug writes the start's milestones to the debug console (standard error
// here, not the command's error stream) for that run only, whatever ran
// before it in the process.
TEST(Cli, DebugShowsTheMilestonesOfThatRunOnly) {
  const auto debugLines = [](const std::vector<std::string>& args) {
    ::testing::internal::CaptureStderr();
    const CliRun run = Cli(args);
    const std::string lines = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(run.Exit, kExitOk);
    EXPECT_EQ(run.Out, "Intel ICH7/ICH8/ICH9/ICH10\n");
    EXPECT_EQ(run.Err, "");
    return lines;
  };
  EXPECT_EQ(debugLines({"detect"}), "");
  const std::string lines = debugLines({"--debug", "detect"});
  EXPECT_NE(lines.find("Model Name ... [NV-P45 Deluxe]\n"), std::string::npos) << lines;
  EXPECT_NE(lines.find("Detect SMBus Name ... [Intel ICH7/ICH8/ICH9/ICH10]\n"), std::string::npos) << lines;
  EXPECT_EQ(debugLines({"detect"}), "");
}
#endif

}  // namespace
}  // namespace lirrin::cli

namespace lirrin::cli {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::istringstream stream(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// A state file of its own for each test, removed afterwards.
class StateFile {
 public:
  explicit StateFile(const std::string& name)
      : Path((std::filesystem::temp_directory_path() / ("lirrin-cli-" + name + ".state")).string()) {
    std::filesystem::remove(Path);
  }
  ~StateFile() { std::filesystem::remove(Path); }
  const std::string Path;
};

TEST(CliRun, ScriptsShareOneInterpreterAndOneResult) {
  const CliRun run = Cli({"run", "-e", "Local3=7; Add(Local3,1)", "-e", "RwExit", "-e", "Local3="});
  EXPECT_EQ(run.Exit, kExitOk) << run.Err;
  EXPECT_EQ(Lines(run.Out), (std::vector<std::string>{"result=0x00000008 ok=1", "message=Add (0x7, 0x1) = 0x00000008",
                                                       // RWEXIT changes nothing, not even the result
                                                       "result=0x00000008 ok=1", "message=Add (0x7, 0x1) = 0x00000008",
                                                       "result=0x00000007 ok=1", "message=Local03 = 0x00000007 (7)"}));
}

TEST(CliRun, FailureAndOutputLines) {
  const CliRun run = Cli({"run", "-e", "Foo(1)", "-e", "Dmem(0xF0800,0x10)"});
  EXPECT_EQ(run.Exit, kExitFailed);
  const std::vector<std::string> lines = Lines(run.Out);
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], "result=0x00000000 ok=0");
  EXPECT_EQ(lines[1], "message=Unknown command!");
  EXPECT_EQ(lines[2], "result=0x00000000 ok=1");
  EXPECT_TRUE(lines[4].starts_with("output=")) << lines[4];
  EXPECT_NE(lines[5].find("5F 53 4D 5F"), std::string::npos) << lines[5];  // the SMBIOS anchor "_SM_"
}

TEST(CliRun, StepLimitEndsEndlessBlocks) {
  const CliRun run = Cli({"run", "--max-steps", "1000", "-e", "Wait{1,0,Local1=0}"});
  EXPECT_EQ(run.Exit, kExitFailed);
  EXPECT_EQ(Lines(run.Out).at(1), "message=Step limit of 1000 reached!");
}

TEST(CliRun, ScriptFilesAndUsageErrors) {
  const std::string path = (std::filesystem::temp_directory_path() / "lirrin-cli-run-test.txt").string();
  {
    std::ofstream file(path);
    file << "Local1=Rpci32(0,0x1f,3,0);\r\n\tLocal2=Add(Local1,\t0);\nLocal2=\n";
  }
  const CliRun run = Cli({"run", "-f", path});
  std::filesystem::remove(path);
  EXPECT_EQ(run.Exit, kExitOk);
  EXPECT_EQ(Lines(run.Out).at(0), "result=0x3A308086 ok=1");

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"run"}, {"run", "-e"}, {"run", "-x", "1"}, {"run", "--max-steps", "0", "-e", "Add(1,2)"},
        {"run", "-f", "/nonexistent/lirrin-script"}}) {
    EXPECT_EQ(Cli(args).Exit, kExitUsage) << args.back();
  }
}

// Every family's board keeps the amplifier in the state file between two
// processes' transactions.
TEST(CliAmp, SetThenGetOnEveryFamily) {
  for (int family = 1; family <= 18; ++family) {
    StateFile state("amp-" + std::to_string(family));
    const std::string board = "sim:" + std::to_string(family);
    const CliRun set = Cli({"--board", board, "--state", state.Path, "amp", "set", "40"});
    EXPECT_EQ(set.Exit, kExitOk) << board << ": " << set.Err;
    EXPECT_EQ(set.Out, "volume=40 mute=0 word=0x2828\n") << board;
    const CliRun get = Cli({"--board", board, "--state", state.Path, "amp", "get"});
    EXPECT_EQ(get.Out, "volume=40 mute=0 word=0x2828\n") << board << ": " << get.Err;
  }
}

// The Windows driver serves everything the program does on every family's
// board: each command gives the same output and exit with the driver's
// policy in front of the board as without it, and the driver refuses
// nothing. The commands cover the platform check, detection with Init and
// Restore, and the amplifier's read, write and mute words.
TEST(CliDriverPolicy, TheDriverRefusesNothingTheProgramDoesOnAnyFamily) {
  const std::vector<std::vector<std::string>> commands = {
      {"platform"}, {"detect"},          {"amp", "get"},           {"amp", "set", "40"},
      {"amp", "mute"}, {"amp", "unmute"}, {"read-word", "0x25", "2"}, {"write-word", "0x25", "2", "0x1515"},
  };
  for (int family = 1; family <= 18; ++family) {
    const std::string board = "sim:" + std::to_string(family);
    StateFile direct("policy-direct-" + std::to_string(family));
    StateFile throughDriver("policy-driver-" + std::to_string(family));
    for (const auto& command : commands) {
      std::vector<std::string> args = {"--board", board, "--state", direct.Path};
      args.insert(args.end(), command.begin(), command.end());
      const CliRun expected = Cli(args);
      args[3] = throughDriver.Path;
      args.insert(args.begin(), "--driver-policy");
      const CliRun run = Cli(args);
      SCOPED_TRACE(board + " " + command[0]);
      EXPECT_EQ(run.Err, "");
      EXPECT_EQ(run.Out, expected.Out);
      EXPECT_EQ(run.Exit, expected.Exit);
      EXPECT_EQ(run.Exit, kExitOk);
    }
  }
}

// What the driver refuses fails the script that asked for it, and is
// named; the scripts before and after it are untouched.
TEST(CliDriverPolicy, RefusedRequestsFailTheirScriptAndAreNamed) {
  const CliRun run = Cli({"--driver-policy", "run", "-e", "o(0xCF9,6)", "-e", "Wrmsr(0x1B,0,0)", "-e", "Rdtsc"});
  EXPECT_EQ(run.Exit, kExitFailed);
  EXPECT_EQ(run.Err,
            "lirrin-cli: the driver refuses request 0x222814: a legacy platform port or the configuration mechanism's\n"
            "lirrin-cli: the driver refuses request 0x22284C: a model-specific register write\n");
  std::istringstream lines(run.Out);
  std::vector<std::string> results;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with("result=")) results.push_back(line.substr(line.find(" ok=")));
  }
  EXPECT_EQ(results, (std::vector<std::string>{" ok=0", " ok=0", " ok=1"}));
}

// --realtime: the same word, but the controller script's delay before the
// word wait (40 ms on this family) is waited out on the system's clock.
TEST(CliAmp, RealTimeBoardWaitsOutItsDelays) {
  StateFile state("realtime");
  TSystemClock clock;
  const u64 start = clock.Milliseconds();
  const CliRun set = Cli({"--realtime", "--state", state.Path, "amp", "set", "9"});
  EXPECT_GE(clock.Milliseconds() - start, 40u);
  EXPECT_EQ(set.Exit, kExitOk) << set.Err;
  EXPECT_EQ(set.Out, "volume=9 mute=0 word=0x0909\n");
}

TEST(CliAmp, MuteKeepsTheVolume) {
  StateFile state("mute");
  const std::vector<std::string> board = {"--state", state.Path, "amp"};
  auto amp = [&](std::vector<std::string> verb) {
    std::vector<std::string> args = board;
    args.insert(args.end(), verb.begin(), verb.end());
    return Cli(args);
  };
  // Each changing form prints the state line of the word it wrote.
  EXPECT_EQ(amp({"set", "63"}).Out, "volume=63 mute=0 word=0x3F3F\n");
  EXPECT_EQ(amp({"mute"}).Out, "volume=63 mute=1 word=0xBFBF\n");
  EXPECT_EQ(amp({"get"}).Out, "volume=63 mute=1 word=0xBFBF\n");
  EXPECT_EQ(amp({"mute"}).Out, "volume=63 mute=1 word=0xBFBF\n");
  EXPECT_EQ(amp({"unmute"}).Out, "volume=63 mute=0 word=0x3F3F\n");
  EXPECT_EQ(amp({"get"}).Out, "volume=63 mute=0 word=0x3F3F\n");
  const CliRun zero = amp({"set", "0x0"});
  EXPECT_EQ(zero.Exit, kExitOk);
  EXPECT_EQ(zero.Out, "volume=0 mute=0 word=0x0000\n");
  EXPECT_EQ(amp({"get"}).Out, "volume=0 mute=0 word=0x0000\n");
}

TEST(CliAmp, BadValuesAreUsageErrorsAndTouchNothing) {
  StateFile state("bad");
  ASSERT_EQ(Cli({"--state", state.Path, "amp", "set", "21"}).Exit, kExitOk);
  for (const std::vector<std::string>& verb :
       {std::vector<std::string>{"set", "64"}, {"set", "-1"}, {"set", "abc"}, {"set", "0x"}, {"set"}, {"loud"},
        {}, {"get", "extra"}}) {
    std::vector<std::string> args = {"--state", state.Path, "amp"};
    args.insert(args.end(), verb.begin(), verb.end());
    const CliRun run = Cli(args);
    EXPECT_EQ(run.Exit, kExitUsage) << (verb.empty() ? "(none)" : verb.back());
    EXPECT_EQ(run.Out, "");
  }
  EXPECT_EQ(Cli({"--state", state.Path, "amp", "get"}).Out, "volume=21 mute=0 word=0x1515\n");
}

// The kept setting's file: what the program writes reads back, and
// anything else is refused with the line that is wrong.
TEST(CliSavedSetting, ReadsWhatItWritesAndRefusesAnythingElse) {
  for (const TSavedSetting& setting : {TSavedSetting{0, false}, TSavedSetting{63, true}, TSavedSetting{40, false}}) {
    std::string problem;
    EXPECT_EQ(ParseSavedSetting(SavedSettingText(setting), problem), setting) << problem;
  }
  EXPECT_EQ(TSavedSetting::Of(0xA8A8).Word(), 0xA8A8);
  EXPECT_EQ(TSavedSetting::Of(0x2828).Word(), 0x2828);

  struct TCase {
    const char* Text;
    std::optional<TSavedSetting> Setting;
    const char* Problem;
  };
  const TCase cases[] = {
      {"volume=7\nmute=1\n", TSavedSetting{7, true}, ""},
      {"\n# kept\r\n  mute = 0\r\nvolume=63", TSavedSetting{63, false}, ""},
      {"", std::nullopt, "no volume line"},
      {"volume=7\n", std::nullopt, "no mute line"},
      {"volume=64\nmute=0\n", std::nullopt, "line 1: the volume must be 0..63"},
      {"volume=-1\nmute=0\n", std::nullopt, "line 1: the volume must be 0..63"},
      {"volume=0x10\nmute=0\n", std::nullopt, "line 1: the volume must be 0..63"},
      {"volume=\nmute=0\n", std::nullopt, "line 1: the volume must be 0..63"},
      {"volume=1\nmute=2\n", std::nullopt, "line 2: mute must be 0 or 1"},
      {"volume=1\nvolume=2\nmute=0\n", std::nullopt, "line 2: volume given twice"},
      {"volume=1\nmute=0\nadapter=i2c-0\n", std::nullopt, "line 3: not volume=N or mute=0|1"},
      {"volume 1\nmute=0\n", std::nullopt, "line 1: not volume=N or mute=0|1"},
  };
  for (const TCase& c : cases) {
    std::string problem;
    EXPECT_EQ(ParseSavedSetting(c.Text, problem), c.Setting) << c.Text;
    EXPECT_EQ(problem, c.Problem) << c.Text;
  }
}

// amp keeps what it set in the file --setting names, and restore puts it
// back; nothing kept is nothing to do, on any board.
TEST(CliRestore, PutsBackWhatAmpKept) {
  StateFile state("restore");
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "lirrin-cli-restore-setting";
  std::filesystem::remove_all(folder);
  const std::string file = (folder / "amp").string();
  auto cli = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"--state", state.Path, "--setting", file});
    return Cli(args);
  };
  const CliRun nothing = cli({"restore"});
  EXPECT_EQ(nothing.Exit, kExitOk);
  EXPECT_EQ(nothing.Out, "nothing saved\n");
  const CliRun nothingHere = Cli({"--board", "sim:1+nomarker", "--setting", file, "restore"});
  EXPECT_EQ(nothingHere.Exit, kExitOk) << nothingHere.Err;

  ASSERT_EQ(cli({"amp", "set", "40"}).Exit, kExitOk);
  ASSERT_EQ(cli({"amp", "mute"}).Exit, kExitOk);
  ASSERT_EQ(cli({"--no-save", "amp", "set", "5"}).Exit, kExitOk);  // the kept setting stays
  ASSERT_EQ(Cli({"--state", state.Path, "amp", "set", "9"}).Exit, kExitOk);
  const CliRun restored = cli({"restore"});
  EXPECT_EQ(restored.Exit, kExitOk) << restored.Err;
  EXPECT_EQ(restored.Out, "volume=40 mute=1 word=0xA8A8\n");
  EXPECT_EQ(Cli({"--state", state.Path, "amp", "get"}).Out, "volume=40 mute=1 word=0xA8A8\n");
  EXPECT_FALSE(std::filesystem::exists(file + ".new"));

  const CliRun unsupported = Cli({"--board", "sim:1+nomarker", "--setting", file, "restore"});
  EXPECT_EQ(unsupported.Exit, kExitUsage);
  EXPECT_EQ(std::count(unsupported.Err.begin(), unsupported.Err.end(), '\n'), 1) << unsupported.Err;
  const CliRun silent = Cli({"--board", "sim:1+noamp", "--setting", file, "restore"});
  EXPECT_EQ(silent.Exit, kExitFailed);
  EXPECT_EQ(silent.Err, "lirrin-cli: restore: no acknowledge\n");

  { std::ofstream(file) << "volume=40\nmute=yes\n"; }
  const CliRun damaged = cli({"restore"});
  EXPECT_EQ(damaged.Exit, kExitFailed);
  EXPECT_EQ(damaged.Err, "lirrin-cli: restore: " + file + ": line 2: mute must be 0 or 1\n");
  EXPECT_EQ(Cli({"--state", state.Path, "amp", "get"}).Out, "volume=40 mute=1 word=0xA8A8\n");
  std::filesystem::remove_all(folder);
}

// A setting that cannot be kept is a failure, said after the word it did
// set; without --setting the simulated board keeps nothing.
TEST(CliRestore, ASettingThatCannotBeKeptFails) {
  StateFile state("unkept");
  const std::filesystem::path blocker = std::filesystem::temp_directory_path() / "lirrin-cli-not-a-folder";
  { std::ofstream(blocker) << "x"; }
  const CliRun run = Cli({"--state", state.Path, "--setting", (blocker / "amp").string(), "amp", "set", "12"});
  EXPECT_EQ(run.Exit, kExitFailed);
  EXPECT_EQ(run.Out, "volume=12 mute=0 word=0x0C0C\n");
  EXPECT_TRUE(run.Err.starts_with("lirrin-cli: amp: the amplifier took the word, but the setting is not kept"))
      << run.Err;
  std::filesystem::remove(blocker);

  const CliRun unnamed = Cli({"--state", state.Path, "restore"});
  EXPECT_EQ(unnamed.Exit, kExitUsage);
  EXPECT_EQ(unnamed.Err, "lirrin-cli: restore: no setting is kept for this board (name a file with --setting)\n");
}

// A failed transaction says which failure it was, on one line.
TEST(CliSMBus, FailedTransactionsGiveTheirReason) {
  struct Case {
    std::vector<std::string> args;
    const char* err;
  };
  const Case cases[] = {
      {{"--board", "sim+noamp", "amp", "get"}, "lirrin-cli: amp: no acknowledge\n"},
      {{"--board", "sim+noamp", "amp", "set", "5"}, "lirrin-cli: amp: no acknowledge\n"},
      {{"--board", "sim:5+noamp", "amp", "set", "40"}, "lirrin-cli: amp: no acknowledge\n"},
      {{"--board", "sim:2+stuck", "amp", "set", "40"}, "lirrin-cli: amp: the controller never finished\n"},
      {{"--board", "sim:2+stuck", "read-word", "0xA0", "0"},
       "lirrin-cli: read-word at 0x50: the controller never finished\n"},
      {{"--board", "sim:18+noamp", "write-word", "0x25", "2", "1"}, "lirrin-cli: write-word at 0x25: no acknowledge\n"},
      {{"--board", "sim:0", "--force", "amp", "get"}, "lirrin-cli: amp: no SMBus controller\n"},
      {{"--board", "sim:0", "--force", "write-word", "0x25", "2", "0"},
       "lirrin-cli: write-word at 0x25: no SMBus controller\n"},
  };
  for (const Case& c : cases) {
    const CliRun run = Cli(c.args);
    EXPECT_EQ(run.Exit, kExitFailed) << c.err;
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err, c.err);
  }
}

TEST(CliSMBus, WordsReachTheAmplifierAndReadsStepTheCommand) {
  StateFile state("words");
  EXPECT_EQ(Cli({"--state", state.Path, "write-word", "0x25", "2", "0xBEEF"}).Exit, kExitOk);
  EXPECT_EQ(Cli({"--state", state.Path, "read-word", "0x25", "2"}).Out, "0xBEEF\n");
  EXPECT_EQ(Cli({"--state", state.Path, "--via", "raw", "read-word", "37", "2"}).Out, "0xBEEF\n");
  // The EEPROM's word at 4 is bytes 4 and 5, the one at 5 bytes 5 and 6.
  const std::string at4 = Cli({"--state", state.Path, "read-word", "0xA0", "4"}).Out;
  const std::string at5 = Cli({"--state", state.Path, "read-word", "160", "5"}).Out;
  ASSERT_EQ(at4.size(), 7u);
  ASSERT_EQ(at5.size(), 7u);
  EXPECT_EQ(at4.substr(2, 2), at5.substr(4, 2));
  const CliRun bad = Cli({"read-word", "0x100", "4"});
  EXPECT_EQ(bad.Exit, kExitUsage);
  EXPECT_EQ(Cli({"write-word", "0x25", "2", "0x10000"}).Exit, kExitUsage);
  EXPECT_EQ(Cli({"--board", "sim:7", "read-word", "0x52", "0"}).Exit, kExitFailed);  // nothing answers there
}

// Addresses are 7-bit, as i2c-tools take them; an even value from 0x80 up
// can only be the 8-bit form and is read as that. The reserved ranges and
// an 8-bit address with the read bit are usage errors, and touch nothing.
TEST(CliSMBus, AddressesAreSevenBitAndTheReservedOnesAreRefused) {
  StateFile state("addresses");
  ASSERT_EQ(Cli({"--state", state.Path, "amp", "set", "7"}).Exit, kExitOk);
  EXPECT_EQ(Cli({"--state", state.Path, "read-word", "0x25", "2"}).Out, "0x0707\n");
  EXPECT_EQ(Cli({"--state", state.Path, "read-word", "0xA0", "2"}).Out,
            Cli({"--state", state.Path, "read-word", "0x50", "2"}).Out);
  // What this tool once took as the amplifier's 8-bit address is another
  // slave's 7-bit one now; a word there is refused by the bus rule.
  EXPECT_EQ(Cli({"--state", state.Path, "write-word", "0x4A", "2", "0x3F3F"}).Err,
            "lirrin-cli: write-word at 0x4A: refused: " NVK_SMBUS_RULE_TEXT "\n");
  struct TCase {
    const char* Address;
    const char* Err;
  };
  const TCase cases[] = {
      {"0x00", "lirrin-cli: address 0x00 is reserved (0x00-0x07 and 0x78-0x7F name no device)\n"},
      {"0x07", "lirrin-cli: address 0x07 is reserved (0x00-0x07 and 0x78-0x7F name no device)\n"},
      {"0x78", "lirrin-cli: address 0x78 is reserved (0x00-0x07 and 0x78-0x7F name no device)\n"},
      {"0x7F", "lirrin-cli: address 0x7F is reserved (0x00-0x07 and 0x78-0x7F name no device)\n"},
      {"0xF0", "lirrin-cli: address 0x78 is reserved (0x00-0x07 and 0x78-0x7F name no device)\n"},
      {"0xA1", "lirrin-cli: address 0xA1 is an 8-bit address with the read bit set: give the 7-bit address 0x50\n"},
  };
  for (const TCase& c : cases) {
    const CliRun run = Cli({"--state", state.Path, "read-word", c.Address, "2"});
    EXPECT_EQ(run.Exit, kExitUsage) << c.Address;
    EXPECT_EQ(run.Err, c.Err) << c.Address;
  }
  EXPECT_EQ(Cli({"--state", state.Path, "amp", "get"}).Out, "volume=7 mute=0 word=0x0707\n");
}

// The memory modules' EEPROMs share the bus: whatever the route and
// however forced, a word goes to the amplifier only, and nothing goes to
// the general call or a DDR4 module's page and write-protect addresses.
// The EEPROM keeps every byte.
TEST(CliSMBus, TheBusRuleHoldsOnEveryRouteAndCannotBeForced) {
  const std::string refused = "refused: " NVK_SMBUS_RULE_TEXT "\n";
  // The command and its slave's 7-bit address (the first two in the
  // 8-bit form).
  const std::vector<std::pair<std::vector<std::string>, std::string>> commands = {
      {{"write-word", "0xA0", "2", "0x0505"}, "0x50"}, {{"write-word", "0xAE", "0", "0"}, "0x57"},
      {{"write-word", "0x50", "2", "0x2828"}, "0x50"}, {{"write-word", "0x36", "0", "0"}, "0x36"},
      {{"read-word", "0x30", "0"}, "0x30"},            {{"read-word", "0x37", "2"}, "0x37"},
  };
  for (const std::vector<std::string>& options :
       std::vector<std::vector<std::string>>{{}, {"--force"}, {"--driver-policy"}, {"--board", "sim:16", "--force"}}) {
    StateFile state("rule");
    const std::string eeprom = Cli({"--state", state.Path, "read-word", "0xA0", "2"}).Out;
    for (const auto& [command, slave] : commands) {
      std::vector<std::string> args = options;
      args.insert(args.end(), {"--state", state.Path});
      args.insert(args.end(), command.begin(), command.end());
      const CliRun run = Cli(args);
      SCOPED_TRACE(args.front() + " " + command[0] + " " + command[1]);
      EXPECT_EQ(run.Exit, kExitFailed);
      EXPECT_EQ(run.Out, "");
      EXPECT_EQ(run.Err, "lirrin-cli: " + command[0] + " at " + slave + ": " + refused);
    }
    EXPECT_EQ(Cli({"--state", state.Path, "read-word", "0xA0", "2"}).Out, eeprom);
  }
}

TEST(CliSMBus, DetectNamesTheFamily) {
  EXPECT_EQ(Cli({"detect"}).Out, "Intel ICH7/ICH8/ICH9/ICH10\n");
  EXPECT_EQ(Cli({"--board", "sim:17", "detect"}).Out, "nVidia MCPxx\n");
  const CliRun none = Cli({"--board", "sim:0", "detect"});
  EXPECT_EQ(none.Exit, kExitFailed);
  EXPECT_EQ(none.Out, "none\n");
  EXPECT_EQ(none.Err, "lirrin-cli: detect: no controller family of the table matches this board\n");
}

TEST(CliPlatform, SupportedBoard) {
  const CliRun run = Cli({"platform"});
  EXPECT_EQ(run.Exit, kExitOk);
  EXPECT_EQ(Lines(run.Out),
            (std::vector<std::string>{"supported=1", "model=NV-P45 Deluxe", "bios=V2.07", "date=2012/07/09",
                                      "pciebase=0xE0000000", "smbios=2.4 address=0x000F0820 length=189",
                                      "table=RSDT", "table=FACP", "table=APIC", "table=MCFG", "table=FACS",
                                      "table=DSDT"}));
}

TEST(CliPlatform, UnsupportedBoardsAndTheCheckBeforeSMBusCommands) {
  struct Case {
    const char* board;
    const char* supported;
    bool hasAcpi;
  };
  for (const Case& c : {Case{"sim+nomarker", "supported=0", true}, Case{"sim+novendor", "supported=0", true},
                        Case{"sim+noacpi", "supported=1", false}}) {
    const CliRun platform = Cli({"--board", c.board, "platform"});
    const std::vector<std::string> lines = Lines(platform.Out);
    ASSERT_GE(lines.size(), 5u) << c.board;
    EXPECT_EQ(lines[0], c.supported) << c.board;
    EXPECT_EQ(lines[4], c.hasAcpi ? "pciebase=0xE0000000" : "pciebase=0xFFFFFFFF") << c.board;
    EXPECT_EQ(lines.size() > 6, c.hasAcpi) << c.board;
    // An unsupported board cannot be used: the usage exit code.
    EXPECT_EQ(platform.Exit, std::string(c.supported) == "supported=1" ? kExitOk : kExitUsage) << c.board;
  }

  const CliRun refused = Cli({"--board", "sim+novendor", "amp", "get"});
  EXPECT_EQ(refused.Exit, kExitUsage);
  EXPECT_EQ(refused.Out, "");
  EXPECT_EQ(refused.Err, "This utility is not for this platform!\n");
  EXPECT_EQ(Cli({"--board", "sim+novendor", "--force", "amp", "get"}).Exit, kExitOk);
}

}  // namespace
}  // namespace lirrin::cli

namespace lirrin::cli {
namespace {

// The value of the report's line "KEY: value"; "(missing)" without one.
std::string ReportValue(const std::string& report, const std::string& key) {
  for (const std::string& line : Lines(report)) {
    if (line.starts_with(key + ": ")) return line.substr(key.size() + 2);
  }
  return "(missing)";
}

// The lines of one "[section]" of the report.
std::vector<std::string> ReportSection(const std::string& report, const std::string& name) {
  std::vector<std::string> section;
  bool inside = false;
  for (const std::string& line : Lines(report)) {
    if (line.starts_with("[")) {
      inside = line == "[" + name + "]";
    } else if (inside && !line.empty()) {
      section.push_back(line);
    }
  }
  return section;
}

// One report per kind of simulated board: what the platform check, the
// detection and the amplifier's probe found, and every failure met.
TEST(CliReport, SaysWhatEachBoardIs) {
  struct Case {
    const char* board;
    const char* check;
    const char* controller;
    const char* amplifier;
    std::vector<std::string> failures;
  };
  const Case cases[] = {
      {"sim", "supported (the board information block and the maker's PCI function are present)",
       "Intel ICH7/ICH8/ICH9/ICH10", "volume=0 mute=0 word=0x0000 (through the program's own controller access)",
       {"none"}},
      {"sim+novendor", "not supported (no PCI function carries the board maker's subsystem vendor ID)",
       "Intel ICH7/ICH8/ICH9/ICH10", "not probed: the board is not supported",
       {"platform check: no PCI function carries the board maker's subsystem vendor ID"}},
      {"sim+nomarker", "not supported (no valid board information block in the firmware area (E0000h..FFFFFh))",
       "Intel ICH7/ICH8/ICH9/ICH10", "not probed: the board is not supported",
       {"platform check: no valid board information block in the firmware area (E0000h..FFFFFh)"}},
      {"sim:0", "supported (the board information block and the maker's PCI function are present)", "none",
       "not probed: no SMBus controller", {"no SMBus controller family of the table matches"}},
      {"sim:14+noamp", "supported (the board information block and the maker's PCI function are present)",
       "VIA 8235/8237/8237A/8251", "no answer: no acknowledge (through the program's own controller access)",
       {"amplifier at 0x25: no acknowledge"}},
  };
  for (const Case& c : cases) {
    const CliRun run = Cli({"--board", c.board, "report"});
    EXPECT_EQ(run.Exit, kExitOk) << c.board << ": " << run.Err;
    EXPECT_EQ(run.Err, "") << c.board;
    EXPECT_TRUE(run.Out.starts_with("Norvik Lirrin support report\n")) << run.Out;
    EXPECT_EQ(ReportValue(run.Out, "board"), c.board);
    EXPECT_EQ(ReportValue(run.Out, "platform check"), c.check) << c.board;
    EXPECT_EQ(ReportValue(run.Out, "controller"), c.controller) << c.board;
    EXPECT_EQ(ReportValue(run.Out, "amplifier"), c.amplifier) << c.board;
    EXPECT_EQ(ReportValue(run.Out, "lock"), "free") << c.board;
    EXPECT_EQ(ReportSection(run.Out, "failures"), c.failures) << c.board;
  }
}

// Everything the program's start reads, as the other commands show it.
TEST(CliReport, CarriesTheProgramSystemAndBoardFacts) {
  const std::string report = Cli({"report"}).Out;
  EXPECT_EQ(ReportValue(report, "version"), LIRRIN_PROJECT_VERSION);
  EXPECT_NE(ReportValue(report, "build").find(ProgramIs64Bit() ? "64-bit" : "32-bit"), std::string::npos);
#ifdef _WIN32
  EXPECT_TRUE(ReportValue(report, "os").starts_with("Windows ")) << report;
  EXPECT_NE(ReportValue(report, "driver service NvkDrv101"), "(missing)") << report;
#else
  EXPECT_TRUE(ReportValue(report, "os").starts_with("Linux ")) << report;
#endif
  EXPECT_EQ(ReportValue(report, "model"), "NV-P45 Deluxe");
  EXPECT_EQ(ReportValue(report, "bios"), "V2.07");
  EXPECT_EQ(ReportValue(report, "smbios"), "2.4 at 0x000F0820, 189 bytes");
  EXPECT_EQ(ReportValue(report, "smbios system"), "Norvik / NV-P45 Deluxe / 1.0");
  EXPECT_EQ(ReportValue(report, "smbios board"), "Norvik / NV-P45 Deluxe / Rev 1.xx");
  EXPECT_EQ(report.find("NVKBB000001"), std::string::npos) << "serial numbers stay out";
  EXPECT_EQ(ReportValue(report, "acpi tables"), "RSDT FACP APIC MCFG FACS DSDT");
  EXPECT_EQ(ReportValue(report, "base"), "0x0400 (I/O BAR at 0x20 of the SMBus function)");
  EXPECT_EQ(ReportSection(report, "pci"), Lines(Cli({"pci"}).Out));
}

// The amplifier's word is read, never written, and the state file's path
// (a path of the user's) does not appear.
TEST(CliReport, WritesNothingAndNamesNoPathOfTheUser) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "lirrin-report-user-Qx7";
  std::filesystem::create_directories(folder);
  const std::string state = (folder / "amp.state").string();
  ASSERT_EQ(Cli({"--state", state, "amp", "set", "40"}).Exit, kExitOk);
  const auto stateBytes = [&] {
    std::ifstream file(state, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  };
  const std::string before = stateBytes();

  const std::string reportFile = (folder / "report.txt").string();
  const CliRun run = Cli({"--state", state, "report", reportFile});
  EXPECT_EQ(run.Exit, kExitOk) << run.Err;
  EXPECT_EQ(run.Out, "");
  std::ifstream file(reportFile, std::ios::binary);
  const std::string report(std::istreambuf_iterator<char>(file), {});
  file.close();
  EXPECT_EQ(ReportValue(report, "amplifier"),
            "volume=40 mute=0 word=0x2828 (through the program's own controller access)");
  EXPECT_EQ(stateBytes(), before);
  EXPECT_EQ(report.find("lirrin-report-user-Qx7"), std::string::npos) << report;
  for (const char* variable : {"HOME", "USERPROFILE", "TEMP", "TMPDIR"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && std::string(value).size() > 1) {
      EXPECT_EQ(report.find(value), std::string::npos) << value;
    }
  }
  std::filesystem::remove_all(folder);

  const CliRun unwritable = Cli({"report", (folder / "no-such-folder" / "report.txt").string()});
  EXPECT_EQ(unwritable.Exit, kExitFailed);
  EXPECT_NE(unwritable.Err.find("lirrin-cli: report: cannot write"), std::string::npos);
  EXPECT_EQ(Cli({"report", "a", "b"}).Exit, kExitUsage);
}

// While another process keeps the SMBus lock the amplifier is not read, so
// the report waits for the lock only briefly, and says who stands in the way.
TEST(CliReport, HeldLockIsReportedAfterABriefWait) {
  TSystemLock holder(TSMBus::kDefaultLockName);
  ASSERT_TRUE(holder.Acquire(TSMBus::kLockTimeoutMs));
  const CliRun report = Cli({"report"});
  const CliRun doctor = Cli({"doctor"});
  holder.Release();
  EXPECT_EQ(report.Exit, kExitOk);
  EXPECT_EQ(ReportValue(report.Out, "lock"), "held by another process");
  EXPECT_EQ(ReportValue(report.Out, "amplifier"), "not probed: another process holds the SMBus lock");
  EXPECT_EQ(ReportSection(report.Out, "failures"), std::vector<std::string>{"SMBus lock: held by another process"});
  EXPECT_EQ(doctor.Exit, kExitFailed);
  EXPECT_EQ(Lines(doctor.Out).at(0), "wrong: another process holds the SMBus lock");
}

// A program caught in the middle of its transaction, as a monitoring tool
// polling the bus often is, has let the lock go before the brief wait ends:
// nothing stands in the way.
TEST(CliReport, LockTakenForOneTransactionIsNotReportedHeld) {
  // The holder's own thread takes and gives back the lock: a Windows mutex
  // belongs to the thread that took it.
  std::promise<bool> taken;
  std::thread transaction([&] {
    TSystemLock holder(TSMBus::kDefaultLockName);
    const bool acquired = holder.Acquire(TSMBus::kLockTimeoutMs);
    taken.set_value(acquired);
    if (!acquired) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    holder.Release();
  });
  if (!taken.get_future().get()) {
    transaction.join();
    FAIL() << "the lock could not be taken";
  }
  const CliRun doctor = Cli({"doctor"});
  transaction.join();
  EXPECT_EQ(doctor.Exit, kExitOk) << doctor.Out;
  EXPECT_TRUE(Lines(doctor.Out).at(0).starts_with("nothing wrong")) << doctor.Out;
}

// Each finding on a board that has it, and nothing on one that has none.
// Why Windows would not start the driver, as the loader or the service
// tells it: the signature check (with Secure Boot deciding what can be
// done), a blocking policy, an antivirus; and test-signing mode asked for
// while Secure Boot keeps Windows from honouring it.
TEST(CliDoctor, NamesWhyWindowsRefusedTheDriver) {
  struct TCase {
    u32 StartError, ServiceExitCode;
    const char* SecureBoot;
    const char* Wrong;
    const char* Do;
  };
  const TCase cases[] = {
      {577, 0, "on", "Windows refused the driver's signature (error 577)", "while Secure Boot is on"},
      {577, 0, "unknown", "Windows refused the driver's signature (error 577)", "bcdedit /set testsigning on"},
      {0, 577, "off", "Windows refused the driver's signature (error 577)", "bcdedit /set testsigning on"},
      {1275, 0, "off", "Windows blocked the driver by policy (error 1275)", "CodeIntegrity > Operational"},
      {225, 0, "off", "the antivirus blocked the driver file NvkDrv101.sys (error 225)", "quarantine"},
  };
  for (const TCase& c : cases) {
    TReportFacts facts;
    facts.System.Service = TDriverService::Stopped;
    facts.System.SignedDriversOnly = true;
    facts.System.ServiceExitCode = c.ServiceExitCode;
    facts.System.SecureBoot = c.SecureBoot;
    facts.DriverStartError = c.StartError;
    const std::vector<TFinding> findings = DoctorFindings(facts);
    ASSERT_FALSE(findings.empty()) << c.Wrong;
    EXPECT_TRUE(findings[0].Wrong.starts_with(c.Wrong)) << findings[0].Wrong;
    EXPECT_NE(findings[0].Do.find(c.Do), std::string::npos) << findings[0].Do;
  }

  TReportFacts facts;
  facts.Reached = facts.Supported = true;
  facts.AmplifierProbed = facts.AmplifierAnswered = true;
  facts.Family = "Intel ICH7/ICH8/ICH9/ICH10";
  facts.System.TestSigningRequested = true;
  facts.System.SecureBoot = "off";
  EXPECT_TRUE(DoctorFindings(facts).empty());
  facts.System.SecureBoot = "on";
  const std::vector<TFinding> findings = DoctorFindings(facts);
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].Wrong,
            "test-signing mode is asked for at boot, but Secure Boot is on, and Windows does not honour it then");
}

TEST(CliDoctor, NamesWhatIsWrongAndWhatToDo) {
  struct Case {
    const char* board;
    int exit;
    const char* first;
  };
  const Case cases[] = {
      {"sim", kExitOk,
       "nothing wrong: the amplifier answers, volume=0 mute=0 word=0x0000 (through the program's own controller "
       "access)"},
      {"sim:7", kExitOk, "nothing wrong: the amplifier answers, volume=0 mute=0 word=0x0000"},
      {"sim+novendor", kExitFailed,
       "wrong: this board is not supported: no PCI function carries the board maker's subsystem vendor ID"},
      {"sim:0", kExitFailed, "wrong: no SMBus controller of the program's families was found"},
      {"sim+noamp", kExitFailed,
       "wrong: the amplifier at 0x25 gives no answer: no acknowledge (through the program's own controller access)"},
  };
  for (const Case& c : cases) {
    const CliRun run = Cli({"--board", c.board, "doctor"});
    EXPECT_EQ(run.Exit, c.exit) << c.board << ": " << run.Out;
    ASSERT_FALSE(run.Out.empty()) << c.board;
    EXPECT_TRUE(Lines(run.Out)[0].starts_with(c.first)) << c.board << ": " << run.Out;
    // Every finding comes with what to do.
    const std::vector<std::string> lines = Lines(run.Out);
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (lines[i].starts_with("wrong: ")) {
        EXPECT_TRUE(i + 1 < lines.size() && lines[i + 1].starts_with("  do: ")) << lines[i];
      }
    }
  }
  EXPECT_EQ(Cli({"doctor", "now"}).Exit, kExitUsage);
}

#ifdef _WIN32
// Under Wine the 32-bit build runs under WOW64 and installs the x64 image,
// which the 32-bit driver host cannot load; the report keeps the driver's
// message and the service's state, and the doctor says that 64-bit Windows
// wants a signed driver. The 64-bit build's image loads, but no port
// instruction runs in Wine's driver host, so nothing of the board is found.
TEST(CliReport, HardwareBoardUnderWine) {
  const CliRun report = Cli({"--board", "hw", "report"});
  EXPECT_EQ(report.Exit, kExitOk) << report.Err;
  EXPECT_NE(ReportValue(report.Out, "driver service NvkDrv101"), "(missing)") << report.Out;
  EXPECT_TRUE(ReportValue(report.Out, "os").starts_with("Windows ")) << report.Out;
  const CliRun doctor = Cli({"--board", "hw", "doctor"});
  EXPECT_EQ(doctor.Exit, kExitFailed) << doctor.Out;
  if (ProgramIs64Bit()) {
    EXPECT_TRUE(Lines(doctor.Out).at(0).starts_with("wrong: this board is not supported")) << doctor.Out;
  } else {
    EXPECT_EQ(ReportSection(report.Out, "failures").at(0), ToUtf8(kDriverLoadFailedText)) << report.Out;
    EXPECT_TRUE(Lines(doctor.Out).at(0).starts_with("wrong: 64-bit Windows loads only signed kernel drivers"))
        << doctor.Out;
  }
}
#endif

}  // namespace
}  // namespace lirrin::cli
