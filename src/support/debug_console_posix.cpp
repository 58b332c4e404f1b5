// The debug console on POSIX systems: lines go to standard error.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/debug_console.h"
#include "support/text.h"

namespace lirrin {

namespace {

bool ColorsWanted(std::intptr_t fd) { return isatty(static_cast<int>(fd)) == 1; }

void WriteAll(std::intptr_t fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(static_cast<int>(fd), bytes.data(), bytes.size());
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;  // write failures are ignored, as on the console
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

void TDebugConsole::OpenOutput() { OutputHandle = STDERR_FILENO; }

void TDebugConsole::CloseOutput() {
  // Standard error belongs to the process, not to the console object.
}

void TDebugConsole::WriteNarrow(std::string_view text) { WriteAll(OutputHandle, text); }

void TDebugConsole::WriteWide(std::u16string_view text) { WriteAll(OutputHandle, ToUtf8(text)); }

bool TDebugConsole::QueryAttribute(u16& attribute) {
  attribute = Attribute;
  return true;
}

void TDebugConsole::ApplyAttribute(u16 attribute) {
  Attribute = attribute;
  if (!ColorsWanted(OutputHandle)) return;
  char buffer[32];
  WriteAll(OutputHandle, AnsiForAttribute(attribute, buffer));
}

std::u16string TDebugConsole::LastErrorText() {
  const int code = errno;
  return code == 0 ? std::u16string() : Widen(std::strerror(code));
}

}  // namespace lirrin
