// SMBus commands: controller detection, single-word transactions and the
// amplifier register, through the same engine and scripts as the program or
// through the kernel's adapter (the session's word path).
#include <ostream>

#include "cli/cli.h"
#include "cli/commands.h"
#include "cli/saved_setting.h"
#include "cli/word_paths.h"
#include "smbus/amp_word.h"
#include "smbus/smbus.h"

namespace lirrin::cli {

namespace {

bool ReadWord(TWordPath& words, u8 address, u8 command, u16& word, const char* what, std::ostream& err) {
  std::string failure;
  if (words.ReadWord(address, command, word, failure)) return true;
  err << "lirrin-cli: " << what << ": " << failure << "\n";
  return false;
}

bool WriteWord(TWordPath& words, u8 address, u8 command, u16 word, const char* what, std::ostream& err) {
  std::string failure;
  if (words.WriteWord(address, command, word, failure)) return true;
  err << "lirrin-cli: " << what << ": " << failure << "\n";
  return false;
}

void PrintAmplifierState(u16 word, std::ostream& out) {
  out << "volume=" << amp::Volume(word) << " mute=" << amp::IsMuted(word) << " word=" << HexText(word, 4) << "\n";
}

// The slave address as i2c-tools take it: 7-bit, 0x08-0x77. An even value
// from 0x80 up can only be the 8-bit form (the address shifted left, as the
// controllers' registers hold it), which this tool once took: it is read
// as that. The reserved ranges (0x00-0x07: general call, CBUS, high-speed
// masters; 0x78-0x7F: ten-bit addressing) name no device. `value` is the
// parsed argument (0..0xFF); nothing, after a one-line reason, for anything
// that is no device's address.
std::optional<u8> SlaveAddress(u32 value, std::ostream& err) {
  if (value >= 0x80 && (value & 1) != 0) {
    err << "lirrin-cli: address " << HexText(value, 2) << " is an 8-bit address with the read bit set: give the "
        << "7-bit address " << HexText(value >> 1, 2) << "\n";
    return std::nullopt;
  }
  const u32 address = value >= 0x80 ? value >> 1 : value;
  if (address < 0x08 || address > 0x77) {
    err << "lirrin-cli: address " << HexText(address, 2) << " is reserved (0x00-0x07 and 0x78-0x7F name no device)\n";
    return std::nullopt;
  }
  return static_cast<u8>(address);
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

int DetectCommand(const TSession&, const TArgs& args, std::ostream& out, std::ostream& err) {
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

int ReadWordCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err) {
  std::vector<u32> values;
  if (!ParseArgs(args, "read-word ADDR CMD", {0xFF, 0xFF}, values, err)) return kExitUsage;
  const std::optional<u8> address = SlaveAddress(values[0], err);
  if (!address) return kExitUsage;
  u16 word = 0;
  const std::string what = "read-word at " + HexText(*address, 2);
  if (!ReadWord(*session.Words, static_cast<u8>(*address << 1), static_cast<u8>(values[1]), word, what.c_str(), err)) return kExitFailed;
  out << HexText(word, 4) << "\n";
  return kExitOk;
}

int WriteWordCommand(const TSession& session, const TArgs& args, std::ostream&, std::ostream& err) {
  std::vector<u32> values;
  if (!ParseArgs(args, "write-word ADDR CMD WORD", {0xFF, 0xFF, 0xFFFF}, values, err)) return kExitUsage;
  const std::optional<u8> address = SlaveAddress(values[0], err);
  if (!address) return kExitUsage;
  const std::string what = "write-word at " + HexText(*address, 2);
  const bool written =
      WriteWord(*session.Words, static_cast<u8>(*address << 1), static_cast<u8>(values[1]), static_cast<u16>(values[2]), what.c_str(), err);
  return written ? kExitOk : kExitFailed;
}

// amp get | set V | mute | unmute. Muting and unmuting change only the mute
// bits of the word the amplifier holds, as the panel's button does. Every
// form prints the state line of the word it read or wrote.
int AmpCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err) {
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
  } else if (!ReadWord(*session.Words, amp::kAddress, amp::kCommand, word, "amp", err)) {
    return kExitFailed;
  }

  if (verb == "mute") word = amp::Muted(word);
  if (verb == "unmute") word = amp::Unmuted(word);
  if (verb != "get" && !WriteWord(*session.Words, amp::kAddress, amp::kCommand, word, "amp", err)) return kExitFailed;
  PrintAmplifierState(word, out);
  std::string problem;
  if (verb != "get" && !session.SettingFile.empty() &&
      !SaveSetting(session.SettingFile, TSavedSetting::Of(word), problem)) {
    err << "lirrin-cli: amp: the amplifier took the word, but the setting is not kept for the next boot: " << problem
        << " (--no-save leaves the kept setting alone)\n";
    return kExitFailed;
  }
  return kExitOk;
}

// Puts the kept setting back, as the boot and resume units do.
int RestoreCommand(const TSession& session, const TArgs& args, std::ostream& out, std::ostream& err) {
  if (!args.empty()) {
    err << "lirrin-cli: restore takes no arguments\n";
    return kExitUsage;
  }
  const u16 word = session.Saved.Word();
  if (!WriteWord(*session.Words, amp::kAddress, amp::kCommand, word, "restore", err)) return kExitFailed;
  PrintAmplifierState(word, out);
  return kExitOk;
}

}  // namespace lirrin::cli
