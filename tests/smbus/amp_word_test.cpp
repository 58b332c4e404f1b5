// The amplifier register word: its layout as the panel and the CLI use it,
// and the word transactions that reach the simulated amplifier's register.
#include "smbus/amp_word.h"

#include <fstream>
#include <sstream>

#include "sim/smbus/bus.h"
#include "smbus_fixture.h"

namespace lirrin {
namespace {

using testing::BoardName;
using testing::SMBusTest;

TEST(AmpWord, VolumeGoesToBothChannelsUnmuted) {
  struct Case {
    u32 Volume;
    u16 Word;
  };
  for (const Case& c : {Case{0, 0x0000}, {1, 0x0101}, {10, 0x0A0A}, {40, 0x2828}, {63, 0x3F3F},
                        // Out of range: cut to 63, never into the mute bits.
                        {64, 0x3F3F}, {255, 0x3F3F}}) {
    EXPECT_EQ(amp::WordForVolume(c.Volume), c.Word) << c.Volume;
  }
}

TEST(AmpWord, ShownStateComesFromTheHighByte) {
  struct Case {
    u16 Word;
    u32 Volume;
    bool Muted;
  };
  for (const Case& c : {Case{0x0000, 0, false}, {0x2828, 40, false}, {0x8A8A, 10, true}, {0x8080, 0, true},
                        {0xBF00, 63, true}, {0x00BF, 0, false},  // the low byte is not shown
                        {0x4545, 5, false}, {0xC5C5, 5, true},   // bit 14 is not part of the volume
                        {0x7F7F, 63, false}}) {
    EXPECT_EQ(amp::Volume(c.Word), c.Volume) << std::hex << c.Word;
    EXPECT_EQ(amp::IsMuted(c.Word), c.Muted) << std::hex << c.Word;
  }
}

TEST(AmpWord, MuteChangesOnlyTheMuteBits) {
  struct Case {
    u16 Word, Muted, Unmuted, Toggled;
  };
  for (const Case& c : {Case{0x0000, 0x8080, 0x0000, 0x8080}, {0x2828, 0xA8A8, 0x2828, 0xA8A8},
                        {0x8A8A, 0x8A8A, 0x0A0A, 0x0A0A}, {0x4545, 0xC5C5, 0x4545, 0xC5C5},
                        {0xC5C5, 0xC5C5, 0x4545, 0x4545},
                        // Only the high byte's flag decides the toggle; both flags follow it.
                        {0x0080, 0x8080, 0x0000, 0x8080}, {0x8000, 0x8080, 0x0000, 0x0000}}) {
    EXPECT_EQ(amp::Muted(c.Word), c.Muted) << std::hex << c.Word;
    EXPECT_EQ(amp::Unmuted(c.Word), c.Unmuted) << std::hex << c.Word;
    EXPECT_EQ(amp::MuteToggled(c.Word), c.Toggled) << std::hex << c.Word;
  }
}

class AmpWordBusTest : public SMBusTest {
 protected:
  void SetUp() override {
    Path = ::testing::TempDir() + "amp_word_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::remove(Path.c_str());
  }
  void TearDown() override {
    SMBusTest::TearDown();
    std::remove(Path.c_str());
  }
  sim::TSlaveState SlaveState() const {
    std::ifstream file(Path);
    std::stringstream text;
    text << file.rdbuf();
    const auto state = sim::ParseSlaveState(text.str());
    EXPECT_TRUE(state);
    return state.value_or(sim::TSlaveState{});
  }
  std::string Path;
};

// The word lands in the amplifier's register, not in the EEPROM beside it,
// and reads back through a fresh engine, on controllers of each register
// interface.
TEST_F(AmpWordBusTest, WordReachesTheAmplifierAndReadsBack) {
  for (int family : {1, 2, 7, 11, 14, 17}) {
    SCOPED_TRACE(BoardName(family));
    std::remove(Path.c_str());
    const u16 word = static_cast<u16>(0xC5C5 ^ family);
    UseBoard(BoardName(family), Path);
    ASSERT_TRUE(amp::WriteWord(*Engine, word));
    EXPECT_EQ(SlaveState().AmplifierWord, word);
    EXPECT_EQ(SlaveState().Eeprom, sim::DefaultSlaveState().Eeprom);

    UseBoard(BoardName(family), Path);
    u16 read = 0;
    ASSERT_TRUE(amp::ReadWord(*Engine, read));
    EXPECT_EQ(read, word);
  }
}

// An amplifier that does not answer fails both directions, leaves the
// caller's word as it was and its register unchanged.
TEST_F(AmpWordBusTest, SilentAmplifierFailsAndLeavesTheWord) {
  UseBoard(BoardName(2), Path);
  ASSERT_TRUE(amp::WriteWord(*Engine, 0x1515));
  UseBoard(BoardName(2, "+noamp"), Path);
  u16 word = 0x1234;
  EXPECT_FALSE(amp::ReadWord(*Engine, word));
  EXPECT_EQ(word, 0x1234);
  EXPECT_FALSE(amp::WriteWord(*Engine, 0x2828));
  EXPECT_EQ(SlaveState().AmplifierWord, 0x1515);
}

}  // namespace
}  // namespace lirrin
