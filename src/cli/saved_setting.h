#pragma once
// The amplifier's setting that lirrin-cli keeps across boots on Linux. The
// amplifier forgets its word at every power cycle and resume; `amp set`,
// `mute` and `unmute` on the real board write what they left into a small
// system file, and `restore` (run at boot and after resume) puts it back.
// Only the volume and the mute are kept: the adapter's number (i2c-N) is
// the kernel's choice and may differ at the next boot.
//
// The file, as written:
//   # lirrin-cli's amplifier setting, put back by "lirrin-cli restore"
//   volume=40
//   mute=0

#include <optional>
#include <string>
#include <string_view>

#include "support/types.h"

namespace lirrin::cli {

struct TSavedSetting {
  u32 Volume = 0;  // 0..63
  bool Muted = false;

  static TSavedSetting Of(u16 word);
  // The amplifier's word for this setting, both channels alike.
  u16 Word() const;
  bool operator==(const TSavedSetting&) const = default;
};

#ifdef LIRRIN_LINUX_HARDWARE
// Where the real board's setting is kept unless --setting names a file.
constexpr const char* kSystemSettingFile = "/var/lib/lirrin/amp";
#endif

// The file's text for `setting`.
std::string SavedSettingText(const TSavedSetting& setting);

// The setting in `text`: both keys once each; comments (#) and blank lines
// allowed. Nothing, and a one-line reason, for anything else.
std::optional<TSavedSetting> ParseSavedSetting(std::string_view text, std::string& problem);

enum class TSettingLoad { Loaded, NothingSaved, Unreadable };
TSettingLoad LoadSavedSetting(const std::string& path, TSavedSetting& setting, std::string& problem);

// Replaces the file in one step (a new file beside it, flushed to the disk,
// renamed over the old one), so that a crash or power loss leaves the old
// setting or the new one, never a torn file. Creates the file's folder.
// False and a one-line reason.
bool SaveSetting(const std::string& path, const TSavedSetting& setting, std::string& problem);

}  // namespace lirrin::cli
