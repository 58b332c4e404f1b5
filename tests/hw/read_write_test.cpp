#include "hw/read_write.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "board_fixture.h"
#include "sim/boards.h"

namespace lirrin {
namespace {

using sim::TRequestKind;
using testing::BoardTest;

// A Super I/O style register file behind an index/data pair at 2Eh/2Fh that
// records which register each data access reached.
class IndexDataChip final : public sim::TPortHandler {
 public:
  u32 ReadPort(u16 port, TAccessWidth) override {
    if (port == 0x2E) return Index;
    Accessed.push_back(Index);
    return Registers[Index];
  }
  void WritePort(u16 port, TAccessWidth, u32 value) override {
    if (port == 0x2E) {
      Index = static_cast<u8>(value);
    } else {
      Accessed.push_back(Index);
      Registers[Index] = static_cast<u8>(value);
    }
  }
  u8 Index = 0;
  u8 Registers[256] = {};
  std::vector<u8> Accessed;
};

sim::TBoardDescription SmallBoard() {
  sim::TBoardDescription board;
  board.Processors = 4;
  board.Functions = {
      {0, 0x1F, 3, 0x3A308086, 0x0C0500, 0x00, 0x00, 0x5005F17A, {{0x100, 0x44332211}, {0x1FC, 0xDDCCBBAA}}},
  };
  board.Memory = {{sim::TMemoryDescription::Kind::Ram, 0x0, 0x10000, {{0x1000, {0x11, 0x22, 0x33, 0x44}}}}};
  board.Msrs = {{0x1B, 0xFEE00900}};
  return board;
}

class ReadWriteTest : public BoardTest {
 protected:
  void SetUp() override { Use(SmallBoard()); }
};

TEST_F(ReadWriteTest, IndexDataOffsetsWrapAndKeepTheirOrder) {
  IndexDataChip chip;
  for (int i = 0; i < 256; ++i) chip.Registers[i] = static_cast<u8>(i);
  Board->MapPorts(0x2E, 2, &chip);

  EXPECT_EQ(Io->InIndexDataDword(0x2E, 0x2F, 0xFE), 0x0100FFFEu);
  EXPECT_EQ(chip.Accessed, (std::vector<u8>{0x01, 0x00, 0xFF, 0xFE}));

  chip.Accessed.clear();
  EXPECT_EQ(Io->InIndexDataWord(0x2E, 0x2F, 0xFF), 0x00FF);
  EXPECT_EQ(chip.Accessed, (std::vector<u8>{0x00, 0xFF}));

  chip.Accessed.clear();
  EXPECT_TRUE(Io->OutIndexDataWord(0x2E, 0x2F, 0xFF, 0xBEEF));
  EXPECT_EQ(chip.Accessed, (std::vector<u8>{0xFF, 0x00}));
  EXPECT_EQ(chip.Registers[0xFF], 0xEF);
  EXPECT_EQ(chip.Registers[0x00], 0xBE);
  EXPECT_EQ(Requests(TRequestKind::Port), 4u + 4u + 4u + 4u);  // every access is one request
}

TEST_F(ReadWriteTest, PortsWithoutDecoderFloatHigh) {
  EXPECT_EQ(Io->InByte(0x80), 0xFF);
  EXPECT_EQ(Io->InWord(0x80), 0xFFFF);
  EXPECT_EQ(Io->InDword(0x80), 0xFFFFFFFFu);
  EXPECT_TRUE(Io->OutByte(0x80, 1));
  EXPECT_EQ(Requests(TRequestKind::Port), 4u);
}

TEST_F(ReadWriteTest, LegacyConfigurationCarriesExtendedRegisterBits) {
  // Offset 1FFh: address 81000000h + bus/device/function + FCh, data port 0CFFh.
  EXPECT_EQ(Io->ReadPciByte(0, 0x1F, 3, 0x1FF), 0xDD);
  EXPECT_EQ(Io->InDword(0xCF8), LegacyConfigAddress(0, 0x1F, 3, 0x1FF));
  EXPECT_EQ(LegacyConfigAddress(0, 0x1F, 3, 0x1FF), 0x81000000u + (0x1Fu << 11) + (3u << 8) + 0xFC);
  EXPECT_EQ(Io->ReadPciWord(0, 0x1F, 3, 0x102), 0x4433);
  EXPECT_EQ(Io->ReadPciDword(MakePciAddress(0, 0x1F, 3), 0x00), 0x3A308086u);

  EXPECT_TRUE(Io->WritePciWord(MakePciAddress(0, 0x1F, 3), 0x40, 0x1234));
  EXPECT_EQ(Io->ReadPciWord(0, 0x1F, 3, 0x40), 0x1234);
  EXPECT_EQ(Requests(TRequestKind::PciConfig), 5u);
}

TEST_F(ReadWriteTest, AbsentFunctionsReadAllOnesOfTheWidth) {
  EXPECT_EQ(Io->ReadPciByte(0, 2, 0, 0), 0xFF);
  EXPECT_EQ(Io->ReadPciWord(0, 2, 0, 0), 0xFFFF);
  EXPECT_EQ(Io->ReadPciDword(0, 2, 0, 0), 0xFFFFFFFFu);
  EXPECT_TRUE(Io->WritePciDword(0, 2, 0, 0x40, 1));
}

// Coordinates that do not fit the configuration address would reach another
// function's registers (device 32 is device 0 of the next bus, offset 1000h is
// offset 0), so they are refused without any request.
TEST_F(ReadWriteTest, UnaddressableConfigurationCoordinatesAreRefused) {
  struct Case {
    u8 device, function;
    u16 offset;
  };
  for (const Case& c : {Case{32, 0, 0}, Case{0x1F, 8, 0}, Case{0x1F, 3, 0x1000}}) {
    EXPECT_EQ(Io->ReadPciDword(0, c.device, c.function, c.offset), 0xFFFFFFFFu);
    EXPECT_EQ(Io->ReadPcieWord(0, c.device, c.function, c.offset), 0xFFFF);
    EXPECT_FALSE(Io->WritePciByte(0, c.device, c.function, c.offset, 0));
    EXPECT_FALSE(Io->WritePcieDword(0, c.device, c.function, c.offset, 0));
  }
  EXPECT_EQ(Board->TotalRequests(), 0u);
  EXPECT_EQ(Io->ReadPciByte(0, 0x1F, 3, 0x04), 0x00);  // the command register is untouched
}

TEST_F(ReadWriteTest, MemoryReadsPresetAllOnesAndCopyNothingOnFailure) {
  EXPECT_EQ(Io->ReadMemDword(0x1000), 0x44332211u);
  EXPECT_EQ(Io->ReadMemWord(0x1002), 0x4433);
  EXPECT_EQ(Io->ReadMemByte(0x1003), 0x44);
  EXPECT_EQ(Io->ReadMemDword(0x20000), 0xFFFFFFFFu);  // a hole
  EXPECT_EQ(Io->ReadMemWord(0x20000), 0xFFFF);
  EXPECT_EQ(Io->ReadMemByte(0x20000), 0xFF);

  std::vector<u8> buffer(16, 0x5A);
  EXPECT_FALSE(Io->ReadMemBlock(buffer.data(), 16, 0xFFF8));  // runs into the hole
  EXPECT_EQ(buffer, std::vector<u8>(16, 0x5A));
  EXPECT_TRUE(Io->ReadMem(buffer.data(), 4, 0x1000, kMemUnitWord));
  EXPECT_EQ(buffer[0], 0x11);
  EXPECT_EQ(buffer[3], 0x44);

  EXPECT_TRUE(Io->WriteMemDword(0xCAFEF00D, 0x2000));
  EXPECT_EQ(Io->ReadMemDword(0x2000), 0xCAFEF00Du);
  EXPECT_FALSE(Io->WriteMemByte(1, 0x20000));
}

TEST_F(ReadWriteTest, MemoryUnitsOutsideTheirLimitsSendNothing) {
  u8 buffer[8] = {};
  EXPECT_FALSE(Io->ReadMem(buffer, 4, 0x1000, 3));              // no such unit
  EXPECT_FALSE(Io->ReadMem(buffer, 3, 0x1000, kMemUnitWord));   // length not a multiple
  EXPECT_FALSE(Io->ReadMem(buffer, 4, 0x1002, kMemUnitDword));  // address not aligned
  EXPECT_TRUE(Io->ReadMem(buffer, 0, 0x1000, kMemUnitByte));    // nothing to move
  EXPECT_EQ(Board->TotalRequests(), 0u);
}

TEST_F(ReadWriteTest, EnhancedConfigurationWithoutBase) {
  EXPECT_EQ(Io->ReadPcieWord(0, 0x1F, 3, 0x102), 0xFFFF);
  EXPECT_FALSE(Io->WritePcieByte(0, 0x1F, 3, 0x101, 0x55));
  EXPECT_EQ(Board->TotalRequests(), 0u);

  EXPECT_EQ(Io->ReadPcieWord(0, 0x1F, 3, 0x02), 0x3A30);  // legacy below 100h
  EXPECT_TRUE(Io->WritePcieByte(0, 0x1F, 3, 0x41, 0x77));
  EXPECT_EQ(Requests(TRequestKind::PciConfig), 2u);
  EXPECT_EQ(Requests(TRequestKind::Memory), 0u);
}

class EcamTest : public BoardTest {
 protected:
  void SetUp() override {
    auto board = SmallBoard();
    board.EcamBase = 0xE0000000;
    board.EcamBuses = 1;
    Use(board);
    Io->PcieBase = 0xE0000000;
  }
};

TEST_F(EcamTest, ReadsGoThroughMemoryForEveryOffset) {
  struct Case {
    u16 offset;
    TAccessWidth width;
    u32 expected;
  };
  const Case cases[] = {
      {0x000, 4, 0x3A308086}, {0x002, 2, 0x3A30}, {0x003, 2, 0x3A30},  // any lane but 0 gives bits 31..16
      {0x001, 1, 0x80},       {0x1FF, 1, 0xDD},   {0x1FC, 2, 0xBBAA}, {0x101, 2, 0x4433},
  };
  for (const Case& c : cases) {
    Board->ResetRequestCounts();
    const u32 value = c.width == 4   ? Io->ReadPcieDword(0, 0x1F, 3, c.offset)
                      : c.width == 2 ? Io->ReadPcieWord(0, 0x1F, 3, c.offset)
                                     : Io->ReadPcieByte(0, 0x1F, 3, c.offset);
    EXPECT_EQ(value, c.expected) << "offset " << c.offset;
    EXPECT_EQ(Requests(TRequestKind::Memory), 1u);
    EXPECT_EQ(Requests(TRequestKind::PciConfig), 0u);
  }
  EXPECT_EQ(Io->ReadPcieDword(0, 0x1E, 0, 0), 0xFFFFFFFFu);  // absent function
}

// Buses other than 0: bus bits 27..20, device 19..15, function 14..12 of
// the window address, pinned by the literal addresses of the desktop board's
// functions behind its root ports (graphics on bus 1, Ethernet on bus 2).
TEST_F(BoardTest, EcamAddressesFunctionsBehindBridges) {
  Use(sim::DesktopIch10Board());
  Io->PcieBase = 0xE0000000;
  EXPECT_EQ(Io->ReadPcieDword(1, 0, 0, 0), 0x06401002u);
  EXPECT_EQ(Io->ReadPcieDword(2, 0, 0, 0), 0x816810ECu);
  EXPECT_EQ(Io->ReadMemDword(0xE0100000), 0x06401002u);
  EXPECT_EQ(Io->ReadMemDword(0xE0200000), 0x816810ECu);
  EXPECT_TRUE(Io->WritePcieDword(2, 0, 0, 0x100, 0x5EC0DE02));
  EXPECT_EQ(Io->ReadMemDword(0xE0200100), 0x5EC0DE02u);
  EXPECT_EQ(Io->ReadMemDword(0xE0100100), 0u);
  EXPECT_EQ(Io->ReadPcieDword(MakePciAddress(2, 0, 0), 0x100), 0x5EC0DE02u);
}

TEST_F(EcamTest, NarrowWritesAboveFFhReadModifyWriteTheDword) {
  EXPECT_TRUE(Io->WritePcieByte(MakePciAddress(0, 0x1F, 3), 0x101, 0x99));
  EXPECT_EQ(Requests(TRequestKind::Memory), 2u);
  EXPECT_EQ(Io->ReadPciDword(0, 0x1F, 3, 0x100), 0x44339911u);

  EXPECT_TRUE(Io->WritePcieWord(0, 0x1F, 3, 0x103, 0xABCD));  // lane 3 takes bits 31..16
  EXPECT_EQ(Io->ReadPciDword(0, 0x1F, 3, 0x100), 0xABCD9911u);
  EXPECT_TRUE(Io->WritePcieWord(0, 0x1F, 3, 0x100, 0x0102));
  EXPECT_TRUE(Io->WritePcieDword(0, 0x1F, 3, 0x1FC, 0x01020304));
  EXPECT_EQ(Io->ReadPciDword(0, 0x1F, 3, 0x100), 0xABCD0102u);
  EXPECT_EQ(Io->ReadPciDword(0, 0x1F, 3, 0x1FC), 0x01020304u);

  Board->ResetRequestCounts();
  EXPECT_TRUE(Io->WritePcieByte(0, 0x1F, 3, 0x40, 0x12));  // below 100h: legacy
  EXPECT_EQ(Requests(TRequestKind::PciConfig), 1u);
  EXPECT_EQ(Requests(TRequestKind::Memory), 0u);
}

// The width-parameterised accesses and the per-width ones are one path: the
// same values, one request per access; a width other than 1, 2 or 4 reads
// all ones and sends nothing.
TEST_F(ReadWriteTest, WidthParameterisedAccessesMatchThePerWidthOnes) {
  const PciAddress smbus = MakePciAddress(0, 0x1F, 3);
  using TSpace = TReadWrite::TConfigSpace;
  EXPECT_EQ(Io->ReadConfig(TSpace::Pci, smbus, 0x00, 1), Io->ReadPciByte(smbus, 0x00));
  EXPECT_EQ(Io->ReadConfig(TSpace::Pci, smbus, 0x02, 2), Io->ReadPciWord(smbus, 0x02));
  EXPECT_EQ(Io->ReadConfig(TSpace::Pci, smbus, 0x2C, 4), 0x5005F17Au);
  EXPECT_EQ(Io->ReadConfig(TSpace::Pcie, 0, 0x1F, 3, 0x2E, 2), 0x5005u);  // no ECAM base: legacy below 100h
  EXPECT_EQ(Io->ReadMemValue(0x1000, 1), 0x11u);
  EXPECT_EQ(Io->ReadMemValue(0x1001, 2), 0x3322u);
  EXPECT_EQ(Io->ReadMemValue(0x1000, 4), Io->ReadMemDword(0x1000));
  EXPECT_TRUE(Io->WriteMemDword(0xAAAAAAAA, 0x2000));
  EXPECT_TRUE(Io->WriteMemValue(0x2000, 2, 0x1234BEEF));
  EXPECT_EQ(Io->ReadMemDword(0x2000), 0xAAAABEEFu);  // nothing beyond the width

  IndexDataChip chip;
  Board->MapPorts(0x2E, 2, &chip);
  EXPECT_TRUE(Io->OutIndexData(0x2E, 0x2F, 0x10, 4, 0x44332211));
  EXPECT_EQ(chip.Accessed, (std::vector<u8>{0x10, 0x11, 0x12, 0x13}));  // low byte first
  EXPECT_EQ(Io->InIndexData(0x2E, 0x2F, 0x10, 4), 0x44332211u);
  EXPECT_EQ(Io->InIndexData(0x2E, 0x2F, 0x12, 2), Io->InIndexDataWord(0x2E, 0x2F, 0x12));

  Board->ResetRequestCounts();
  EXPECT_EQ(Io->InPort(0x2F, 3), 0xFFFFFFu);
  EXPECT_FALSE(Io->OutPort(0x2F, 3, 0));
  EXPECT_EQ(Io->ReadConfig(TSpace::Pci, smbus, 0x00, 3), 0xFFFFFFu);
  EXPECT_FALSE(Io->WriteConfig(TSpace::Pcie, smbus, 0x00, 8, 0));
  EXPECT_EQ(Io->ReadMemValue(0x1000, 0), 0u);
  EXPECT_FALSE(Io->WriteMemValue(0x1000, 3, 0));
  EXPECT_EQ(Board->TotalRequests(), 0u);
}

TEST_F(ReadWriteTest, SwitchCpuSetsOneProcessorMask) {
  EXPECT_TRUE(Io->SwitchCpu(3));
  EXPECT_EQ(Board->Affinity(), 4u);
  EXPECT_TRUE(Io->SwitchCpu(1));
  EXPECT_EQ(Board->Affinity(), 1u);
  EXPECT_FALSE(Io->SwitchCpu(5));  // the system refuses a processor it does not have
  EXPECT_EQ(Board->Affinity(), 1u);
}

TEST_F(BoardTest, SwitchCpuRefusesOnSingleProcessorSystems) {
  sim::TBoardDescription single;
  single.Processors = 1;
  Use(single);
  EXPECT_FALSE(Io->SwitchCpu(1));
  EXPECT_EQ(Board->Affinity(), 1u);
  EXPECT_EQ(Board->Requests(TRequestKind::Affinity), 0u);
}

TEST_F(ReadWriteTest, ProcessorRegistersAndCounters) {
  CpuRegisters regs;
  regs.Ecx = 0x1B;
  EXPECT_TRUE(Io->ReadMsr(regs));
  EXPECT_EQ(regs.Eax, 0xFEE00900u);
  EXPECT_EQ(regs.Edx, 0u);
  regs.Eax = 0xFEE00800;
  regs.Edx = 1;
  EXPECT_TRUE(Io->WriteMsr(regs));
  EXPECT_EQ(Board->Msr(0x1B), 0x1FEE00800ull);
  regs.Ecx = 0x12345;
  EXPECT_FALSE(Io->ReadMsr(regs));

  EXPECT_EQ(Io->ReadCr(1), ~u64{0});
  EXPECT_EQ(Io->ReadCr(2), Board->ControlRegister(2));
  EXPECT_TRUE(Io->WriteCr(4, 0x6F8));
  EXPECT_EQ(Io->ReadCr(4), 0x6F8u);
  EXPECT_FALSE(Io->WriteCr(2, 0));

  const u64 first = Io->ReadTsc();
  Board->Clock().Sleep(10);
  EXPECT_GT(Io->ReadTsc(), first + 10'000'000u);
  EXPECT_EQ(Io->ReadPmc(0), 0u);
  EXPECT_EQ(Io->ReadPmc(7), 0u);
  EXPECT_EQ(Requests(TRequestKind::Pmc), 2u);
}

TEST(ReadWriteUnavailable, EveryRequestFailsWithTheNamedSentinels) {
  TReadWrite io(std::make_shared<TUnavailableTransport>());
  CpuRegisters regs;
  EXPECT_EQ(io.InByte(0x80), 0xFF);
  EXPECT_EQ(io.ReadPciDword(0, 0, 0, 0), 0xFFFFFFFFu);
  EXPECT_EQ(io.ReadMemDword(0xF0000), 0xFFFFFFFFu);
  EXPECT_FALSE(io.ReadMsr(regs));
  EXPECT_FALSE(io.WriteCr(0, 0));
  EXPECT_EQ(io.ReadCr(0), ~u64{0});
  EXPECT_EQ(io.ReadTsc(), 0u);
  EXPECT_EQ(io.ReadPmc(0), 0u);
  EXPECT_FALSE(io.SwitchCpu(1));
  EXPECT_EQ(io.FindPciDevice(0xFFFF8086, 0), kPciNotFound);
}

// Leaf 0Bh echoes the sub-leaf it was asked for in ECX bits 7:0, so it shows
// which sub-leaf ran: always 0, whatever the Ecx field held.
TEST(ReadWriteCpuid, AsksForSubLeafZeroWhateverEcxHolds) {
  TReadWrite io(std::make_shared<TUnavailableTransport>());
  CpuRegisters highest{};
  io.Cpuid(highest);
  if (highest.Eax < 0x0B) GTEST_SKIP() << "the processor has no leaf 0Bh";
  CpuRegisters clean{0x0B, 0, 0, 0}, dirty{0x0B, 0x11111111, 0x00000001, 0x22222222};
  EXPECT_TRUE(io.Cpuid(clean));
  EXPECT_TRUE(io.Cpuid(dirty));
  EXPECT_EQ(clean.Ecx & 0xFF, 0u);
  EXPECT_EQ(dirty.Eax, clean.Eax);
  EXPECT_EQ(dirty.Ebx, clean.Ebx);
  EXPECT_EQ(dirty.Ecx, clean.Ecx);
}

TEST(ReadWriteCpuid, RunsInTheProgram) {
  TReadWrite io(std::make_shared<TUnavailableTransport>());
  CpuRegisters regs;
  regs.Eax = 0;
  EXPECT_TRUE(io.Cpuid(regs));
  char vendor[13] = {};
  std::memcpy(vendor, &regs.Ebx, 4);
  std::memcpy(vendor + 4, &regs.Edx, 4);
  std::memcpy(vendor + 8, &regs.Ecx, 4);
  EXPECT_GE(regs.Eax, 1u);  // highest standard leaf
  EXPECT_EQ(std::strlen(vendor), 12u) << vendor;  // e.g. "GenuineIntel"
}

}  // namespace
}  // namespace lirrin
