#include "cli/cli.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "sim/boards.h"

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

// Real hardware needs a transport, privileges and device files this test
// process does not have (Linux: root and /dev/mem; Windows: the driver).
TEST(Cli, HardwareBoardGivesAOneLineReasonWhenItCannotRun) {
#ifndef _WIN32
  if (geteuid() == 0 && access("/dev/mem", F_OK) == 0) GTEST_SKIP() << "this process could reach real hardware";
#endif
  const CliRun run = Cli({"--board", "hw", "pci"});
  EXPECT_EQ(run.Exit, kExitUsage);
  EXPECT_TRUE(run.Err.starts_with("lirrin-cli: --board hw: ")) << run.Err;
  EXPECT_EQ(std::count(run.Err.begin(), run.Err.end(), '\n'), 1) << run.Err;
  EXPECT_EQ(run.Out, "");
#ifdef _WIN32
  EXPECT_NE(run.Err.find("not available on this platform yet"), std::string::npos);
#endif
}

}  // namespace
}  // namespace lirrin::cli
