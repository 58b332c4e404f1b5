#include "interp/script_text.h"

namespace lirrin {

namespace {

constexpr std::size_t kMaxPatternElements = 256;

bool IsHexDigit(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'); }

unsigned HexValue(char16_t c) { return c <= u'9' ? c - u'0' : c - u'A' + 10; }

bool ParseHex(TTextView digits, u32& value) {
  if (digits.empty()) return false;
  u64 result = 0;
  for (char16_t c : digits) {
    if (!IsHexDigit(c)) return false;
    result = result << 4 | HexValue(c);
    if (result > 0xFFFFFFFFu) return false;
  }
  value = static_cast<u32>(result);
  return true;
}

bool ParseDecimal(TTextView text, u32& value) {
  const bool negative = !text.empty() && text.front() == u'-';
  if (negative) text.remove_prefix(1);
  if (text.empty()) return false;
  // Magnitude limit of the signed 32-bit range: 2^31 for negative numbers.
  const u64 limit = negative ? 0x80000000u : 0x7FFFFFFFu;
  u64 magnitude = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
    magnitude = magnitude * 10 + (c - u'0');
    if (magnitude > limit) return false;
  }
  value = negative ? 0u - static_cast<u32>(magnitude) : static_cast<u32>(magnitude);
  return true;
}

}  // namespace

TTextView TrimLeft(TTextView text) {
  const std::size_t first = text.find_first_not_of(u' ');
  return first == TTextView::npos ? TTextView() : text.substr(first);
}

TTextView Trim(TTextView text) {
  text = TrimLeft(text);
  return text.substr(0, text.find_last_not_of(u' ') + 1);
}

// Control characters are trimmed from the ends only: inside the text they
// are characters like any other, not separators (a caller that reads a
// script from a file turns its line breaks into blanks first). Upper-casing
// is ASCII only: command words, hexadecimal digits and "LOCAL" are ASCII,
// and other letters of a file name keep their form.
TText NormaliseScript(TTextView script) {
  TText text;
  text.reserve(script.size());
  for (char16_t c : script) {
    if (c >= u'a' && c <= u'z') {
      c = static_cast<char16_t>(c - u'a' + u'A');
    } else if (c == u',' || c == u'(' || c == u')') {
      c = u' ';
    }
    text += c;
  }
  // Trimming the original text removes its outer spaces and control
  // characters; the separators turned into spaces above stay, so "Foo(1)"
  // keeps the space where its ")" was (statements are trimmed later).
  std::size_t first = 0;
  while (first < script.size() && script[first] <= u' ') ++first;
  std::size_t last = script.size();
  while (last > first && script[last - 1] <= u' ') --last;
  text = text.substr(first, last - first);
  while (!text.empty() && text.back() == u';') text.pop_back();
  return text;
}

void TArgumentList::Split(TTextView text) {
  // Unquoted text is never longer than `text`: reserving that much keeps the
  // views into it valid while it grows.
  Unquoted.clear();
  Unquoted.reserve(text.size());
  Arguments.clear();
  std::size_t i = 0;
  while (true) {
    while (i < text.size() && text[i] == u' ') ++i;
    if (i == text.size()) return;
    if (text[i] == u'"') {
      const std::size_t start = Unquoted.size();
      for (++i; i < text.size(); ++i) {
        if (text[i] != u'"') {
          Unquoted += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == u'"') {
          Unquoted += u'"';
          ++i;
        } else {
          ++i;
          break;
        }
      }
      Arguments.emplace_back(Unquoted.data() + start, Unquoted.size() - start);
    } else {
      const std::size_t start = i;
      while (i < text.size() && text[i] != u' ') ++i;
      Arguments.push_back(text.substr(start, i - start));
    }
  }
}

bool ParseNumber(TTextView text, u32& value) {
  if (text.starts_with(u"0X")) return ParseHex(text.substr(2), value);
  if (text.ends_with(u'H')) return ParseHex(text.substr(0, text.size() - 1), value);
  return ParseDecimal(text, value);
}

bool ParseByteList(TTextView text, std::vector<u8>& bytes) {
  TArgumentList elements;
  elements.Split(text);
  if (elements.Count() == 0 || elements.Count() > kMaxPatternElements) return false;
  bytes.clear();
  for (std::size_t i = 0; i < elements.Count(); ++i) {
    u32 value = 0;
    if (!ParseNumber(elements.At(i), value) || value > 0xFF) return false;
    bytes.push_back(static_cast<u8>(value));
  }
  return true;
}

}  // namespace lirrin
