#include <fcntl.h>
#include <unistd.h>

#include "interp/text_file.h"
#include "support/os_handle.h"

namespace lirrin {

bool WriteTextFile(const TText& path, const std::vector<std::string>& utf8Lines) {
  const TOsHandle file(open(ToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!file.Valid()) return false;
  std::string text;
  for (const std::string& line : utf8Lines) text += line + "\n";
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = write(file.Native(), text.data() + done, text.size() - done);
    if (written <= 0) return false;
    done += static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace lirrin
