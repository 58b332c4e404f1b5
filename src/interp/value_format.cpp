#include "interp/value_format.h"

namespace lirrin {

namespace {

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

// Every statement prints a value or two, so the digits are built in place
// and the text is made once (short ones need no allocation at all).
TText Prefixed(u64 value, unsigned digits) {
  char16_t text[2 + 16] = {u'0', u'x'};
  for (unsigned i = digits; i-- > 0; value >>= 4) text[2 + i] = kHexDigits[value & 0xF];
  return TText(text, 2 + digits);
}

}  // namespace

TText HexDigits(u64 value, unsigned digits) { return Prefixed(value, digits).substr(2); }

unsigned HexDigitCount(u64 value) {
  unsigned digits = 1;
  while (value >>= 4) ++digits;
  return digits;
}

TText HexByte(u32 value) { return Prefixed(value & 0xFF, 2); }
TText HexWord(u32 value) { return Prefixed(value & 0xFFFF, 4); }
TText HexDword(u32 value) { return Prefixed(value, 8); }
TText HexQword(u64 value) { return Prefixed(value, 16); }
TText HexShort(u32 value) { return Prefixed(value, HexDigitCount(value)); }

TText HexDec(u32 value) { return HexDword(value) + u" (" + Decimal(value) + u")"; }

TText UnsignedDecimal(u32 value) {
  char16_t digits[10];
  unsigned count = 0;
  do {
    digits[count++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  TText text;
  while (count > 0) text += digits[--count];
  return text;
}

TText Decimal(u32 value) {
  if ((value & 0x80000000u) == 0) return UnsignedDecimal(value);
  TText text = u"-";
  text += UnsignedDecimal(0u - value);
  return text;
}

}  // namespace lirrin
