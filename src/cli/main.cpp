#include <iostream>

#include "cli/cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return lirrin::cli::RunCli(args, std::cout, std::cerr);
}
