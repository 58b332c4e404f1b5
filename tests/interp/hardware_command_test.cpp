// Hardware commands on the simulated board: printouts, values, and the
// requests they send (one per access; none when a range check fails).
#include <cstring>

#include "interp/output_format.h"
#include "interp/value_format.h"
#include "hw/transport.h"
#include "interp_fixture.h"

namespace lirrin {
namespace {

using sim::TRequestKind;
using testing::InterpreterTest;
using testing::ScriptedPorts;

constexpr u32 kUntouched = 0xDEADBEEF;

struct CommandCase {
  const char* Script;
  bool Ok;
  u32 Result;  // kUntouched: no value
  const char* Message;
  TRequestKind Kind;
  u64 Requests;  // of Kind; and no request of any other kind
};

// A Super I/O style register file behind an index/data pair at 2Eh/2Fh that
// records which register each data write reached.
class IndexDataChip final : public sim::TPortHandler {
 public:
  u32 ReadPort(u16 port, TAccessWidth) override { return port == 0x2E ? Index : Registers[Index]; }
  void WritePort(u16 port, TAccessWidth, u32 value) override {
    if (port == 0x2E) {
      Index = static_cast<u8>(value);
    } else {
      Written.push_back(Index);
      Registers[Index] = static_cast<u8>(value);
    }
  }
  u8 Index = 0;
  u8 Registers[256] = {};
  std::vector<u8> Written;
};

class HardwareCommandTest : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    Board->MapPorts(0x2E, 2, &Chip);
    Board->MapPorts(0x60, 1, &Keyboard);
    for (int i = 0; i < 256; ++i) Chip.Registers[i] = static_cast<u8>(i);
    const u8 signature[] = {'R', 'S', 'D', ' ', 'P', 'T', 'R', ' '};
    Board->Poke(0xE0008, signature, 3);  // off the 16-byte grid
    Board->Poke(0xE0040, signature, 8);
    Board->Poke(0xF0010, "_SM_", 4);
    Board->Poke(0xF0100, "41", 2);
  }

  void Check(std::initializer_list<CommandCase> cases) {
    for (const CommandCase& c : cases) {
      Board->ResetRequestCounts();
      Result = kUntouched;
      EXPECT_EQ(Run(c.Script), c.Ok) << c.Script;
      EXPECT_EQ(Result, c.Result) << c.Script;
      EXPECT_EQ(Message(), c.Message) << c.Script;
      EXPECT_EQ(Requests(c.Kind), c.Requests) << c.Script;
      EXPECT_EQ(Board->TotalRequests(), c.Requests) << c.Script;
    }
  }

  IndexDataChip Chip;
  ScriptedPorts Keyboard{{0x55}};
};

TEST_F(HardwareCommandTest, Ports) {
  Check({
      {"i(0x60)", true, 0x55, "In Port 0x60 = 0x55", TRequestKind::Port, 1},
      {"i16(0x80)", true, 0xFFFF, "In Port 0x80 = 0xFFFF", TRequestKind::Port, 1},
      {"i32(0x80)", true, 0xFFFFFFFF, "In Port 0x80 = 0xFFFFFFFF", TRequestKind::Port, 1},
      {"i(0x10000)", false, kUntouched, "Operand range is 0 to 0xFFFF!", TRequestKind::Port, 0},
      {"i", false, kUntouched, "Command error!", TRequestKind::Port, 0},
      {"o(0x60,0x1234)", true, kUntouched, "Out port 0x60 = 0x34", TRequestKind::Port, 1},
      {"o16(0x60,0x12345)", true, kUntouched, "Out port 0x60 = 0x2345", TRequestKind::Port, 1},
      {"o32(0x60,-1)", true, kUntouched, "Out port 0x60 = 0xFFFFFFFF", TRequestKind::Port, 1},
      {"o(0x10000,1)", false, kUntouched, "Operand range is 0 to 0xFFFF!", TRequestKind::Port, 0},
      {"o(0x60)", false, kUntouched, "parameter error!", TRequestKind::Port, 0},
  });
  EXPECT_EQ(Keyboard.Writes, (std::vector<std::pair<u16, u32>>{{0x60, 0x34}, {0x60, 0x2345}, {0x60, 0xFFFFFFFF}}));
}

TEST_F(HardwareCommandTest, IndexDataPairs) {
  Check({
      {"Iid(0x2E,0x2F,0x20)", true, 0x20, "In Index/Data/Offset 0x2E/0x2F/0x20 = 0x20", TRequestKind::Port, 2},
      {"Iid16(0x2E,0x2F,0x20)", true, 0x2120, "In Index/Data/Offset 0x2E/0x2F/0x20 = 0x2120", TRequestKind::Port, 4},
      {"Iid32(0x2E,0x2F,0xFE)", true, 0x0100FFFE, "In Index/Data/Offset 0x2E/0x2F/0xFE = 0x0100FFFE",
       TRequestKind::Port, 8},
      {"Iid(0x2E,0x2F,0x100)", false, kUntouched, "Operand range is 0 to 0xFF!", TRequestKind::Port, 0},
      {"Iid(0x2E,0x10000,0)", false, kUntouched, "Operand range is 0 to 0xFFFF!", TRequestKind::Port, 0},
      {"Oid(0x2E,0x2F,0x10,0x1AB)", true, kUntouched, "Out Index/Data/Offset 0x2E/0x2F/0x10 = 0xAB",
       TRequestKind::Port, 2},
      {"Oid16(0x2E,0x2F,0x10,0xBEEF)", true, kUntouched, "Out Index/Data/Offset 0x2E/0x2F/0x10 = 0xBEEF",
       TRequestKind::Port, 4},
      {"Oid32(0x2E,0x2F,0x20,0x44332211)", true, kUntouched, "Out Index/Data/Offset 0x2E/0x2F/0x20 = 0x44332211",
       TRequestKind::Port, 8},
      {"Oid32(0x2E,0x2F,0x20)", false, kUntouched, "parameter error!", TRequestKind::Port, 0},
  });
  EXPECT_EQ(Chip.Written, (std::vector<u8>{0x10, 0x10, 0x11, 0x20, 0x21, 0x22, 0x23}));
  EXPECT_EQ(Chip.Registers[0x20], 0x11);
  EXPECT_EQ(Chip.Registers[0x21], 0x22);
  EXPECT_EQ(Chip.Registers[0x22], 0x33);
  EXPECT_EQ(Chip.Registers[0x23], 0x44);
}

TEST_F(HardwareCommandTest, PciByBusDeviceFunction) {
  const auto pci = TRequestKind::PciConfig;
  Check({
      {"Rpci32(0,0x1f,3,0)", true, 0x3A308086, "Read PCI Bus/Dev/Fun/Offset 0x00/0x1F/0x03/0x00 = 0x3A308086", pci, 1},
      {"Rpci16(0,0x1f,3,2)", true, 0x3A30, "Read PCI Bus/Dev/Fun/Offset 0x00/0x1F/0x03/0x02 = 0x3A30", pci, 1},
      {"Rpci(0,0x1f,3,0x0B)", true, 0x0C, "Read PCI Bus/Dev/Fun/Offset 0x00/0x1F/0x03/0x0B = 0x0C", pci, 1},
      {"Rpcie16(0,0x1f,3,2)", true, 0x3A30, "Read PCIE Bus/Dev/Fun/Offset 0x00/0x1F/0x03/0x02 = 0x3A30", pci, 1},
      {"Rpci32(0x10,0,0,0)", true, 0xFFFFFFFF, "Read PCI Bus/Dev/Fun/Offset 0x10/0x00/0x00/0x00 = 0xFFFFFFFF", pci, 1},
      {"Rpci(256,0,0,0)", false, kUntouched, "Operand range is 0 to 0xFF!", pci, 0},
      {"Rpci(0,32,0,0)", false, kUntouched, "Operand range is 0 to 0x1F!", pci, 0},
      {"Rpci(0,0,8,0)", false, kUntouched, "Operand range is 0 to 0x7!", pci, 0},
      {"Rpcie(0,0,0,0x100)", false, kUntouched, "Operand range is 0 to 0xFF!", pci, 0},
      {"Wpci(0,0x1f,3,0x40)", false, kUntouched, "parameter error!", pci, 0},
      {"Wpci(0,0x1f,3,0x40,0x1FF)", true, kUntouched, "Write PCI Bus/Dev/Fun/Offset 0x00/0x1F/0x03/0x40 = 0xFF", pci,
       1},
      {"Wpcie16(0,0x1f,3,0x40,0x12345)", true, kUntouched,
       "Write PCIE Bus/Dev/Fun/Offset 0x00/0x1F/0x03/0x40 = 0x2345", pci, 1},
      {"Wpci32(0,0x20,3,0x40,1)", false, kUntouched, "Operand range is 0 to 0x1F!", pci, 0},
  });
}

TEST_F(HardwareCommandTest, PciByPackedAddress) {
  const auto pci = TRequestKind::PciConfig;
  Check({
      {"Local0=0xFA; eRpci32(Local0,0)", true, 0x3A228086, "Read PCI Bus/Dev/Fun/Offset 0x00/0x1F/0x02/0x00 = 0x3A228086",
       pci, 1},
      {"eRpci16(0xFFFF,0)", true, 0xFFFF, "Read PCI Bus/Dev/Fun/Offset 0xFF/0x1F/0x07/0x00 = 0xFFFF", pci, 1},
      // The PCI forms use the offset's low 8 bits.
      {"eRpci(0x100FB,0x10B)", true, 0x0C, "Read PCI Bus/Dev/Fun/Offset 0x00/0x1F/0x03/0x0B = 0x0C", pci, 1},
      // The PCI Express forms use 16 bits: without a known ECAM base, an
      // extended register reads all ones without a request.
      {"eRpcie16(0xFB,0x102)", true, 0xFFFF, "Read PCIE Bus/Dev/Fun/Offset 0x00/0x1F/0x03/0x02 = 0xFFFF", pci, 0},
      {"eRpcie16(0xFB,2)", true, 0x3A30, "Read PCIE Bus/Dev/Fun/Offset 0x00/0x1F/0x03/0x02 = 0x3A30", pci, 1},
      {"eWpci16(0xFB,0x80,0xc03)", true, kUntouched, "Write PCI Bus/Dev/Fun/Offset 0x00/0x1F/0x03/0x80 = 0x0C03", pci,
       1},
      {"eWpcie(0xFB,0x140,1)", true, kUntouched, "Write PCIE Bus/Dev/Fun/Offset 0x00/0x1F/0x03/0x40 = 0x01", pci, 0},
      {"eWpci32(0xFB,0x80)", false, kUntouched, "parameter error!", pci, 0},
  });
}

TEST_F(HardwareCommandTest, PciSearches) {
  // How many requests a search makes is the I/O layer's business; the
  // values and printouts are the interpreter's.
  const struct {
    const char* Script;
    u32 Result;
    const char* Message;
  } cases[] = {
      {"Fpci(0x3A308086)", 0xFB, "Find PCI Device: 0x3A308086 Index 0x0 = 0x00FB"},
      {"Fpci(0xFFFF8086,1)", 0x08, "Find PCI Device: 0xFFFF8086 Index 0x1 = 0x0008"},
      {"Fpci(0x12345678)", 0xFFFF, "Find PCI Device: 0x12345678 Index 0x0 = 0xFFFF"},
      {"LocalF=FpciClass(0x0C0500)", 0xFB, "Find PCI Class: 0xC0500 Index 0x0 = 0x00FB"},
      {"FpciClass(0x0C03FF,1)", 0xEF, "Find PCI Class: 0xC03FF Index 0x1 = 0x00EF"},
      {"FpciClass(0x0C03FF,0x101)", 0xEF, "Find PCI Class: 0xC03FF Index 0x101 = 0x00EF"},  // index in 8 bits
      {"FpciClass(0x0C0600)", 0xFFFF, "Find PCI Class: 0xC0600 Index 0x0 = 0xFFFF"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(Run(c.Script)) << c.Script;
    EXPECT_EQ(Result, c.Result) << c.Script;
    EXPECT_EQ(Message(), c.Message) << c.Script;
  }
  EXPECT_EQ(Local(0xF), 0xFBu);
}

TEST_F(HardwareCommandTest, Memory) {
  const auto mem = TRequestKind::Memory;
  Check({
      {"W32(0x1000,0x44332211)", true, kUntouched, "Write Memory Address 0x1000 = 0x44332211", mem, 1},
      {"R(0x1001)", true, 0x22, "Read Memory Address 0x1001 = 0x22", mem, 1},
      {"R16(0x1002)", true, 0x4433, "Read Memory Address 0x1002 = 0x4433", mem, 1},
      {"R32(0x1000)", true, 0x44332211, "Read Memory Address 0x1000 = 0x44332211", mem, 1},
      {"W(0x1000,0x1AB)", true, kUntouched, "Write Memory Address 0x1000 = 0xAB", mem, 1},
      {"W16(0x1002,0x12345)", true, kUntouched, "Write Memory Address 0x1002 = 0x2345", mem, 1},
      {"R32(0x1000)", true, 0x234522AB, "Read Memory Address 0x1000 = 0x234522AB", mem, 1},
      {"R32(0xA0000)", true, 0xFFFFFFFF, "Read Memory Address 0xA0000 = 0xFFFFFFFF", mem, 1},  // a hole
      {"W32(0x1000)", false, kUntouched, "parameter error!", mem, 0},
  });
}

TEST_F(HardwareCommandTest, MemorySearch) {
  const struct {
    const char* Script;
    u32 Result;
    const char* Message;
  } cases[] = {
      {"Fmem(0xE0000,0x20000,16,0,\"52h 53h 44h\")", 0xE0040, "Find Memory: 0xE0000, 0x20000, 0x10, 0x0 - 0xE0040"},
      {"Fmem(0xE0000,0x20000,1,0,\"52h 53h 44h\")", 0xE0008, "Find Memory: 0xE0000, 0x20000, 0x1, 0x0 - 0xE0008"},
      {"Fmem(0xE0000,0x20000,1,1,\"52h 53h 44h\")", 0xE0040, "Find Memory: 0xE0000, 0x20000, 0x1, 0x1 - 0xE0040"},
      {"Fmem(0xE0000,0x20000,1,0,_SM_,/S)", 0xF0010, "Find Memory: 0xE0000, 0x20000, 0x1, 0x0 - 0xF0010"},
      {"Fmem(0xE0000,0x20000,1,0,_sm_)", 0xF0010, "Find Memory: 0xE0000, 0x20000, 0x1, 0x0 - 0xF0010"},
      // "41" is the byte 29h unless /S asks for the text.
      {"Fmem(0xF0000,0x10000,1,0,41,/S)", 0xF0100, "Find Memory: 0xF0000, 0x10000, 0x1, 0x0 - 0xF0100"},
      {"Fmem(0xF0000,0x10000,1,0,41)", 0xFFFFFFFF, "Find Memory: 0xF0000, 0x10000, 0x1, 0x0 - not found"},
      {"Fmem(0xE0000,0x20000,1,0,\"RSD PTR X\",/S)", 0xFFFFFFFF,
       "Find Memory: 0xE0000, 0x20000, 0x1, 0x0 - not found"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(Run(c.Script)) << c.Script;
    EXPECT_EQ(Result, c.Result) << c.Script;
    EXPECT_EQ(Message(), c.Message) << c.Script;
    EXPECT_EQ(Output().size(), c.Result == 0xFFFFFFFF ? 0u : 17u) << c.Script;
  }
  ASSERT_TRUE(Run("LocalE=Fmem(0xE0000,0x20000,16,0,\"52h 53h 44h 20h\")"));
  EXPECT_EQ(Local(0xE), 0xE0040u);
  EXPECT_EQ(Output()[1].substr(0, 27), "00 52 53 44 20 50 54 52 20 ");
  EXPECT_FALSE(Run("Fmem(0xE0000,0x20000,1,0)"));
  EXPECT_EQ(Message(), "parameter error!");
}

TEST_F(HardwareCommandTest, MemoryDump) {
  Board->ResetRequestCounts();
  ASSERT_TRUE(Run("Dmem(0xE0040)"));
  EXPECT_EQ(Message(), "Dump Memory: Address=0xE0040, Size=0x100");
  const auto lines = Output();
  ASSERT_EQ(lines.size(), 17u);
  EXPECT_EQ(lines[0], "   00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\t0123456789ABCDEF");
  EXPECT_EQ(lines[1], "00 52 53 44 20 50 54 52 20 FF FF FF FF FF FF FF FF\tRSD PTR ........");
  EXPECT_EQ(lines[16].substr(0, 3), "F0 ");
  EXPECT_EQ(Requests(TRequestKind::Memory), 1u);

  ASSERT_TRUE(Run("Dmem(0x1000,0x20)"));
  EXPECT_EQ(Message(), "Dump Memory: Address=0x1000, Size=0x20");
  EXPECT_EQ(Output().size(), 3u);

  // Output gathers the lines of every command of one run.
  ASSERT_TRUE(Run("Dmem(0x1000,0x10); Dmem(0x1000,0x10)"));
  EXPECT_EQ(Output().size(), 4u);

  Board->ResetRequestCounts();
  ASSERT_TRUE(Run("Dmem(0,0x1000001)"));
  EXPECT_EQ(Message(), "Dump Memory: Address=0x0, Size=0x1000001 - Allocate buffer error");
  EXPECT_TRUE(Output().empty());
  EXPECT_EQ(Board->TotalRequests(), 0u);
}

TEST_F(HardwareCommandTest, ModelSpecificRegisters) {
  Check({
      {"Rdmsr(0x1B)", true, kUntouched, "Read MSR 0x1B : High 32bit(EDX) = 0x00000000, Low 32bit(EAX) = 0xFEE00900",
       TRequestKind::Msr, 1},
      {"Rdmsr(0x12345)", false, kUntouched, "Command fail!", TRequestKind::Msr, 1},
      {"Wrmsr(0x1B,1,0xFEE00800)", true, kUntouched,
       "Write MSR 0x1B : High 32bit(EDX) = 0x00000001, Low 32bit(EAX) = 0xFEE00800", TRequestKind::Msr, 1},
      {"Wrmsr(0x12345,0,0)", false, kUntouched, "Command fail!", TRequestKind::Msr, 1},
      {"Wrmsr(0x1B,1)", false, kUntouched, "parameter error!", TRequestKind::Msr, 0},
  });
  EXPECT_EQ(Board->Msr(0x1B), 0x1FEE00800ull);

  ASSERT_TRUE(Run("LocalA=1; LocalB=2; LocalC=3; LocalD=4; Rdmsr(0x1B)"));
  EXPECT_EQ(Local(0xA), 0xFEE00800u);
  EXPECT_EQ(Local(0xB), 0u);  // EBX as the register block holds it
  EXPECT_EQ(Local(0xC), 0x1Bu);
  EXPECT_EQ(Local(0xD), 1u);
  EXPECT_EQ(Interp->LastResult(), 0u);
  EXPECT_EQ(Output(), (std::vector<std::string>{
                          "63    56 55    48 47    40 39    32 31    24 23    16 15     8 7      0",
                          "00000000-00000000-00000000-00000001-11111110-11100000-00001000-00000000"}));
}

TEST_F(HardwareCommandTest, ControlRegistersAndCounters) {
  Check({
      {"Rdcr(0)", true, kUntouched, "Read CR0 : High 32bit = 0x00000000, Low 32bit = 0x80050033",
       TRequestKind::ControlRegister, 1},
      {"Rdcr(1)", false, kUntouched, "Command fail!", TRequestKind::ControlRegister, 1},
      {"Wrcr(3,0,0x1000)", true, kUntouched, "Write CR3 : High 32bit = 0x00000000, Low 32bit = 0x00001000",
       TRequestKind::ControlRegister, 1},
      {"Wrcr(2,0,0)", false, kUntouched, "Command fail!", TRequestKind::ControlRegister, 1},
      {"Rdpmc(1)", true, kUntouched, "Read PMC 1 : High 32bit = 0x00000000, Low 32bit = 0x00000000",
       TRequestKind::Pmc, 1},
      {"Rdpmc(9)", true, kUntouched, "Read PMC 9 : High 32bit = 0x00000000, Low 32bit = 0x00000000",
       TRequestKind::Pmc, 1},
  });
  EXPECT_EQ(Board->ControlRegister(3), 0x1000u);

  ASSERT_TRUE(Run("Rdcr(4)"));
  EXPECT_EQ(Local(0xA), 0x000406F8u);
  EXPECT_EQ(Local(0xB), 0u);
  EXPECT_EQ(Output().size(), 2u);

  Board->Clock().Sleep(1000);
  Result = kUntouched;
  ASSERT_TRUE(Run("Local1=5; Rdtsc"));
  EXPECT_EQ(Result, kUntouched);
  const u64 tsc = u64{Local(0xB)} << 32 | Local(0xA);
  EXPECT_GT(tsc, 0u);
  EXPECT_EQ(Message(), "Read TSC = " + ToUtf8(HexQword(tsc)));
  EXPECT_TRUE(Output().empty());
}

// A time-stamp counter through a transport that fails (a driver that did
// not load) is a failed statement, not a reading of 0.
TEST(HardwareCommandUnavailable, RdtscFailsWithItsTransport) {
  TBoardContext context(TBoardSeams{.Transport = std::make_shared<TUnavailableTransport>()});
  TInterpreter interpreter;
  EXPECT_FALSE(interpreter.RunScript(u"Rdtsc"));
  EXPECT_EQ(ToUtf8(interpreter.LastMessage()), "Command fail!");
}

TEST_F(HardwareCommandTest, CpuidFillsTheRegisterLocals) {
  Result = kUntouched;
  ASSERT_TRUE(Run("Cpuid(0)"));
  EXPECT_EQ(Message(), "CPUID 0x0");
  EXPECT_EQ(Result, kUntouched);
  const auto lines = Output();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "                 31    24 23    16 15     8 7      0");
  const char* names[] = {"EAX", "EBX", "ECX", "EDX"};
  for (unsigned i = 0; i < 4; ++i) {
    const u32 value = Local(0xA + i);
    EXPECT_EQ(lines[1 + i], std::string(names[i]) + " = " + ToUtf8(HexDword(value)) + " " +
                                ToUtf8(BitString(value, 32)));
  }
}

TEST_F(HardwareCommandTest, SwitchingProcessors) {
  Check({
      {"Cpu(2)", true, kUntouched, "Current CPU = CPU2", TRequestKind::Affinity, 1},
      {"Cpu(9)", false, kUntouched, "Error to switch CPU!", TRequestKind::Affinity, 1},
  });
  EXPECT_EQ(Board->Affinity(), 2u);

  sim::TBoardDescription single = sim::DesktopIch10Board();
  single.Processors = 1;
  UseBoard(single);
  Check({
      {"Cpu(1)", false, kUntouched, "Error: single CPU system!", TRequestKind::Affinity, 0},
      {"Cpu(2)", false, kUntouched, "Error: single CPU system!", TRequestKind::Affinity, 0},
  });
}

}  // namespace
}  // namespace lirrin
