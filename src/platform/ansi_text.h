#pragma once
// Firmware text is 8-bit text in the system's ANSI code page on Windows; on
// other systems it is taken as Latin-1, byte by byte.

#include <string_view>

#include "support/text.h"

namespace lirrin {

TText FromAnsi(std::string_view text);

}  // namespace lirrin
