#pragma once
// Diagnostic console. With "/DEBUG" the program opens a console window and
// writes one coloured line per milestone; without it every call is a no-op,
// so callers never test whether logging is on.
//
// A line is: label " ... [" text "]" LF, where only the text is in the
// caller's colour and every line returns the attribute to 7 (light grey).
// On Windows the lines go to a console allocated for the process; elsewhere to
// standard error, coloured with ANSI escapes only when that is a terminal.

#include <cstdint>
#include <string>
#include <string_view>

#include "support/types.h"

namespace lirrin {

// Console text attributes used by the program's lines.
enum : u16 {
  kColorDefault = 7,   // light grey on black
  kColorGreen = 10,    // bright green
  kColorRed = 12,      // bright red
  kColorYellow = 14,   // yellow
};

class TDebugConsole {
 public:
  // The first call creates the console with `enable`; later calls return it
  // unchanged and ignore the flag (SetEnabled switches it).
  static TDebugConsole* Instance(bool enable);

  explicit TDebugConsole(bool enable);
  virtual ~TDebugConsole();
  TDebugConsole(const TDebugConsole&) = delete;
  TDebugConsole& operator=(const TDebugConsole&) = delete;

  void Log(std::string_view label, std::string_view text, u16 color);
  void LogW(std::u16string_view label, std::u16string_view text, u16 color);
  // One line labelled "LastError" with the system's text for the calling
  // thread's last error code (errno elsewhere).
  void LogLastError(u16 color);
  // Sets the text attribute and returns the one in force before (7 when
  // disabled, when the console cannot tell, or when `attribute` is 0).
  u16 SetColor(u16 attribute);

  bool Enabled() const { return Enabled_ && OutputHandle != kInvalidHandle; }
  // Opens or closes the output; a board session switches the lines on for
  // its own lifetime.
  void SetEnabled(bool enable);

 private:
  static constexpr std::intptr_t kInvalidHandle = -1;

  // Platform primitives (debug_console_win.cpp / debug_console_posix.cpp).
  void OpenOutput();
  void CloseOutput();
  void WriteNarrow(std::string_view text);
  void WriteWide(std::u16string_view text);
  bool QueryAttribute(u16& attribute);
  void ApplyAttribute(u16 attribute);
  // The system's message for the calling thread's last error, as the system
  // gives it (Windows texts end with CR LF); empty when it has none.
  static std::u16string LastErrorText();

  bool Enabled_;
  std::intptr_t OutputHandle = kInvalidHandle;
  u16 Attribute = kColorDefault;  // tracked where the platform cannot report it
};

// ANSI escape sequence that shows a console text attribute (foreground in
// bits 0..3, background in bits 4..7; bit 0 blue, 1 green, 2 red, 3 bright).
std::string_view AnsiForAttribute(u16 attribute, char (&buffer)[32]);

}  // namespace lirrin
