#include <windows.h>

#include "interp/text_file.h"
#include "support/os_handle.h"

namespace lirrin {

bool WriteTextFile(const TText& path, const std::vector<std::string>& utf8Lines) {
  const TOsHandle file(CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
  if (!file.Valid()) return false;
  std::string text;
  for (const std::string& line : utf8Lines) text += line + "\r\n";
  DWORD done = 0;
  while (done < text.size()) {
    DWORD written = 0;
    if (!WriteFile(file.Native(), text.data() + done, static_cast<DWORD>(text.size() - done), &written, nullptr) ||
        written == 0) {
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace lirrin
