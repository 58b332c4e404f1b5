#pragma once
// A text file written whole, for the printouts a script saves: created or
// emptied, every line followed by the platform's line end (CR LF on
// Windows, LF elsewhere, so the file reads naturally with the system's own
// tools), UTF-8 without a byte-order mark. Plain system calls rather than
// the C++ stream library, which would more than double the size of the
// Windows programs.

#include <string>
#include <vector>

#include "support/text.h"

namespace lirrin {

// False when the file cannot be created or a write fails.
bool WriteTextFile(const TText& path, const std::vector<std::string>& utf8Lines);

}  // namespace lirrin
