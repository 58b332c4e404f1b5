#pragma once
// The one-line value renderings of every interpreter printout: "0x" and
// upper-case hexadecimal digits, and plain decimal.

#include "support/text.h"
#include "support/types.h"

namespace lirrin {

TText HexByte(u32 value);    // "0x" and 2 digits of the low 8 bits
TText HexWord(u32 value);    // "0x" and 4 digits of the low 16 bits
TText HexDword(u32 value);   // "0x" and 8 digits
TText HexQword(u64 value);   // "0x" and 16 digits
TText HexShort(u32 value);   // "0x" and the fewest digits, at least one
TText HexDec(u32 value);     // HexDword, " (", the value as signed decimal, ")"
TText Decimal(u32 value);          // the 32 bits read as a signed number
TText UnsignedDecimal(u32 value);  // the 32 bits read as an unsigned number

// Upper-case hexadecimal digits of `value`, exactly `digits` of them
// (zero-padded or cut to the low digits).
TText HexDigits(u64 value, unsigned digits);
// How many digits HexShort writes for `value`.
unsigned HexDigitCount(u64 value);

}  // namespace lirrin
