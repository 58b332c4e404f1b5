#pragma once
// lirrin-cli: the command-line tool over the core. Output formats and exit
// codes are a contract that scripts and tests rely on:
//   0 success, 1 the operation failed, 2 bad usage or an unusable board.

#include <iosfwd>
#include <string>
#include <vector>

namespace lirrin::cli {

enum : int {
  kExitOk = 0,
  kExitFailed = 1,
  kExitUsage = 2,
};

// Runs one command line (without the program name).
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace lirrin::cli
