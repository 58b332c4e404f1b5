// The chipset side of the simulated SMBus boards: functions that firmware or
// a driver hides or enables, board names and switches, and the state file
// shared between boards and processes.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "hw/read_write.h"
#include "sim/boards.h"
#include "sim/smbus/bus.h"
#include "sim/smbus/chipset.h"

namespace lirrin {
namespace {

std::shared_ptr<sim::TSimBoard> Make(const std::string& name, const std::string& stateFile = {}) {
  std::string error;
  auto board = sim::MakeBoard(name, stateFile, error);
  EXPECT_TRUE(board) << name << ": " << error;
  return board;
}

// An ICH10-style word write and read through the SMBus function at 0:1F.3.
struct TIchDriver {
  TReadWrite& Io;
  // i801_probe: the firmware left the host interface off; HST_EN on, I2C_EN off.
  void Probe() { Io.WritePciByte(0, 0x1F, 3, 0x40, static_cast<u8>((Io.ReadPciByte(0, 0x1F, 3, 0x40) & ~0x04) | 0x01)); }
  u16 Base() { return Io.ReadPciWord(0, 0x1F, 3, 0x20) & 0xFFE0; }
  u8 Transact(u8 addressByte, u8 command, u16 word = 0) {
    const u16 base = Base();
    Io.OutByte(base, 0xFF);
    Io.OutByte(base + 4, addressByte);
    Io.OutByte(base + 3, command);
    Io.OutByte(base + 5, static_cast<u8>(word));
    Io.OutByte(base + 6, static_cast<u8>(word >> 8));
    Io.OutByte(base + 2, 0x4C);
    u8 status = 0x01;
    for (int i = 0; i < 10 && (status & 0x01) != 0; ++i) status = Io.InByte(base);
    return status;
  }
  u16 Data() { return static_cast<u16>(Io.InByte(Base() + 5) | Io.InByte(Base() + 6) << 8); }
};

// Hiding the SMBus function: firmware and quirks.c clear these bits to show it.
TEST(SMBusChipsetTest, HideBitsRemoveTheSMBusFunctionAndItsPorts) {
  struct Case {
    const char* Board;
    u8 Device, Function;
    u16 Port;  // a register of the controller while shown
    std::function<void(TReadWrite&, bool hide)> SetHidden;
  };
  const Case cases[] = {
      {"sim:2", 0x1F, 3, 0x0400,
       [](TReadWrite& io, bool hide) {
         const u64 fd = (io.ReadPciDword(0, 0x1F, 0, 0xF0) & ~0x3FFFu) + 0x3418;
         io.WriteMemDword(hide ? io.ReadMemDword(fd) | 8 : io.ReadMemDword(fd) & ~8u, fd);
       }},
      {"sim:3", 0x1F, 3, 0x0580,
       [](TReadWrite& io, bool hide) {
         const u16 f2 = io.ReadPciWord(0, 0x1F, 0, 0xF2);
         io.WritePciWord(0, 0x1F, 0, 0xF2, hide ? f2 | 8 : f2 & ~8);
       }},
  };
  for (const Case& c : cases) {
    TReadWrite io(Make(c.Board));
    const u32 id = io.ReadPciDword(0, c.Device, c.Function, 0);
    EXPECT_EQ(io.InByte(c.Port + 2), 0x00) << c.Board;  // control register, idle
    c.SetHidden(io, true);
    EXPECT_EQ(io.ReadPciDword(0, c.Device, c.Function, 0), 0xFFFFFFFFu) << c.Board;
    EXPECT_EQ(io.InByte(c.Port + 2), 0xFF) << c.Board;  // nothing decodes the ports
    c.SetHidden(io, false);
    EXPECT_EQ(io.ReadPciDword(0, c.Device, c.Function, 0), id) << c.Board;
    EXPECT_EQ(io.InByte(c.Port + 2), 0x00) << c.Board;
  }
  // The SiS 962 board: firmware leaves 1039:0016 hidden by LPC config 77h bit 4.
  TReadWrite sis(Make("sim:7"));
  EXPECT_EQ(sis.ReadPciDword(0, 2, 1, 0), 0xFFFFFFFFu);
  sis.WritePciByte(0, 2, 0, 0x77, sis.ReadPciByte(0, 2, 0, 0x77) & ~0x10);
  EXPECT_EQ(sis.ReadPciDword(0, 2, 1, 0), 0x00161039u);
}

TEST(SMBusChipsetTest, BaseRegistersRelocateTheControllerAndEnablesGateIt) {
  TReadWrite io(Make("sim"));
  TIchDriver ich{io};
  ich.Probe();
  // I/O BAR: bit 0 reads 1, the bits below the 32-byte window read 0.
  io.WritePciDword(0, 0x1F, 3, 0x20, 0x0000C01F);
  EXPECT_EQ(io.ReadPciDword(0, 0x1F, 3, 0x20), 0x0000C001u);
  EXPECT_EQ(io.InByte(0x0402), 0xFF);  // the old window is gone
  EXPECT_EQ(ich.Transact(0x4A, 2, 0x1111) & 0x1E, 0x02);
  // HOSTC.HST_EN clear: the host ignores START.
  io.WritePciByte(0, 0x1F, 3, 0x40, 0x00);
  EXPECT_EQ(ich.Transact(0x4B, 2) & 0x1F, 0x00);
  io.WritePciByte(0, 0x1F, 3, 0x40, 0x01);
  EXPECT_EQ(ich.Transact(0x4B, 2) & 0x1F, 0x02);
  EXPECT_EQ(ich.Data(), 0x1111);
  // I/O space decoding off in the command register: the ports float.
  io.WritePciWord(0, 0x1F, 3, 0x04, 0x0000);
  EXPECT_EQ(io.InByte(0xC002), 0xFF);
}

TEST(SMBusChipsetTest, IchTcoRegistersSitAtAcpiBasePlus60h) {
  for (const char* name : {"sim:2", "sim:3"}) {
    TReadWrite io(Make(name));
    const u16 tco = static_cast<u16>((io.ReadPciWord(0, 0x1F, 0, 0x40) & 0xFF80) + 0x60);
    EXPECT_EQ(io.InByte(tco + 0x0A), 0x08) << name;  // TCO2_CNT reset value
    io.OutByte(tco + 0x09, 0x08);
    EXPECT_EQ(io.InByte(tco + 0x09), 0x08) << name;
  }
}

// Which function a search for the SMBus class finds on the nVidia boards:
// the generic nVidia text claims any function of class 0C0500h with vendor
// 10DEh, and it is tried before the nForce3/CK804 text.
TEST(SMBusChipsetTest, NvidiaSMBusFunctionClasses) {
  struct Case {
    const char* Board;
    PciAddress Expected;
  };
  const Case cases[] = {{"sim:16", MakePciAddress(0, 1, 1)},
                        {"sim:17", MakePciAddress(0, 1, 1)},
                        {"sim:18", kPciNotFound}};
  for (const Case& c : cases) {
    TReadWrite io(Make(c.Board));
    EXPECT_EQ(io.FindPciClass(0x0C0500, 0), c.Expected) << c.Board;
  }
  // The CK804 as shipped reports the SMBus class and is found by that search.
  sim::TSMBusFamily shipped = sim::SMBusFamilies()[18];
  shipped.Bridge.ClassCode = 0x0C0500;
  sim::TBoardDescription description;
  sim::AttachSMBus(description, shipped, {});
  TReadWrite io(std::make_shared<sim::TSimBoard>(description));
  const PciAddress found = io.FindPciClass(0x0C0500, 0);
  EXPECT_EQ(found, MakePciAddress(0, 1, 1));
  EXPECT_EQ(io.ReadPciWord(found, 0), 0x10DE);
}

TEST(SMBusChipsetTest, BoardNames) {
  struct Case {
    const char* Name;
    const char* Error;  // nullptr: accepted
  };
  const Case cases[] = {
      {"sim", nullptr},
      {"sim:0", nullptr},
      {"sim:18", nullptr},
      {"sim:5+noamp+stuck", nullptr},
      {"sim:19", "unknown board 'sim:19'"},
      {"sim:", "unknown board 'sim:'"},
      {"sim:2x", "unknown board 'sim:2x'"},
      {"sim:-1", "unknown board 'sim:-1'"},
      {"sim:2+nomarker+novendor+noacpi", nullptr},
      {"sim:2+loud", "unknown board flag 'loud' in 'sim:2+loud'"},
      {"sim:2+", "unknown board flag '' in 'sim:2+'"},
  };
  for (const Case& c : cases) {
    std::string error;
    const auto board = sim::MakeBoard(c.Name, "", error);
    if (c.Error == nullptr) {
      EXPECT_TRUE(board) << c.Name << ": " << error;
    } else {
      EXPECT_FALSE(board) << c.Name;
      EXPECT_NE(error.find(c.Error), std::string::npos) << c.Name << ": " << error;
    }
  }
  // "sim" is the desktop board with family 2's controller.
  TReadWrite io(Make("sim"));
  EXPECT_EQ(io.ReadPciDword(0, 0x1F, 3, 0), 0x3A308086u);
  EXPECT_EQ(io.PciFunctions().size(), sim::DesktopIch10Board().Functions.size());
}

class SMBusStateFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Path = ::testing::TempDir() + "smbus_state_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::remove(Path.c_str());
  }
  void TearDown() override { std::remove(Path.c_str()); }
  std::string Path;
};

TEST_F(SMBusStateFileTest, TwoBoardsOnOneFileShareTheSlaves) {
  TReadWrite first(Make("sim:2", Path));
  TReadWrite second(Make("sim:17", Path));
  TIchDriver ich{first};
  ich.Probe();
  EXPECT_EQ(ich.Transact(0x4A, 2, 0x2828) & 0x1E, 0x02);
  // nForce word read through the other board (i2c-nforce2.c).
  const u16 base = second.ReadPciWord(0, 1, 1, 0x20) & 0xFFFC;
  second.OutByte(base + 3, 2);
  second.OutByte(base + 2, 0x4A);
  second.OutByte(base, 0x09);
  u8 status = 0;
  for (int i = 0; i < 10 && status == 0; ++i) status = second.InByte(base + 1);
  EXPECT_EQ(status, 0x80);
  EXPECT_EQ(second.InByte(base + 4) | second.InByte(base + 5) << 8, 0x2828);

  std::ifstream file(Path);
  std::stringstream text;
  text << file.rdbuf();
  const auto state = sim::ParseSlaveState(text.str());
  ASSERT_TRUE(state);
  EXPECT_EQ(state->AmplifierWord, 0x2828);
  EXPECT_EQ(state->Eeprom, sim::DefaultSlaveState().Eeprom);
}

TEST_F(SMBusStateFileTest, UnreadableContentsStartFromTheDefaults) {
  std::ofstream(Path) << "not a state file\n";
  TReadWrite io(Make("sim", Path));
  TIchDriver ich{io};
  ich.Probe();
  EXPECT_EQ(ich.Transact(0xA1, 2) & 0x1E, 0x02);  // EEPROM byte 2 via a word read
  EXPECT_EQ(ich.Data() & 0xFF, sim::DefaultSlaveState().Eeprom[2]);
}

// Each transaction loads, changes and saves the file under its lock: writers
// on separate boards (as separate processes would be) lose no write.
TEST_F(SMBusStateFileTest, ConcurrentWritersLoseNoWrite) {
  constexpr int kWords = 40;
  auto writer = [this](u8 firstCommand, u16 tag) {
    TReadWrite io(Make("sim", Path));
    TIchDriver ich{io};
  ich.Probe();
    for (int i = 0; i < kWords; ++i) ich.Transact(0xA0, static_cast<u8>(firstCommand + 2 * i), static_cast<u16>(tag + i));
  };
  std::thread a(writer, 0x00, 0x1000);
  std::thread b(writer, 0x80, 0x2000);
  a.join();
  b.join();
  std::ifstream file(Path);
  std::stringstream text;
  text << file.rdbuf();
  const auto state = sim::ParseSlaveState(text.str());
  ASSERT_TRUE(state);
  for (int i = 0; i < kWords; ++i) {
    EXPECT_EQ(state->Eeprom[2 * i] | state->Eeprom[2 * i + 1] << 8, 0x1000 + i) << i;
    EXPECT_EQ(state->Eeprom[0x80 + 2 * i] | state->Eeprom[0x81 + 2 * i] << 8, 0x2000 + i) << i;
  }
}

TEST(SMBusSlaveStateTest, FormatAndParseRoundTrip) {
  sim::TSlaveState state = sim::DefaultSlaveState();
  state.AmplifierWord = 0x8080;
  state.Eeprom[0xFF] = 0x5A;
  EXPECT_EQ(sim::ParseSlaveState(sim::FormatSlaveState(state)), state);
  EXPECT_FALSE(sim::ParseSlaveState("amplifier=0x10000\neeprom=00\n"));
  EXPECT_FALSE(sim::ParseSlaveState(""));
}

}  // namespace
}  // namespace lirrin
