// run: scripts on one interpreter, in order, with one result variable.
#include <algorithm>
#include <fstream>
#include <ostream>
#include <sstream>

#include "cli/cli.h"
#include "cli/commands.h"
#include "interp/interpreter.h"

namespace lirrin::cli {

namespace {

// Statements per script before a run is stopped; endless WAIT{..,0,..} and
// LOOP{0,..} blocks cannot hang the tool.
constexpr u32 kDefaultStepLimit = 10'000'000;

constexpr const char* kUsage = "run [--max-steps N] (-e SCRIPT | -f FILE)...";

// The interpreter takes a script as one line; a file may spread it over
// several lines and indent it, so its line breaks and tabs become blanks.
bool ReadScriptFile(const std::string& path, std::string& text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream contents;
  contents << file.rdbuf();
  text = contents.str();
  std::replace_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\t'; }, ' ');
  return !file.bad();
}

}  // namespace

int RunCommand(const TSession&, const TArgs& args, std::ostream& out, std::ostream& err) {
  u32 stepLimit = kDefaultStepLimit;
  std::vector<std::string> scripts;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& option = args[i];
    if (i + 1 >= args.size() || (option != "-e" && option != "-f" && option != "--max-steps")) {
      err << "lirrin-cli: usage: " << kUsage << "\n";
      return kExitUsage;
    }
    const std::string& value = args[++i];
    if (option == "--max-steps") {
      const std::optional<u32> steps = ParseNumber(value, 0xFFFFFFFF);
      if (!steps || *steps == 0) {
        err << "lirrin-cli: --max-steps needs a positive number\n";
        return kExitUsage;
      }
      stepLimit = *steps;
    } else if (option == "-e") {
      scripts.push_back(value);
    } else {
      std::string text;
      if (!ReadScriptFile(value, text)) {
        err << "lirrin-cli: cannot read script file '" << value << "'\n";
        return kExitUsage;
      }
      scripts.push_back(text);
    }
  }
  if (scripts.empty()) {
    err << "lirrin-cli: usage: " << kUsage << "\n";
    return kExitUsage;
  }

  TInterpreter interpreter;
  interpreter.SetStepLimit(stepLimit);
  u32 result = 0;
  bool allSucceeded = true;
  for (const std::string& script : scripts) {
    // A request the driver refused fails the script, whatever the script
    // makes of the value it got.
    const u32 refusalsBefore = DriverRefusals();
    const bool succeeded = interpreter.RunScript(FromUtf8(script), result) && DriverRefusals() == refusalsBefore;
    allSucceeded = allSucceeded && succeeded;
    out << "result=" << HexText(result, 8) << " ok=" << (succeeded ? 1 : 0) << "\n";
    out << "message=" << ToUtf8(interpreter.LastMessage()) << "\n";
    for (const TText& line : interpreter.Output()) out << "output=" << ToUtf8(line) << "\n";
  }
  return allSucceeded ? kExitOk : kExitFailed;
}

}  // namespace lirrin::cli
