// The built-in controller table: key order, the fixed bytes of every record,
// and the completion of prefix texts.
#include <gtest/gtest.h>

#include <iterator>
#include <vector>

#include "interp/interpreter.h"
#include "smbus/smbus_config.h"
#include "smbus_fixture.h"
#include "support/text.h"

namespace lirrin {
namespace {

using testing::kFamilyNames;

TEST(SMBusTableTest, IteratesTheFamiliesInKeyOrder) {
  TSMBusConfig table;
  std::vector<TText> names;
  for (const auto& [name, family] : table.Families()) {
    EXPECT_EQ(name, family.Name);
    names.push_back(name);
  }
  const std::vector<TText> expected(std::next(kFamilyNames.begin()), kFamilyNames.end());
  EXPECT_EQ(names, expected);
}

// Keys compare by UTF-16 code unit: not case-blind, not by code point (a
// surrogate pair, D83Dh.., sorts before FF01h although U+1F600 is the larger
// code point), not by a locale.
TEST(SMBusTableTest, KeysCompareByUtf16CodeUnits) {
  TSMBusCfgs map;
  for (const char16_t* key : {u"\uFF01", u"\U0001F600", u"b", u"B", u"a", u"\u00E9", u"Z", u"7", u"x"}) map[key] = {};
  std::vector<TText> keys;
  for (const auto& entry : map) keys.push_back(entry.first);
  const std::vector<TText> expected = {u"7", u"B", u"Z", u"a", u"b", u"x", u"\u00E9", u"\U0001F600", u"\uFF01"};
  EXPECT_EQ(keys, expected);
}

// ErrorMask and BlockStep by family; ReadyValue 0 and Spare 210 everywhere;
// only the two nVidia families with two controllers have a second base.
TEST(SMBusTableTest, FixedBytesOfEveryRecord) {
  struct Row {
    u8 BlockStep, ErrorMask;
    bool SecondChannel;
  };
  const Row rows[] = {{32, 4, false}, {1, 4, false},  {1, 4, false},  {32, 4, false}, {32, 0x0E, false}, {32, 4, false},
                      {8, 2, false},  {8, 2, false},  {32, 2, false}, {32, 2, false}, {1, 4, false},  {1, 4, false},
                      {1, 4, false},  {32, 4, false}, {32, 4, false}, {32, 4, false}, {32, 4, true},  {32, 4, true}};
  TSMBusConfig table;
  int number = 1;
  for (const auto& [name, family] : table.Families()) {
    const Row& row = rows[number - 1];
    SCOPED_TRACE(ToUtf8(name));
    EXPECT_EQ(family.BlockStep, row.BlockStep);
    EXPECT_EQ(family.ErrorMask, row.ErrorMask);
    EXPECT_EQ(family.ReadyValue, 0);
    EXPECT_EQ(family.Spare, 210);
    EXPECT_EQ(family.SpareValue, 0);
    EXPECT_TRUE(family.SpareText.empty());
    EXPECT_FALSE(family.Detect.empty());
    EXPECT_FALSE(family.Base1.empty());
    EXPECT_EQ(!family.Base2.empty(), row.SecondChannel);
    EXPECT_TRUE(family.Base3.empty());
    EXPECT_TRUE(family.Base4.empty());
    // Every word text is present: the engine runs them all.
    for (const TText* text : {&family.Ready, &family.SetAddress, &family.SetCommand, &family.StartWordRead,
                              &family.StartWordWrite, &family.WaitWord, &family.GetWordLow, &family.GetWordHigh,
                              &family.SetWordLow, &family.SetWordHigh}) {
      EXPECT_FALSE(text->empty());
    }
    ++number;
  }
}

TEST(SMBusTableTest, InstanceIsBuiltOnceAndRebuiltAfterFree) {
  TSMBusConfig* first = TSMBusConfig::Instance();
  EXPECT_EQ(TSMBusConfig::Instance(), first);
  EXPECT_EQ(first->Families().size(), 18u);
  TSMBusConfig::FreeInstance();
  EXPECT_EQ(TSMBusConfig::Instance()->Families().size(), 18u);
  TSMBusConfig::FreeInstance();
}

TEST(SMBusTableTest, CompletePrefixAppendsABlankAndTheDecimalOperand) {
  struct Case {
    i32 Operand;
    const char16_t* Expected;
  };
  const Case cases[] = {
      {2, u"Local1=Add(Local0,3); o(Local1, 2"},
      {0, u"Local1=Add(Local0,3); o(Local1, 0"},
      {75, u"Local1=Add(Local0,3); o(Local1, 75"},
      {256, u"Local1=Add(Local0,3); o(Local1, 256"},  // command 255 stepped once
      {-7, u"Local1=Add(Local0,3); o(Local1, -7"},
      {2147483647, u"Local1=Add(Local0,3); o(Local1, 2147483647"},
  };
  for (const Case& c : cases) EXPECT_EQ(CompletePrefix(u"Local1=Add(Local0,3); o(Local1,", c.Operand), c.Expected);
  EXPECT_EQ(CompletePrefix(u"", 5), u" 5");
}

// A completed prefix is a whole statement to the interpreter: the operand
// reaches the port (observed on the simulated board).
TEST(SMBusTableTest, CompletedPrefixWritesItsOperand) {
  auto board = std::make_shared<sim::TSimBoard>(sim::DesktopIch10Board());
  auto trace = std::make_shared<testing::TTracingTransport>(board);
  {
    TBoardContext context({.Transport = trace});
    TInterpreter interpreter;
    TSMBusConfig table;
    const TSMBusCfg& ich = table.Families().at(kFamilyNames[2]);
    u32 result = 0;
    interpreter.RunScript(u"Local0=0x400", result);
    interpreter.RunScript(CompletePrefix(ich.SetCommand, 2));
    interpreter.RunScript(CompletePrefix(ich.SetAddress, 75));
  }
  EXPECT_EQ(trace->PortWrites(0x403), std::vector<u32>{2});
  EXPECT_EQ(trace->PortWrites(0x404), std::vector<u32>{75});
}

}  // namespace
}  // namespace lirrin
