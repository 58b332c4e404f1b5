// Error boxes on POSIX systems, where the program is a command-line tool:
// the text as one line on standard error.
#include <cstdio>

#include "support/message_box.h"

namespace lirrin {

void ShowPlatformErrorBox(const TMessageBox& box) {
  const std::string line = ToUtf8(box.Text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace lirrin
