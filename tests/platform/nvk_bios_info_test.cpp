#include <gtest/gtest.h>

#include <algorithm>

#include "platform_fixture.h"
#include "support/board_maker.h"
#include "support/text.h"

namespace lirrin {
namespace {

using sim::TRequestKind;
using testing::FunctionWith;
using testing::PlainBoard;

class BoardInfoTest : public testing::PlatformTest {
 protected:
  void UseFirmware(const sim::TFirmwareSwitches& switches, u16 vendor = kBoardMakerSubsystemVendor) {
    sim::TBoardDescription board = PlainBoard();
    board.Functions = {FunctionWith(0, 0, 0, vendor)};
    sim::AddFirmware(board, switches);
    Use(board);
  }
};

TEST_F(BoardInfoTest, ValidBlockBehindCorruptedCopy) {
  UseFirmware({});
  const TNvkBiosInfo& info = *TNvkBiosInfo::Instance();
  EXPECT_TRUE(info.MakerDevicePresent());
  ASSERT_TRUE(info.BlockValid());
  const std::vector<u8> expected = sim::BoardInfoBlock({});
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), info.Block().begin()));
  EXPECT_EQ(info.RawModelName(), u"NV-P45 Deluxe");
  EXPECT_EQ(info.ModelName(), u"NV-P45 Deluxe");
  EXPECT_EQ(info.Version(), u"V2.07");
  EXPECT_EQ(info.Date(), u"2012/07/09");
}

TEST_F(BoardInfoTest, FieldsOfTheBlock) {
  struct Case {
    sim::TBoardInfo fields;
    const char16_t* raw;
    const char16_t* model;
    const char16_t* version;
    const char16_t* date;
  };
  const std::string full32 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ-01234";  // fills the field: no zero byte
  const Case cases[] = {
      {{"Board A.1...", 'V', 2, 7, '0', 2012, 7, 9}, u"Board A.1...", u"Board A.1", u"V2.07", u"2012/07/09"},
      {{"N.V.X.", 'V', 2, 7, '0', 2012, 7, 9}, u"N.V.X.", u"N.V.X", u"V2.07", u"2012/07/09"},
      {{"....", 'V', 2, 7, '0', 2012, 7, 9}, u"....", u"", u"V2.07", u"2012/07/09"},
      {{"NV-X58", 'V', 2, 7, 'B', 2012, 7, 9}, u"NV-X58", u"NV-X58", u"V2.07B", u"2012/07/09"},
      {{"NV-X58", 'F', 12, 5, '0', 2009, 12, 31}, u"NV-X58", u"NV-X58", u"F12.05", u"2009/12/31"},
      {{"NV-X58", 'R', 0, 100, 'a', 2013, 1, 2}, u"NV-X58", u"NV-X58", u"R0.100a", u"2013/01/02"},
      {{full32, 'V', 2, 7, '0', 2012, 7, 9}, u"ABCDEFGHIJKLMNOPQRSTUVWXYZ-01234", u"ABCDEFGHIJKLMNOPQRSTUVWXYZ-01234",
       u"V2.07", u"2012/07/09"},
      {{"", 'V', 2, 7, '0', 2012, 7, 9}, u"", u"", u"V2.07", u"2012/07/09"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields.Model);
    sim::TFirmwareSwitches switches;
    switches.Info = c.fields;
    UseFirmware(switches);
    const TNvkBiosInfo& info = *TNvkBiosInfo::Instance();
    ASSERT_TRUE(info.BlockValid());
    EXPECT_EQ(info.RawModelName(), c.raw);
    EXPECT_EQ(info.ModelName(), c.model);
    EXPECT_EQ(info.Version(), c.version);
    EXPECT_EQ(info.Date(), c.date);
  }
}

// The block's layout pinned by bytes written out here rather than by the
// simulated firmware's builder: a field swapped in both the builder and the
// reader (month and day, say) still fails this test. The marker sits at odd
// addresses, behind a copy whose checksum is off: the search steps one byte.
TEST_F(BoardInfoTest, LayoutFromLiteralBytesAtAnOddAddress) {
  const std::vector<u8> block = {
      0x24, 0x43, 0x4E, 0x31, 0x33, 0x36, 0x38, 0x24,  // "$CN1368$"
      0x00, 0x00,                                      // not interpreted
      0x4E, 0x56, 0x2D, 0x4C, 0x49, 0x54, 0x20, 0x42, 0x6F, 0x61, 0x72, 0x64, 0x2E, 0x2E, 0x2E, 0x00,  // "NV-LIT Board..."
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // model, rest
      0x56, 0x03, 0x0E, 0x30,  // 'V', major 3, minor 14, no suffix ('0')
      0xE3, 0x07,              // year 2019
      0x04,                    // offset 48: month 4
      0x17,                    // offset 49: day 23
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x6D,  // makes the 64 bytes sum to 0
  };
  ASSERT_EQ(block.size(), TNvkBiosInfo::kBlockSize);
  sim::TBoardDescription board = PlainBoard();
  board.Functions = {FunctionWith(0, 0, 0, kBoardMakerSubsystemVendor)};
  Use(board);
  std::vector<u8> decoy = block;
  decoy[20] ^= 0x01;
  Place(0xE0101, decoy);
  Place(0xF1235, block);
  const TNvkBiosInfo& info = *TNvkBiosInfo::Instance();
  ASSERT_TRUE(info.BlockValid());
  EXPECT_EQ(info.RawModelName(), u"NV-LIT Board...");
  EXPECT_EQ(info.ModelName(), u"NV-LIT Board");
  EXPECT_EQ(info.Version(), u"V3.14");
  EXPECT_EQ(info.Date(), u"2019/04/23");
}

TEST_F(BoardInfoTest, FirstValidOccurrenceWins) {
  UseFirmware({});
  sim::TBoardInfo earlier;
  earlier.Model = "Earlier";
  Place(0xF8000, sim::BoardInfoBlock(earlier));  // between the corrupted copy and the usual place
  EXPECT_EQ(TNvkBiosInfo::Instance()->ModelName(), u"Earlier");
}

TEST_F(BoardInfoTest, NoValidOccurrenceLeavesEveryTextEmpty) {
  UseFirmware({});
  std::vector<u8> broken = sim::BoardInfoBlock({});
  broken[20] ^= 0x01;
  Place(sim::kBoardInfoAddress, broken);
  const TNvkBiosInfo& info = *TNvkBiosInfo::Instance();
  EXPECT_TRUE(info.MakerDevicePresent());
  EXPECT_FALSE(info.BlockValid());
  // The last candidate read stays in the block.
  EXPECT_TRUE(std::equal(broken.begin(), broken.end(), info.Block().begin()));
  EXPECT_EQ(info.RawModelName(), u"");
  EXPECT_EQ(info.ModelName(), u"");
  EXPECT_EQ(info.Version(), u"");
  EXPECT_EQ(info.Date(), u"");
}

TEST_F(BoardInfoTest, NoMarkerNoBlock) {
  sim::TFirmwareSwitches switches;
  switches.NoMarker = true;
  UseFirmware(switches);
  EXPECT_FALSE(TNvkBiosInfo::Instance()->BlockValid());
  EXPECT_EQ(TNvkBiosInfo::Instance()->ModelName(), u"");
}

// Only the maker's first subsystem vendor ID lets the reader search memory.
TEST_F(BoardInfoTest, OnlyTheFirstMakerIdEnablesTheSearch) {
  const struct {
    u16 vendor;
    bool searched;
  } cases[] = {
      {kBoardMakerSubsystemVendor, true},
      {kBoardMakerSecondSubsystemVendor, false},
      {kAtiSubsystemVendor, false},
      {0x8086, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.vendor);
    UseFirmware({}, c.vendor);
    const TNvkBiosInfo& info = *TNvkBiosInfo::Instance();
    EXPECT_EQ(info.MakerDevicePresent(), c.searched);
    EXPECT_EQ(info.BlockValid(), c.searched);
    EXPECT_EQ(info.ModelName().empty(), !c.searched);
    EXPECT_EQ(Board->Requests(TRequestKind::Memory) != 0, c.searched);
  }
}

}  // namespace
}  // namespace lirrin
