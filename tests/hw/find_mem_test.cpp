#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string_view>
#include <vector>

#include "board_fixture.h"
#include "hw/firmware.h"

namespace lirrin {
namespace {

using sim::TRequestKind;
using testing::BoardTest;

constexpr u64 kBase = 0x100000;
constexpr u32 kSize = 0x10000;

class FindMemTest : public BoardTest {
 protected:
  void SetUp() override {
    sim::TBoardDescription board;
    board.Memory = {{sim::TMemoryDescription::Kind::Ram, kBase, kSize, {}},
                    // A second RAM range after a one-page hole.
                    {sim::TMemoryDescription::Kind::Ram, kBase + kSize + 0x1000, 0x2000, {}}};
    Use(board);
  }

  void Place(u64 address, std::string_view bytes) {
    ASSERT_TRUE(Board->Poke(address, bytes.data(), static_cast<u32>(bytes.size())));
  }

  u64 Find(u32 length, u32 step, u64 address, u32 index, std::string_view pattern) {
    return Io->FindMem(length, step, address, index, pattern.data(), static_cast<u32>(pattern.size()));
  }
};

TEST_F(FindMemTest, CandidatesFollowTheStep) {
  Place(kBase + 0x25, "_SIG");
  Place(kBase + 0x40, "_SIG");
  Place(kBase + 0x90, "_SIG");
  struct Case {
    u32 step, index;
    u64 expected;
  };
  const Case cases[] = {
      {0, 0, kBase + 0x25},  // step 0 is step 1
      {1, 1, kBase + 0x40},
      {1, 2, kBase + 0x90},
      {1, 3, kMemNotFound},
      {16, 0, kBase + 0x40},  // 25h is not a candidate
      {16, 1, kBase + 0x90},
      {0x30, 0, kBase + 0x90},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Find(0x1000, c.step, kBase, c.index, "_SIG"), c.expected) << "step " << c.step << " index " << c.index;
  }
}

TEST_F(FindMemTest, PatternAcrossAChunkBoundaryIsFound) {
  Place(kBase + 4096 - 3, "RSD PTR ");
  EXPECT_EQ(Find(0x4000, 1, kBase, 0, "RSD PTR "), kBase + 4093);
  Place(kBase + 2 * 4096 - 8, "12345678");  // ends exactly at the second boundary
  EXPECT_EQ(Find(0x4000, 8, kBase, 0, "12345678"), kBase + 2 * 4096 - 8);
}

TEST_F(FindMemTest, PatternMustLieWhollyInsideTheRange) {
  Place(kBase + 0x0FC, "ABCD");
  EXPECT_EQ(Find(0x100, 1, kBase, 0, "ABCD"), kBase + 0x0FC);
  EXPECT_EQ(Find(0x0FF, 1, kBase, 0, "ABCD"), kMemNotFound);
  EXPECT_EQ(Find(3, 1, kBase + 0x0FC, 0, "ABCD"), kMemNotFound);
}

TEST_F(FindMemTest, UnreadableChunksHoldNoMatch) {
  // The range runs from the first RAM range through the hole into the second;
  // stale buffer contents from the chunk before the hole must not match there.
  const u64 start = kBase + kSize - 0x1000;
  Place(start + 0x100, "MARK");
  Place(kBase + kSize + 0x1000 + 0x10, "MARK");
  EXPECT_EQ(Find(0x3000, 0x10, start, 0, "MARK"), start + 0x100);
  EXPECT_EQ(Find(0x3000, 0x10, start, 1, "MARK"), kBase + kSize + 0x1010);
  EXPECT_EQ(Find(0x3000, 0x10, start, 2, "MARK"), kMemNotFound);
}

TEST_F(FindMemTest, BadPatternsSendNothing) {
  std::vector<u8> huge(4097, 0);
  EXPECT_EQ(Io->FindMem(kSize, 1, kBase, 0, huge.data(), 4097), kMemNotFound);
  EXPECT_EQ(Io->FindMem(kSize, 1, kBase, 0, huge.data(), 0), kMemNotFound);
  EXPECT_EQ(Board->TotalRequests(), 0u);
}

TEST_F(FindMemTest, MovesMemoryIn4KiBRequests) {
  Place(kBase + kSize - 16, "LAST");
  EXPECT_EQ(Find(kSize, 16, kBase, 0, "LAST"), kBase + kSize - 16);
  // 64 KiB in 4 KiB chunks; with step 16 every chunk ends on a candidate
  // boundary, so no chunk is read twice.
  EXPECT_EQ(Requests(TRequestKind::Memory), kSize / 4096);
}

// Every answer agrees with a plain scan of the same bytes.
TEST_F(FindMemTest, AgreesWithAPlainScan) {
  std::mt19937 random(7);
  std::vector<u8> bytes(kSize);
  for (u8& b : bytes) b = static_cast<u8>(random() % 3);  // few symbols: many matches
  ASSERT_TRUE(Board->Poke(kBase, bytes.data(), kSize));
  for (int round = 0; round < 40; ++round) {
    const u32 patternLength = 1 + random() % 6;
    const u32 step = random() % 9;
    const u32 offset = random() % 64;
    const u32 length = random() % (kSize - offset);
    const u32 index = random() % 4;
    std::vector<u8> pattern(bytes.begin() + 500, bytes.begin() + 500 + patternLength);

    u64 expected = kMemNotFound;
    u32 skip = index;
    const u32 stride = step == 0 ? 1 : step;
    for (u64 at = offset; at + patternLength <= u64{offset} + length; at += stride) {
      if (std::equal(pattern.begin(), pattern.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at))) {
        if (skip == 0) {
          expected = kBase + at;
          break;
        }
        --skip;
      }
    }
    EXPECT_EQ(Io->FindMem(length, step, kBase + offset, index, pattern.data(), patternLength), expected)
        << "round " << round;
  }
}

// A structure "_CK_" of 8 bytes whose first 6 sum to 0: its marks occur as
// a bad copy, off the alignment, and as the good copy.
TEST_F(FindMemTest, ChecksummedStructureIsTheFirstOccurrenceThatSumsToZero) {
  const TChecksummedStructure structure{"_CK_", 16, 6};
  const std::string_view good{"_CK_\x00\xB4\xEE\xEE", 8};  // 5F+43+4B+5F+00+B4 = 200h
  const std::string_view bad{"_CK_\x00\xB5\x00\x00", 8};
  Place(kBase + 0x20, bad);
  Place(kBase + 0x38, good);  // not on a 16-byte boundary
  Place(kBase + 0x60, good);
  std::array<u8, 8> bytes{};

  EXPECT_EQ(FindChecksummedStructure(*Io, structure, kBase, kSize, bytes), kBase + 0x60);
  EXPECT_EQ(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), good);
  EXPECT_EQ(FindChecksummedStructure(*Io, structure, kBase, kSize, bytes, TOccurrences::FirstOnly), kMemNotFound);
  EXPECT_EQ(FindChecksummedStructure(*Io, structure, kBase + 0x30, kSize, bytes, TOccurrences::FirstOnly),
            kBase + 0x60);
  EXPECT_EQ(FindChecksummedStructure(*Io, structure, kBase + 0x70, 0x100, bytes), kMemNotFound);
}

// A copy whose bytes run past readable memory is passed over.
TEST_F(FindMemTest, ChecksummedStructureThatCannotBeReadIsPassedOver) {
  const TChecksummedStructure structure{"_CK_", 1, 6};
  Place(kBase + kSize - 6, std::string_view{"_CK_\x00\xB4", 6});  // RAM ends after these 6 bytes
  const u64 from = kBase + kSize - 0x100;
  std::array<u8, 6> six{};
  std::array<u8, 8> eight{};
  EXPECT_EQ(FindChecksummedStructure(*Io, structure, from, 0x100, six), kBase + kSize - 6);
  EXPECT_EQ(FindChecksummedStructure(*Io, structure, from, 0x100, eight), kMemNotFound);
}

}  // namespace
}  // namespace lirrin
