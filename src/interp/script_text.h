#pragma once
// The text layer of the script language: normalising a script, cutting
// arguments, and reading numbers. Nothing here touches interpreter state.

#include <string_view>
#include <utility>
#include <vector>

#include "support/text.h"
#include "support/types.h"

namespace lirrin {

using TTextView = std::u16string_view;

// Without leading and trailing spaces.
TTextView Trim(TTextView text);
TTextView TrimLeft(TTextView text);

// The whole script as the interpreter sees it: trimmed of spaces and
// control characters, upper case, with ",", "(" and ")" turned into spaces
// and trailing ";" removed. So "And(Local1,4)" and "AND LOCAL1 4" are the
// same statement.
TText NormaliseScript(TTextView script);

// The arguments of one statement, cut at runs of spaces. An argument that
// starts with a double quote runs to its closing quote and may hold spaces;
// it is kept without its quotes, a doubled quote inside standing for one.
// The characters live in one buffer reused from statement to statement, so
// cutting allocates nothing once the buffer has grown.
class TArgumentList {
 public:
  // The arguments are views into `text`, except quoted ones, which the list
  // holds itself without their quotes; they stay valid while `text` lives
  // and until the next Split. Views spare a copy of every argument of every
  // statement.
  void Split(TTextView text);
  std::size_t Count() const { return Arguments.size(); }
  TTextView At(std::size_t index) const { return Arguments[index]; }

 private:
  TText Unquoted;  // quoted arguments, quotes removed and doubled quotes undone
  std::vector<TTextView> Arguments;
};

// A number in one of the script's forms: decimal with an optional minus
// sign within the signed 32-bit range (negative values as their two's
// complement), "0X" and hexadecimal digits up to 32 bits, or hexadecimal
// digits with an "H" suffix ("76H"). Text is expected in upper case.
bool ParseNumber(TTextView text, u32& value);

// The bytes of a pattern written as a list of numbers ("52H 53H 44H"): 1 to
// 256 elements, each a number of ParseNumber's forms from 0 to 255.
bool ParseByteList(TTextView text, std::vector<u8>& bytes);

}  // namespace lirrin
