#include "cli/cli.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "hw/load_driver.h"
#include "sim/boards.h"
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
      {{"--board", "sim:2+stuck", "read-word", "0xA0", "0"}, "lirrin-cli: read-word: the controller never finished\n"},
      {{"--board", "sim:18+noamp", "write-word", "0x4A", "2", "1"}, "lirrin-cli: write-word: no acknowledge\n"},
      {{"--board", "sim:0", "--force", "amp", "get"}, "lirrin-cli: amp: no SMBus controller\n"},
      {{"--board", "sim:0", "--force", "write-word", "0xA0", "0", "0"}, "lirrin-cli: write-word: no SMBus controller\n"},
  };
  for (const Case& c : cases) {
    const CliRun run = Cli(c.args);
    EXPECT_EQ(run.Exit, kExitFailed) << c.err;
    EXPECT_EQ(run.Out, "");
    EXPECT_EQ(run.Err, c.err);
  }
}

TEST(CliSMBus, WordsReachTheEepromAndReadsStepTheCommand) {
  StateFile state("eeprom");
  EXPECT_EQ(Cli({"--state", state.Path, "write-word", "0xA0", "4", "0xBEEF"}).Exit, kExitOk);
  EXPECT_EQ(Cli({"--state", state.Path, "write-word", "0xA0", "6", "0x1234"}).Exit, kExitOk);
  EXPECT_EQ(Cli({"--state", state.Path, "read-word", "0xA0", "4"}).Out, "0xBEEF\n");
  EXPECT_EQ(Cli({"--state", state.Path, "read-word", "160", "5"}).Out, "0x34BE\n");  // bytes 5 and 6
  const CliRun bad = Cli({"read-word", "0x100", "4"});
  EXPECT_EQ(bad.Exit, kExitUsage);
  EXPECT_EQ(Cli({"write-word", "0xA0", "4", "0x10000"}).Exit, kExitUsage);
  EXPECT_EQ(Cli({"--board", "sim:7", "read-word", "0x50", "0"}).Exit, kExitFailed);  // nothing answers there
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
