#include "cli/saved_setting.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "smbus/amp_word.h"

namespace lirrin::cli {

namespace {

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Decimal digits only, within [0, max].
std::optional<u32> Decimal(std::string_view text, u32 max) {
  if (text.empty() || text.size() > 3) return std::nullopt;
  u32 value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<u32>(c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

#ifndef _WIN32
// The rename is only as durable as the data and the folder entry behind it.
bool FlushToDisk(const std::string& path, int flags) {
  const int descriptor = open(path.c_str(), flags | O_CLOEXEC);
  if (descriptor < 0) return false;
  const bool flushed = fsync(descriptor) == 0;
  close(descriptor);
  return flushed;
}
#endif

}  // namespace

TSavedSetting TSavedSetting::Of(u16 word) { return {amp::Volume(word), amp::IsMuted(word)}; }

u16 TSavedSetting::Word() const {
  const u16 word = amp::WordForVolume(Volume);
  return Muted ? amp::Muted(word) : word;
}

std::string SavedSettingText(const TSavedSetting& setting) {
  return "# lirrin-cli's amplifier setting, put back by \"lirrin-cli restore\"\nvolume=" +
         std::to_string(setting.Volume) + "\nmute=" + (setting.Muted ? "1" : "0") + "\n";
}

std::optional<TSavedSetting> ParseSavedSetting(std::string_view text, std::string& problem) {
  std::optional<u32> volume, mute;
  int lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = Trimmed(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++lineNumber;
    if (line.empty() || line.front() == '#') continue;
    const std::string where = "line " + std::to_string(lineNumber) + ": ";
    const std::size_t equals = line.find('=');
    const std::string_view key = Trimmed(line.substr(0, equals));
    const std::string_view value = equals == std::string_view::npos ? "" : Trimmed(line.substr(equals + 1));
    std::optional<u32>* slot = key == "volume" ? &volume : key == "mute" ? &mute : nullptr;
    if (equals == std::string_view::npos || slot == nullptr) {
      problem = where + "not volume=N or mute=0|1";
      return std::nullopt;
    }
    if (slot->has_value()) {
      problem = where + std::string(key) + " given twice";
      return std::nullopt;
    }
    *slot = Decimal(value, slot == &volume ? amp::kMaxVolume : 1);
    if (!slot->has_value()) {
      problem = where + (slot == &volume ? "the volume must be 0..63" : "mute must be 0 or 1");
      return std::nullopt;
    }
  }
  if (!volume || !mute) {
    problem = volume ? "no mute line" : "no volume line";
    return std::nullopt;
  }
  return TSavedSetting{*volume, *mute == 1};
}

TSettingLoad LoadSavedSetting(const std::string& path, TSavedSetting& setting, std::string& problem) {
  std::error_code error;
  if (!std::filesystem::exists(path, error) && !error) return TSettingLoad::NothingSaved;
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    problem = "cannot read " + path + ": " + std::strerror(errno);
    return TSettingLoad::Unreadable;
  }
  std::ostringstream text;
  text << file.rdbuf();
  std::string reason;
  const std::optional<TSavedSetting> parsed = ParseSavedSetting(text.str(), reason);
  if (!parsed) {
    problem = path + ": " + reason;
    return TSettingLoad::Unreadable;
  }
  setting = *parsed;
  return TSettingLoad::Loaded;
}

bool SaveSetting(const std::string& path, const TSavedSetting& setting, std::string& problem) {
  namespace fs = std::filesystem;
  const fs::path target(path);
  std::error_code error;
  if (target.has_parent_path()) fs::create_directories(target.parent_path(), error);
  if (error) {
    problem = "cannot create " + target.parent_path().string() + ": " + error.message();
    return false;
  }
  const std::string fresh = path + ".new";
  {
    std::ofstream file(fresh, std::ios::binary | std::ios::trunc);
    if (file) file << SavedSettingText(setting);
    if (!file || !file.flush()) {
      problem = "cannot write " + fresh + ": " + std::strerror(errno);
      fs::remove(fresh, error);
      return false;
    }
  }
#ifndef _WIN32
  if (!FlushToDisk(fresh, O_RDONLY)) {
    problem = "cannot flush " + fresh + " to the disk: " + std::strerror(errno);
    fs::remove(fresh, error);
    return false;
  }
#endif
  fs::rename(fresh, target, error);
  if (error) {
    problem = "cannot replace " + path + ": " + error.message();
    fs::remove(fresh, error);
    return false;
  }
#ifndef _WIN32
  FlushToDisk(target.has_parent_path() ? target.parent_path().string() : ".", O_RDONLY | O_DIRECTORY);
#endif
  return true;
}

}  // namespace lirrin::cli
