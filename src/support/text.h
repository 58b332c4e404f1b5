#pragma once
// Text is held as UTF-16 (the system's native text on Windows). These helpers
// convert at the edges: UTF-8 for POSIX streams and files, ASCII literals for
// the fixed messages of the program.

#include <string>
#include <string_view>

namespace lirrin {

using TText = std::u16string;

// Widens 8-bit text byte by byte (ASCII and Latin-1 keep their code points).
TText Widen(std::string_view text);

// UTF-16 to UTF-8; unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);

// The system's wide text to UTF-8: UTF-16 where wchar_t has 16 bits
// (Windows), code points where it has 32 (Linux).
std::string ToUtf8(std::wstring_view text);

// UTF-8 to UTF-16; malformed sequences become U+FFFD.
TText FromUtf8(std::string_view text);

}  // namespace lirrin
