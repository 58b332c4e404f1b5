#include "interp/output_format.h"

#include "interp/text_file.h"
#include "interp/value_format.h"

namespace lirrin {

namespace {

constexpr u32 kBytesPerRow = 16;

char16_t DumpCharacter(u8 byte) { return byte >= 0x20 && byte <= 0x7E ? static_cast<char16_t>(byte) : u'.'; }

}  // namespace

TText BitString(u64 value, unsigned width) {
  TText text;
  for (unsigned bit = width; bit-- > 0;) {
    text += (value >> bit & 1) != 0 ? u'1' : u'0';
    if (bit % 8 == 0 && bit != 0) text += u'-';
  }
  return text;
}

void AppendBitRuler(u64 value, TLines& lines) {
  lines.emplace_back(u"63    56 55    48 47    40 39    32 31    24 23    16 15     8 7      0");
  lines.push_back(BitString(value, 64));
}

void AppendCpuidTable(u32 eax, u32 ebx, u32 ecx, u32 edx, TLines& lines) {
  // Seventeen spaces cover "EAX = 0x12345678 " and put each pair of bit
  // numbers over its group of digits.
  lines.emplace_back(u"                 31    24 23    16 15     8 7      0");
  const std::pair<const char16_t*, u32> registers[] = {{u"EAX = ", eax}, {u"EBX = ", ebx}, {u"ECX = ", ecx}, {u"EDX = ", edx}};
  for (const auto& [name, value] : registers) {
    TText line = name;
    line += HexDword(value);
    line += u' ';
    line += BitString(value, 32);
    lines.push_back(std::move(line));
  }
}

// The offset column is as wide as the last offset needs (2 digits for 256
// bytes). An empty buffer is dumped as a header of width 1 and no rows.
void AppendHexDump(const u8* bytes, u32 size, TLines& lines) {
  const unsigned width = HexDigitCount(size == 0 ? 0 : size - 1);
  TText header(width, u' ');
  for (u32 column = 0; column < kBytesPerRow; ++column) {
    header += u' ';
    header += HexDigits(column, 2);
  }
  header += u"\t0123456789ABCDEF";
  lines.push_back(std::move(header));
  for (u32 row = 0; row < size; row += kBytesPerRow) {
    TText line = HexDigits(row, width) + u" ";
    TText characters;
    for (u32 column = 0; column < kBytesPerRow; ++column) {
      if (column != 0) line += u' ';
      const bool present = row + column < size;
      line += present ? HexDigits(bytes[row + column], 2) : u"  ";
      characters += present ? DumpCharacter(bytes[row + column]) : u' ';
    }
    lines.push_back(line + u"\t" + characters);
  }
}

// UTF-8 without a byte-order mark keeps ASCII printouts byte for byte as
// they were.
bool SaveLines(const TText& name, const TLines& lines) {
  std::vector<std::string> utf8Lines;
  utf8Lines.reserve(lines.size());
  for (const TText& line : lines) utf8Lines.push_back(ToUtf8(line));
  return WriteTextFile(name, utf8Lines);
}

}  // namespace lirrin
