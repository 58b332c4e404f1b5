// The text layer and the printout formats, without an interpreter.
#include <gtest/gtest.h>

#include "interp/output_format.h"
#include "interp/script_text.h"
#include "interp/value_format.h"
#include "support/text.h"

namespace lirrin {
namespace {

std::string U8(const TText& text) { return ToUtf8(text); }

TEST(ValueFormat, RendersEveryWidthInUpperCase) {
  EXPECT_EQ(U8(HexByte(0x1AB)), "0xAB");
  EXPECT_EQ(U8(HexWord(0x12ABCD)), "0xABCD");
  EXPECT_EQ(U8(HexDword(0xBEEF)), "0x0000BEEF");
  EXPECT_EQ(U8(HexQword(0x123456789ABCDEFull)), "0x0123456789ABCDEF");
  EXPECT_EQ(U8(HexShort(0)), "0x0");
  EXPECT_EQ(U8(HexShort(0x2E)), "0x2E");
  EXPECT_EQ(U8(HexShort(0xFFFF)), "0xFFFF");
  EXPECT_EQ(U8(HexShort(0xFFFFFFFF)), "0xFFFFFFFF");
  EXPECT_EQ(U8(HexDec(5)), "0x00000005 (5)");
  EXPECT_EQ(U8(HexDec(0xFFFFFFFF)), "0xFFFFFFFF (-1)");
  EXPECT_EQ(U8(HexDec(0x80000000)), "0x80000000 (-2147483648)");
  EXPECT_EQ(U8(UnsignedDecimal(0xFFFFFFFF)), "4294967295");
  EXPECT_EQ(U8(Decimal(0)), "0");
}

TEST(ScriptText, NormalisesCaseSeparatorsAndEnds) {
  const struct {
    const char* Script;
    const char* Normalised;
  } cases[] = {
      {"And(Local1,4)", "AND LOCAL1 4 "},
      {"  \tbkif0(Sub(Local0,0x24008086));;\r\n", "BKIF0 SUB LOCAL0 0X24008086  "},
      {"Local1=1;\n\tLocal2=2", "LOCAL1=1;\n\tLOCAL2=2"},  // inner control characters stay
      {"\x01o(0x80,1)\x7f", "O 0X80 1 \x7f"},              // only characters below the blank are trimmed
      {"Logfile(\"a b.txt\")", "LOGFILE \"A B.TXT\" "},
      {";;;", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(U8(NormaliseScript(Widen(c.Script))), c.Normalised) << c.Script;
  }
}

TEST(ScriptText, SplitsArgumentsAtSpacesAndKeepsQuotedOnesWhole) {
  TArgumentList list;
  list.Split(u"  1  \"52H 53H\"  \"SAY \"\"HI\"\"\" LOCAL0 \"\" \"OPEN");
  ASSERT_EQ(list.Count(), 6u);
  EXPECT_EQ(list.At(0), u"1");
  EXPECT_EQ(list.At(1), u"52H 53H");
  EXPECT_EQ(list.At(2), u"SAY \"HI\"");
  EXPECT_EQ(list.At(3), u"LOCAL0");
  EXPECT_EQ(list.At(4), u"");
  EXPECT_EQ(list.At(5), u"OPEN");  // an unclosed quote runs to the end

  list.Split(u"");
  EXPECT_EQ(list.Count(), 0u);
}

TEST(ScriptText, ReadsTheNumberForms) {
  const struct {
    const char16_t* Text;
    bool Valid;
    u32 Value;
  } cases[] = {
      {u"0", true, 0},
      {u"10", true, 10},
      {u"-1", true, 0xFFFFFFFF},
      {u"2147483647", true, 0x7FFFFFFF},
      {u"-2147483648", true, 0x80000000},
      {u"2147483648", false, 0},   // beyond the signed 32-bit range
      {u"-2147483649", false, 0},
      {u"0X10", true, 16},
      {u"0XFF00FFFF", true, 0xFF00FFFF},
      {u"0X00000000FF", true, 0xFF},
      {u"0X100000000", false, 0},
      {u"76H", true, 0x76},
      {u"0FFFFFFFFH", true, 0xFFFFFFFF},
      {u"H", false, 0},
      {u"0X", false, 0},
      {u"-", false, 0},
      {u"-5H", false, 0},
      {u"+1", false, 0},
      {u"$FF", false, 0},
      {u"12A", false, 0},
      {u"XYZ", false, 0},
      {u"", false, 0},
  };
  for (const auto& c : cases) {
    u32 value = 0xDEADBEEF;
    EXPECT_EQ(ParseNumber(c.Text, value), c.Valid) << ToUtf8(c.Text);
    EXPECT_EQ(value, c.Valid ? c.Value : 0xDEADBEEF) << ToUtf8(c.Text);
  }
}

TEST(ScriptText, ByteListsHoldOneTo256BytesOfValidNumbers) {
  std::vector<u8> bytes;
  ASSERT_TRUE(ParseByteList(u"52H 53H 0X44 32", bytes));
  EXPECT_EQ(bytes, (std::vector<u8>{0x52, 0x53, 0x44, 32}));

  EXPECT_FALSE(ParseByteList(u"52H 100H", bytes));  // above 255
  EXPECT_FALSE(ParseByteList(u"-1", bytes));
  EXPECT_FALSE(ParseByteList(u"_SM_", bytes));
  EXPECT_FALSE(ParseByteList(u"LOCAL0", bytes));
  EXPECT_FALSE(ParseByteList(u"   ", bytes));

  TText list;
  for (int i = 0; i < 256; ++i) list += u"1 ";
  EXPECT_TRUE(ParseByteList(list, bytes));
  EXPECT_EQ(bytes.size(), 256u);
  EXPECT_FALSE(ParseByteList(list + u"1", bytes));
}

TEST(OutputFormat, BitStringsGroupEightDigits) {
  EXPECT_EQ(U8(BitString(5, 8)), "00000101");
  EXPECT_EQ(U8(BitString(0x8001, 16)), "10000000-00000001");
  EXPECT_EQ(U8(BitString(0x80000001, 32)), "10000000-00000000-00000000-00000001");
  const std::string bits64 = U8(BitString(0xF000000000000001ull, 64));
  EXPECT_EQ(bits64.size(), 71u);
  EXPECT_EQ(bits64.substr(0, 9), "11110000-");
  EXPECT_EQ(bits64.substr(62), "-00000001");
}

TEST(OutputFormat, BitRulerStandsAboveItsDigits) {
  TLines lines;
  AppendBitRuler(1, lines);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(U8(lines[0]), "63    56 55    48 47    40 39    32 31    24 23    16 15     8 7      0");
  EXPECT_EQ(lines[1].size(), lines[0].size());
  EXPECT_EQ(U8(lines[1]).substr(62), "-00000001");
}

TEST(OutputFormat, CpuidTableLinesUpWithItsRuler) {
  TLines lines;
  AppendCpuidTable(0x80000001, 2, 3, 0xFFFFFFFF, lines);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(U8(lines[0]), "                 31    24 23    16 15     8 7      0");
  EXPECT_EQ(U8(lines[1]), "EAX = 0x80000001 10000000-00000000-00000000-00000001");
  EXPECT_EQ(U8(lines[2]).substr(0, 17), "EBX = 0x00000002 ");
  EXPECT_EQ(U8(lines[3]).substr(0, 17), "ECX = 0x00000003 ");
  EXPECT_EQ(U8(lines[4]), "EDX = 0xFFFFFFFF 11111111-11111111-11111111-11111111");
  EXPECT_EQ(lines[0].size(), lines[1].size());
}

TEST(OutputFormat, HexDumpOfOneRow) {
  std::vector<u8> bytes;
  for (u8 b = 0x41; b <= 0x50; ++b) bytes.push_back(b);
  TLines lines;
  AppendHexDump(bytes.data(), 16, lines);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(U8(lines[0]), "  00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\t0123456789ABCDEF");
  EXPECT_EQ(U8(lines[1]), "0 41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50\tABCDEFGHIJKLMNOP");
}

TEST(OutputFormat, HexDumpPadsAShortLastRowAndHidesUnprintableBytes) {
  std::vector<u8> bytes(20, 0x30);
  bytes[16] = 0x00;
  bytes[17] = 0x7F;
  bytes[18] = 0x80;
  bytes[19] = 0x20;
  TLines lines;
  AppendHexDump(bytes.data(), 20, lines);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(U8(lines[0]).substr(0, 6), "   00 ");
  EXPECT_EQ(U8(lines[1]), "00 30 30 30 30 30 30 30 30 30 30 30 30 30 30 30 30\t0000000000000000");
  EXPECT_EQ(U8(lines[2]), "10 00 7F 80 20" + std::string(12 * 3, ' ') + "\t... " + std::string(12, ' '));
}

TEST(OutputFormat, HexDumpOf256BytesHas17Lines) {
  std::vector<u8> bytes(256);
  TLines lines;
  AppendHexDump(bytes.data(), 256, lines);
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(U8(lines[1]).substr(0, 3), "00 ");
  EXPECT_EQ(U8(lines[16]).substr(0, 3), "F0 ");
}

}  // namespace
}  // namespace lirrin
