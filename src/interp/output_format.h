#pragma once
// The multi-line printouts of the interpreter: bit pictures of registers,
// hexadecimal dumps of memory, and saving a printout to a text file.

#include <vector>

#include "support/text.h"
#include "support/types.h"

namespace lirrin {

using TLines = std::vector<TText>;

// Binary digits of the low `width` bits (8, 16, 32 or 64), most significant
// first, in groups of eight joined by "-": 32 bits give 35 characters.
TText BitString(u64 value, unsigned width);

// The 64-bit bit-number ruler and the value's BitString below it; each pair
// of bit numbers stands above its group of eight digits.
void AppendBitRuler(u64 value, TLines& lines);

// The four CPUID output registers under a 32-bit ruler.
void AppendCpuidTable(u32 eax, u32 ebx, u32 ecx, u32 edx, TLines& lines);

// A header line of column numbers and one row per 16 bytes: the row's
// offset from the start of the buffer, the bytes in hexadecimal, a tab, and
// the printable ones as characters.
void AppendHexDump(const u8* bytes, u32 size, TLines& lines);

// Writes `lines` to the file `name` as UTF-8 text, one line per entry, with
// the platform's line end; an existing file is replaced. False when the file
// cannot be written.
bool SaveLines(const TText& name, const TLines& lines);

}  // namespace lirrin
