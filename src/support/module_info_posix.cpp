// POSIX systems carry no version resources; the program's path comes from
// the kernel's link to the running executable.
#include <unistd.h>

#include <climits>

#include "support/module_info.h"
#include "support/text.h"

namespace lirrin {

std::wstring ModulePath() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0) return {};
  const TText utf16 = FromUtf8(std::string_view(path, static_cast<std::size_t>(length)));
  std::wstring wide;
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t c = utf16[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < utf16.size()) {
      c = 0x10000 + ((c - 0xD800) << 10) + (utf16[++i] - 0xDC00);
    }
    wide += static_cast<wchar_t>(c);
  }
  return wide;
}

bool ReadFileVersion(const std::wstring&, uint32_t&, uint32_t&) { return false; }

}  // namespace lirrin
