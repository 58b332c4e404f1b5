#include <gtest/gtest.h>

#include "board_fixture.h"

namespace lirrin {
namespace {

using sim::TRequestKind;
using testing::BoardTest;

constexpr PciAddress At(u8 bus, u8 device, u8 function) { return MakePciAddress(bus, device, function); }

class PciSearchTest : public BoardTest {
 protected:
  void SetUp() override {
    sim::TBoardDescription board;
    board.Functions = {
        {0, 0x00, 0, 0x29C08086, 0x060000, 0, 0x00, 0, {}},
        {0, 0x1F, 0, 0x29168086, 0x060100, 0, 0x80, 0, {}},
        {0, 0x1F, 3, 0x29308086, 0x0C0500, 0, 0x00, 0, {}},
        {0, 0x1F, 5, 0x29308086, 0x0C0501, 0, 0x00, 0, {}},  // second function with that device ID
        // Function 1 of a single-function device is never examined.
        {0, 0x02, 0, 0x12341106, 0x030000, 0, 0x00, 0, {}},
        {0, 0x02, 1, 0x43851002, 0x0C0500, 0, 0x00, 0, {}},
        // A device whose function 0 reads 0 is skipped, with its other functions.
        {0, 0x03, 0, 0x00000000, 0x000000, 0, 0x80, 0, {}},
        {0, 0x03, 1, 0x43851002, 0x0C0500, 0, 0x00, 0, {}},
        {3, 0x00, 0, 0x43851002, 0x0C0500, 0, 0x00, 0, {}},
        {255, 0x1F, 0, 0xABCD10DE, 0x0B4000, 0, 0x80, 0, {}},
        {255, 0x1F, 7, 0x5A5A10DE, 0x0B4000, 0, 0x00, 0, {}},
    };
    Use(board);
  }
};

TEST_F(PciSearchTest, DeviceSearchWithWildcardHalves) {
  struct Case {
    u32 identifier;
    u8 index;
    PciAddress expected;
  };
  const Case cases[] = {
      {0x29308086, 0, At(0, 0x1F, 3)},
      {0x29308086, 1, At(0, 0x1F, 5)},
      {0x29308086, 2, kPciNotFound},
      {0x2930FFFF, 0, At(0, 0x1F, 3)},  // any vendor
      {0xFFFF8086, 2, At(0, 0x1F, 3)},  // any Intel device: 00.0, 1F.0, 1F.3
      {0xFFFF1106, 0, At(0, 0x02, 0)},
      {0x43851002, 0, At(3, 0x00, 0)},  // not 02.1, not 03.1
      {0xABCD10DE, 0, At(255, 0x1F, 0)},
      // Functions above 0 are examined without a presence test, so an
      // all-ones identifier meets the first absent one of a multi-function device.
      {0xFFFFFFFF, 0, At(0, 0x1F, 1)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Io->FindPciDevice(c.identifier, c.index), c.expected) << std::hex << c.identifier;
  }
}

TEST_F(PciSearchTest, ClassSearchWithWildcardBytes) {
  struct Case {
    u32 classCode;
    u8 index;
    PciAddress expected;
  };
  const Case cases[] = {
      {0x0C0500, 0, At(0, 0x1F, 3)},
      {0x0C0500, 1, At(3, 0x00, 0)},
      {0x0C05FF, 1, At(0, 0x1F, 5)},  // any programming interface
      {0x0CFFFF, 0, At(0, 0x1F, 3)},
      {0xFF0500, 0, At(0, 0x1F, 3)},
      {0xFF00FF, 0, At(0, 0x00, 0)},  // subclass 00h of any class
      {0x0CFF00, 1, At(3, 0x00, 0)},  // programming interface 00h of any class-0Ch subclass
      {0xFFFF00, 4, At(3, 0x00, 0)},  // programming interface 00h of any class
      {0xFF0501, 0, At(0, 0x1F, 5)},  // subclass 05h, interface 01h, any class
      {0x0C06FF, 0, kPciNotFound},
      {0xFFFFFF, 0, At(0, 0x1F, 1)},  // only as the class of an absent function
      {0x0B4000, 0, At(255, 0x1F, 0)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Io->FindPciClass(c.classCode, c.index), c.expected) << std::hex << c.classCode;
  }
}

TEST_F(PciSearchTest, MatchAtTheLastFunctionLooksLikeNotFound) {
  // 255:1F.7 packs to FFFFh, the not-found value itself.
  EXPECT_EQ(Io->FindPciDevice(0x5A5A10DE, 0), kPciNotFound);
  EXPECT_EQ(Io->FindPciClass(0x0B4000, 1), kPciNotFound);
}

TEST_F(PciSearchTest, ListsPresentFunctionsInSearchOrder) {
  EXPECT_EQ(Io->PciFunctions(), (std::vector<PciAddress>{At(0, 0, 0), At(0, 2, 0), At(0, 0x1F, 0), At(0, 0x1F, 3),
                                                         At(0, 0x1F, 5), At(3, 0, 0), At(255, 0x1F, 0),
                                                         At(255, 0x1F, 7)}));
}

TEST_F(BoardTest, EmptySearchReadsOneDwordPerDevice) {
  Use(sim::TBoardDescription{});
  EXPECT_EQ(Io->FindPciDevice(0x29308086, 0), kPciNotFound);
  EXPECT_EQ(Requests(TRequestKind::PciConfig), 256u * 32u);
  EXPECT_EQ(Board->TotalRequests(), 256u * 32u);
}

}  // namespace
}  // namespace lirrin
