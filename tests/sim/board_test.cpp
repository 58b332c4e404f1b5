// The simulated board itself: it must behave as the hardware does, not as
// the layer above expects.
#include "sim/board.h"

#include <gtest/gtest.h>

#include "board_fixture.h"

namespace lirrin {
namespace {

using sim::TRequestKind;
using testing::BoardTest;

sim::TBoardDescription BoardWithFirmware() {
  sim::TBoardDescription board;
  board.Processors = 2;
  board.Functions = {{0, 0x1F, 3, 0x3A308086, 0x0C0500, 0x00, 0x00, 0, {{0x20, 0x0401}}}};
  board.Memory = {{sim::TMemoryDescription::Kind::Ram, 0, 0xA0000, {}},
                  {sim::TMemoryDescription::Kind::Rom, 0xF0000, 0x10000, {{0x10, {'_', 'S', 'M', '_'}}}}};
  board.EcamBase = 0xE0000000;
  board.EcamBuses = 2;
  return board;
}

class SimBoardTest : public BoardTest {
 protected:
  void SetUp() override { Use(BoardWithFirmware()); }
};

TEST_F(SimBoardTest, ConfigAddressRegisterTakesOnlyDwordAccesses) {
  Io->OutDword(0xCF8, 0x8000FB00);  // 00:1F.3, register 0
  EXPECT_EQ(Io->InDword(0xCF8), 0x8000FB00u);
  EXPECT_EQ(Io->InDword(0xCFC), 0x3A308086u);
  EXPECT_EQ(Io->InWord(0xCFE), 0x3A30);
  Io->OutByte(0xCF8, 0x00);  // a byte write goes elsewhere (0CF8h..0CFBh)
  EXPECT_EQ(Io->InDword(0xCF8), 0x8000FB00u);
  Io->OutDword(0xCF8, 0x0000FB00);  // enable bit clear: no function selected
  EXPECT_EQ(Io->InDword(0xCFC), 0xFFFFFFFFu);
}

TEST_F(SimBoardTest, ReadOnlyRegistersKeepTheirValues) {
  Io->WritePciDword(0, 0x1F, 3, 0x00, 0);
  Io->WritePciDword(0, 0x1F, 3, 0x08, 0);
  Io->WritePciWord(0, 0x1F, 3, 0x04, 0x0001);
  EXPECT_EQ(Io->ReadPciDword(0, 0x1F, 3, 0x00), 0x3A308086u);
  EXPECT_EQ(Io->ReadPciDword(0, 0x1F, 3, 0x08) >> 8, 0x0C0500u);
  EXPECT_EQ(Io->ReadPciWord(0, 0x1F, 3, 0x04), 0x0001);
}

TEST_F(SimBoardTest, EcamWindowReachesTheSameRegistersAsThePorts) {
  const u64 function = 0xE0000000 + (0x1Fu << 15) + (3u << 12);
  EXPECT_EQ(Io->ReadMemDword(function), 0x3A308086u);
  EXPECT_TRUE(Io->WriteMemDword(0x12345678, function + 0x44));
  EXPECT_EQ(Io->ReadPciDword(0, 0x1F, 3, 0x44), 0x12345678u);
  EXPECT_EQ(Io->ReadMemDword(0xE0000000 + (1u << 20)), 0xFFFFFFFFu);  // nothing on bus 1
  EXPECT_EQ(Io->ReadMemDword(0xE0000000 + (2u << 20)), 0xFFFFFFFFu);  // past the window: a hole
  EXPECT_FALSE(Io->WriteMemDword(0, 0xE0000000 + (2u << 20)));
}

TEST_F(SimBoardTest, RomIgnoresWritesAndHolesFail) {
  EXPECT_EQ(Io->ReadMemDword(0xF0010), 0x5F4D535Fu);
  EXPECT_TRUE(Io->WriteMemDword(0, 0xF0010));
  EXPECT_EQ(Io->ReadMemDword(0xF0010), 0x5F4D535Fu);
  EXPECT_EQ(Io->ReadMemByte(0xF0000), 0xFF);  // erased flash
  EXPECT_EQ(Io->ReadMemDword(0xA0000), 0xFFFFFFFFu);
  EXPECT_EQ(Io->ReadMemDword(0x50000), 0u);  // RAM reads zero until written
}

TEST_F(SimBoardTest, ControlRegisterIndexRules) {
  struct Case {
    u32 index;
    bool readable, writable;
  };
  const Case cases[] = {{0, true, true}, {1, false, false}, {2, true, false}, {3, true, true},
                        {4, true, true}, {5, false, false}, {8, true, true},  {9, false, false}};
  for (const Case& c : cases) {
    u64 value = 0;
    EXPECT_EQ(Board->ReadCr(c.index, value), c.readable) << "CR" << c.index;
    EXPECT_EQ(Board->WriteCr(c.index, value), c.writable) << "CR" << c.index;
  }
  EXPECT_EQ(Requests(TRequestKind::ControlRegister), 16u);
}

TEST_F(SimBoardTest, CountsEachRequestByKind) {
  Io->InByte(0x80);
  Io->ReadPciDword(0, 0, 0, 0);
  Io->ReadMemByte(0);
  Io->ReadTsc();
  CpuRegisters regs;
  Io->ReadMsr(regs);
  Io->Cpuid(regs);  // runs in the program, never a request
  EXPECT_EQ(Requests(TRequestKind::Port), 1u);
  EXPECT_EQ(Requests(TRequestKind::PciConfig), 1u);
  EXPECT_EQ(Requests(TRequestKind::Memory), 1u);
  EXPECT_EQ(Requests(TRequestKind::Tsc), 1u);
  EXPECT_EQ(Requests(TRequestKind::Msr), 1u);
  EXPECT_EQ(Board->TotalRequests(), 5u);
}

// MSR 10h is the time-stamp counter that RDTSC reads: each read is later
// than the one before, whichever way it is read, and a write sets the count.
TEST_F(SimBoardTest, Msr10hIsTheTimeStampCounter) {
  u64 msr = 0, tsc = 0, later = 0;
  ASSERT_TRUE(Board->ReadMsr(0x10, msr));
  ASSERT_TRUE(Board->ReadTsc(tsc));
  ASSERT_TRUE(Board->ReadMsr(0x10, later));
  EXPECT_GT(tsc, msr);
  EXPECT_GT(later, tsc);
  Board->Clock().Sleep(1);
  ASSERT_TRUE(Board->ReadTsc(tsc));
  EXPECT_GE(tsc - later, 1'000'000u);  // the counter runs with the clock
  ASSERT_TRUE(Board->WriteMsr(0x10, 0x0123456789ABCDEFull));
  ASSERT_TRUE(Board->ReadMsr(0x10, msr));
  ASSERT_TRUE(Board->ReadTsc(tsc));
  EXPECT_GT(msr, 0x0123456789ABCDEFull);
  EXPECT_LT(msr, 0x0123456789ABCDEFull + 16);
  EXPECT_GT(tsc, msr);
  EXPECT_LT(tsc, msr + 16);
}

TEST_F(SimBoardTest, VirtualClockAdvancesOnlyWhenSlept) {
  const u64 start = Board->Clock().Milliseconds();
  Board->Clock().Sleep(40);
  EXPECT_EQ(Board->Clock().Milliseconds(), start + 40);
}

// Switched to real time, a delay is waited out on the system's clock, and
// the board's time goes on from where the virtual time stood.
TEST_F(SimBoardTest, RealTimeClockSleepsForReal) {
  Board->Clock().Sleep(1000);
  Board->Clock().RunInRealTime();
  EXPECT_GE(Board->Clock().Milliseconds(), 1000u);
  TSystemClock system;
  const u64 before = system.Milliseconds(), boardBefore = Board->Clock().Milliseconds();
  Board->Clock().Sleep(40);
  EXPECT_GE(system.Milliseconds() - before, 40u);
  EXPECT_GE(Board->Clock().Milliseconds() - boardBefore, 40u);
}

}  // namespace
}  // namespace lirrin
