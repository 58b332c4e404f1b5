// SMBus commands: controller detection, single-word transactions and the
// amplifier register, through the same engine and scripts as the program.
#include <ostream>

#include "cli/cli.h"
#include "cli/commands.h"
#include "smbus/amp_word.h"
#include "smbus/smbus.h"

namespace lirrin::cli {

namespace {

// The engine answers true or false; the reason for a false is beside it,
// and goes into the one-line error.
void ReportFailure(const TSMBus& smbus, const char* what, std::ostream& err) {
  err << "lirrin-cli: " << what << ": " << FailureText(smbus.LastFailure());
  if (smbus.LastFailure() == TSMBusFailure::LockNotHad && !smbus.LockProblem().empty()) {
    err << ": " << smbus.LockProblem();
  }
  err << "\n";
}

bool ReadWord(u8 address, u8 command, u16& word, const char* what, std::ostream& err) {
  u8 bytes[2] = {};
  TSMBus& smbus = *TSMBus::Instance();
  if (!smbus.ReadWords(address, bytes, command, 1)) {
    ReportFailure(smbus, what, err);
    return false;
  }
  word = static_cast<u16>(bytes[0] | bytes[1] << 8);
  return true;
}

bool WriteWord(u8 address, u8 command, u16 word, const char* what, std::ostream& err) {
  const u8 bytes[2] = {static_cast<u8>(word), static_cast<u8>(word >> 8)};
  TSMBus& smbus = *TSMBus::Instance();
  if (!smbus.WriteWords(address, command, bytes, 1)) {
    ReportFailure(smbus, what, err);
    return false;
  }
  return true;
}

void PrintAmplifierState(u16 word, std::ostream& out) {
  out << "volume=" << amp::Volume(word) << " mute=" << amp::IsMuted(word) << " word=" << HexText(word, 4) << "\n";
}

bool ParseArgs(const TArgs& args, const char* usage, std::initializer_list<u32> limits, std::vector<u32>& values,
               std::ostream& err) {
  if (args.size() != limits.size()) {
    err << "lirrin-cli: usage: " << usage << "\n";
    return false;
  }
  auto limit = limits.begin();
  for (const std::string& arg : args) {
    const std::optional<u32> value = ParseNumber(arg, *limit++);
    if (!value) {
      err << "lirrin-cli: bad number '" << arg << "' (usage: " << usage << ")\n";
      return false;
    }
    values.push_back(*value);
  }
  return true;
}

}  // namespace

int DetectCommand(const TArgs& args, std::ostream& out, std::ostream& err) {
  if (!args.empty()) {
    err << "lirrin-cli: detect takes no arguments\n";
    return kExitUsage;
  }
  const TSMBus& smbus = *TSMBus::Instance();
  if (!smbus.HasController()) {
    out << "none\n";
    err << "lirrin-cli: detect: no controller family of the table matches this board\n";
    return kExitFailed;
  }
  out << ToUtf8(smbus.Controller().Name) << "\n";
  return kExitOk;
}

int ReadWordCommand(const TArgs& args, std::ostream& out, std::ostream& err) {
  std::vector<u32> values;
  if (!ParseArgs(args, "read-word ADDR CMD", {0xFF, 0xFF}, values, err)) return kExitUsage;
  u16 word = 0;
  if (!ReadWord(static_cast<u8>(values[0]), static_cast<u8>(values[1]), word, "read-word", err)) return kExitFailed;
  out << HexText(word, 4) << "\n";
  return kExitOk;
}

int WriteWordCommand(const TArgs& args, std::ostream&, std::ostream& err) {
  std::vector<u32> values;
  if (!ParseArgs(args, "write-word ADDR CMD WORD", {0xFF, 0xFF, 0xFFFF}, values, err)) return kExitUsage;
  const bool written =
      WriteWord(static_cast<u8>(values[0]), static_cast<u8>(values[1]), static_cast<u16>(values[2]), "write-word", err);
  return written ? kExitOk : kExitFailed;
}

// amp get | set V | mute | unmute. Muting and unmuting change only the mute
// bits of the word the amplifier holds, as the panel's button does. Every
// form prints the state line of the word it read or wrote.
int AmpCommand(const TArgs& args, std::ostream& out, std::ostream& err) {
  constexpr const char* kUsage = "amp get | amp set V (0..63) | amp mute | amp unmute";
  const std::string verb = args.empty() ? "" : args[0];
  const bool takesValue = verb == "set";
  if ((verb != "get" && verb != "set" && verb != "mute" && verb != "unmute") ||
      args.size() != (takesValue ? 2u : 1u)) {
    err << "lirrin-cli: usage: " << kUsage << "\n";
    return kExitUsage;
  }

  u16 word = 0;
  if (takesValue) {
    const std::optional<u32> volume = ParseNumber(args[1], amp::kMaxVolume);
    if (!volume) {
      err << "lirrin-cli: bad volume '" << args[1] << "' (usage: " << kUsage << ")\n";
      return kExitUsage;
    }
    word = amp::WordForVolume(*volume);
  } else if (!ReadWord(amp::kAddress, amp::kCommand, word, "amp", err)) {
    return kExitFailed;
  }

  if (verb == "mute") word = amp::Muted(word);
  if (verb == "unmute") word = amp::Unmuted(word);
  if (verb != "get" && !WriteWord(amp::kAddress, amp::kCommand, word, "amp", err)) return kExitFailed;
  PrintAmplifierState(word, out);
  return kExitOk;
}

}  // namespace lirrin::cli
