#include "support/debug_console.h"

#include <cstdio>

namespace lirrin {

TDebugConsole* TDebugConsole::Instance(bool enable) {
  // Created on first use and never destroyed: lines may be written until exit.
  static TDebugConsole* const instance = new TDebugConsole(enable);
  return instance;
}

TDebugConsole::TDebugConsole(bool enable) : Enabled_(enable) {
  if (Enabled_) OpenOutput();
}

TDebugConsole::~TDebugConsole() { SetEnabled(false); }

void TDebugConsole::SetEnabled(bool enable) {
  if (enable == Enabled_) return;
  Enabled_ = enable;
  if (enable) {
    OpenOutput();
  } else if (OutputHandle != kInvalidHandle) {
    CloseOutput();
    OutputHandle = kInvalidHandle;
  }
}

void TDebugConsole::Log(std::string_view label, std::string_view text, u16 color) {
  if (!Enabled()) return;
  std::string head(label);
  head += " ... [";
  WriteNarrow(head);
  SetColor(color);
  WriteNarrow(text);
  SetColor(kColorDefault);
  WriteNarrow("]\n");
}

void TDebugConsole::LogW(std::u16string_view label, std::u16string_view text, u16 color) {
  if (!Enabled()) return;
  std::u16string head(label);
  head += u" ... [";
  WriteWide(head);
  SetColor(color);
  WriteWide(text);
  SetColor(kColorDefault);
  WriteWide(u"]\n");
}

void TDebugConsole::LogLastError(u16 color) {
  // The error code is taken first, before any console call can change it.
  const std::u16string message = LastErrorText();
  LogW(u"LastError", message, color);
}

u16 TDebugConsole::SetColor(u16 attribute) {
  u16 previous = kColorDefault;
  if (!Enabled()) return previous;
  u16 current = kColorDefault;
  if (QueryAttribute(current)) previous = current;
  if (attribute == 0) previous = kColorDefault;
  ApplyAttribute(attribute);
  return previous;
}

std::string_view AnsiForAttribute(u16 attribute, char (&buffer)[32]) {
  if (attribute == kColorDefault) return "\x1b[0m";
  // Console colour bits are blue=1, green=2, red=4; ANSI numbers red=1,
  // green=2, blue=4.
  auto ansi = [](unsigned bits) { return ((bits & 4) >> 2) | (bits & 2) | ((bits & 1) << 2); };
  const unsigned fg = attribute & 0xF;
  const unsigned bg = (attribute >> 4) & 0xF;
  const int n = std::snprintf(buffer, sizeof buffer, "\x1b[0;%u;%um", (fg & 8 ? 90u : 30u) + ansi(fg),
                              (bg & 8 ? 100u : 40u) + ansi(bg));
  return {buffer, static_cast<std::size_t>(n)};
}

}  // namespace lirrin
