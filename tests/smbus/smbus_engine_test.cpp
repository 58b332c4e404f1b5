// The SMBus engine on the simulated boards, one per controller family:
// detection, word transactions that reach the slaves, the registers the
// controller texts borrow and give back, and the failure paths.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "hw/driver_transport.h"
#include "policy.h"
#include "sim/smbus/bus.h"
#include "sim/smbus/chipset.h"
#include "smbus_fixture.h"
#include "support/text.h"

namespace lirrin {
namespace {

using testing::BoardName;
using testing::kFamilyNames;
using testing::SMBusTest;
using testing::TWrite;

constexpr u8 kAmplifier = 0x4A;  // 8-bit form of 25h
constexpr u8 kAmplifierCommand = 2;
constexpr u8 kEeprom = 0xA0;

// Where each family's controller keeps the registers the tests watch, from
// the register interfaces of the silicon (PIIX4/i801/ULi/VIA: status at +0,
// address at +4; SCH: status at +1; SiS: command at +5; nForce: status +1,
// address +2), and how many times one run of the family's Ready text writes
// the status clear value when the controller is idle (a WAIT stops after one
// pass; the ServerWorks and nVidia texts repeat the write 100 or 256 times).
struct TFamilyRegisters {
  u8 Address, Command, Status, Clear;
  u32 ReadyPasses;
  // The Ready text cannot see a stuck controller, so the word starts and the
  // word wait runs out: ServerWorks' Ready never reads the status, and SiS
  // keeps busy outside the status register that its texts poll.
  bool ReadyMissesStuck;
};

const TFamilyRegisters& Registers(int family) {
  static const TFamilyRegisters rows[] = {
      {},
      {4, 3, 0, 0xFF, 1, false},    // 1 ATI
      {4, 3, 0, 0xFF, 1, false},    // 2 ICH7-10
      {4, 3, 0, 0xFF, 1, false},    // 3 ICHx
      {4, 3, 0, 0xFF, 1, false},    // 4 PCH
      {4, 5, 1, 0x07, 1, false},    // 5 SCH
      {4, 3, 0, 0xFF, 100, true},   // 6 ServerWorks
      {4, 5, 0, 0xFF, 1, true},     // 7 SiS 962
      {4, 5, 0, 0xFF, 1, true},     // 8 SiS 964
      {4, 5, 0, 0xFF, 1, true},     // 9 SiS 966
      {4, 5, 0, 0xFF, 1, true},     // 10 SiS 968
      {4, 3, 0, 0xFF, 1, false},    // 11 ULi
      {4, 3, 0, 0xFF, 1, false},    // 12
      {4, 3, 0, 0xFF, 1, false},    // 13
      {4, 3, 0, 0xFF, 1, false},    // 14 VIA
      {4, 3, 0, 0xFF, 1, false},    // 15 VIA VX900
      {2, 3, 1, 0xFF, 256, false},  // 16 nVidia MCP2
      {2, 3, 1, 0xFF, 100, false},  // 17 nVidia MCPxx
      {2, 3, 1, 0xFF, 256, false},  // 18 nForce3/CK804
  };
  return rows[family];
}

class SMBusEngineTest : public SMBusTest {
 protected:
  // Writes to the status register with the clear value, from the write at
  // index `from` of the trace on.
  std::size_t StatusClears(u16 base, int family, std::size_t from = 0) const {
    const TFamilyRegisters& r = Registers(family);
    std::size_t count = 0;
    for (std::size_t i = from; i < Trace->Writes.size(); ++i) {
      const TWrite& w = Trace->Writes[i];
      if (w.Kind == TWrite::TKind::Port && w.Where == u64{base} + r.Status && w.Value == r.Clear) ++count;
    }
    return count;
  }
  // Index just past the last write of the address register; 0 when none.
  std::size_t AfterLastAddressWrite(u16 base, int family) const {
    std::size_t after = 0;
    for (std::size_t i = 0; i < Trace->Writes.size(); ++i) {
      const TWrite& w = Trace->Writes[i];
      if (w.Kind == TWrite::TKind::Port && w.Where == u64{base} + Registers(family).Address) after = i + 1;
    }
    return after;
  }
};

// --- Detection ---------------------------------------------------------------------

TEST_F(SMBusEngineTest, DetectsEachFamilyOnItsBoard) {
  for (int family = 0; family <= 18; ++family) {
    SCOPED_TRACE(BoardName(family));
    UseBoard(BoardName(family));
    if (family == 0) {
      EXPECT_FALSE(Engine->HasController());
      EXPECT_TRUE(Engine->Controller().Name.empty());
    } else {
      ASSERT_TRUE(Engine->HasController());
      EXPECT_EQ(Engine->Controller().Name, kFamilyNames[family]);
      // The engine's copy is the table's record.
      const TSMBusCfg& record = TSMBusConfig::Instance()->Families().at(kFamilyNames[family]);
      EXPECT_EQ(Engine->Controller().Detect, record.Detect);
      EXPECT_EQ(Engine->Controller().Restore, record.Restore);
      EXPECT_EQ(Engine->Controller().WaitWord, record.WaitWord);
      EXPECT_EQ(Engine->Controller().ErrorMask, record.ErrorMask);
      EXPECT_EQ(Engine->Controller().Spare, record.Spare);
    }
    // Detection only reads configuration space.
    EXPECT_TRUE(Trace->Writes.empty());
    EXPECT_EQ(Board->Requests(sim::TRequestKind::Port), 0u);
    EXPECT_EQ(Board->Requests(sim::TRequestKind::Memory), 0u);
    EXPECT_GT(Board->Requests(sim::TRequestKind::PciConfig), 0u);
  }
}

// With no family the engine holds a reset record: every text empty, every
// byte 0.
TEST_F(SMBusEngineTest, NoFamilyLeavesAResetRecord) {
  UseBoard("sim:0");
  const TSMBusCfg& none = Engine->Controller();
  for (const TText* text : {&none.Detect, &none.Init, &none.Base1, &none.Base2, &none.Ready, &none.SetAddress,
                            &none.WaitWord, &none.Restore, &none.GetWordLow}) {
    EXPECT_TRUE(text->empty());
  }
  EXPECT_EQ(none.ReadyValue, 0);
  EXPECT_EQ(none.ErrorMask, 0);
  EXPECT_EQ(none.Spare, 0);
  EXPECT_EQ(none.BlockStep, 0);
}

// A CK804 that reports the SMBus class, as the part ships, is claimed by the
// generic nVidia text, which comes first in key order.
TEST_F(SMBusEngineTest, GenericNvidiaFamilyShadowsTheCk804WithTheSMBusClass) {
  sim::TSMBusFamily shipped = sim::SMBusFamilies()[18];
  shipped.Bridge.ClassCode = 0x0C0500;
  sim::TBoardDescription description;
  sim::AttachSMBus(description, shipped, {});
  auto board = std::make_shared<sim::TSimBoard>(description);
  Context.emplace(TBoardSeams{.Transport = board, .Clock = &board->Clock()});
  TSMBus engine(testing::UniqueLockName());
  EXPECT_EQ(engine.Controller().Name, kFamilyNames[17]);
}

#ifndef _WIN32  // the Windows console is a window of its own, not standard error
// Whatever ran before in the process, a board session with the debug lines
// on shows them, and one with them off does not.
TEST_F(SMBusEngineTest, DetectionWritesTheFamilyToTheDebugConsole) {
  ::testing::internal::CaptureStderr();
  UseBoard("sim:5", {}, true);
  UseBoard("sim:0", {}, true);
  UseBoard("sim:2");
  const std::string lines = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(lines, "Detect SMBus Name ... [Intel SCH]\n");
}
#endif

// --- Transactions that work ---------------------------------------------------------

class SMBusStateFileTest : public SMBusEngineTest {
 protected:
  void SetUp() override {
    Path = ::testing::TempDir() + "smbus_engine_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::remove(Path.c_str());
  }
  void TearDown() override {
    SMBusEngineTest::TearDown();
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

// The word goes to the amplifier's register (seen in the slave state the bus
// keeps), and a new board on the same bus reads it back.
TEST_F(SMBusStateFileTest, WordWriteReachesTheAmplifierAndReadsBack) {
  for (int family = 1; family <= 18; ++family) {
    SCOPED_TRACE(BoardName(family));
    std::remove(Path.c_str());
    const u16 word = static_cast<u16>(0x0F01 * family ^ 0xA55A);
    UseBoard(BoardName(family), Path);
    EXPECT_TRUE(WriteWord(kAmplifier, kAmplifierCommand, word));
    EXPECT_EQ(SlaveState().AmplifierWord, word);
    EXPECT_EQ(SlaveState().Eeprom, sim::DefaultSlaveState().Eeprom);
    UseBoard(BoardName(family), Path);
    std::array<u8, 2> read{0xEE, 0xEE};
    EXPECT_TRUE(Engine->ReadWords(kAmplifier, read.data(), kAmplifierCommand, 1));
    EXPECT_EQ(read[0] | read[1] << 8, word);
  }
}

// The engine sets the read/write bit of the address byte itself.
TEST_F(SMBusEngineTest, AddressByteCarriesTheReadWriteBit) {
  struct Case {
    bool Read;
    u8 Given, Sent;
  };
  const Case cases[] = {{true, 0x4A, 0x4B}, {true, 0x4B, 0x4B}, {false, 0x4A, 0x4A}, {false, 0x4B, 0x4A}};
  for (int family = 1; family <= 18; ++family) {
    SCOPED_TRACE(BoardName(family));
    UseBoard(BoardName(family));
    const u16 address = static_cast<u16>(BasePort(Engine->Controller().Base1) + Registers(family).Address);
    for (const Case& c : cases) {
      ResetTrace();
      std::array<u8, 2> word{0x12, 0x34};
      const bool done = c.Read ? Engine->ReadWords(c.Given, word.data(), kAmplifierCommand, 1)
                               : Engine->WriteWords(c.Given, kAmplifierCommand, word.data(), 1);
      EXPECT_TRUE(done);
      EXPECT_EQ(Trace->PortWrites(address), std::vector<u32>{c.Sent}) << "given " << int{c.Given};
    }
  }
}

// Reads step the command per word, writes send every word to the one
// command: two words written to the amplifier both go to command 2 (it
// keeps the second), and two words read from the EEPROM at 5 (a word at
// command c is bytes c and c + 1) are bytes 5..6 and 6..7.
TEST_F(SMBusStateFileTest, ReadsStepTheCommandAndWritesDoNot) {
  const std::array<u8, 256> spd = sim::DefaultSlaveState().Eeprom;
  for (int family = 1; family <= 18; ++family) {
    SCOPED_TRACE(BoardName(family));
    std::remove(Path.c_str());
    UseBoard(BoardName(family), Path);
    const u16 command = static_cast<u16>(BasePort(Engine->Controller().Base1) + Registers(family).Command);
    ResetTrace();
    const std::array<u8, 4> words{0x12, 0x34, 0x56, 0x78};
    EXPECT_TRUE(Engine->WriteWords(amp::kAddress, amp::kCommand, words.data(), 2));
    EXPECT_EQ(Trace->PortWrites(command), (std::vector<u32>{amp::kCommand, amp::kCommand}));
    EXPECT_EQ(SlaveState().AmplifierWord, 0x7856);
    ResetTrace();
    std::array<u8, 6> read{};
    read.fill(0xEE);
    EXPECT_TRUE(Engine->ReadWords(kEeprom, read.data(), 5, 2));
    EXPECT_EQ(Trace->PortWrites(command), (std::vector<u32>{5, 6}));
    EXPECT_EQ(read, (std::array<u8, 6>{spd[5], spd[6], spd[6], spd[7], 0xEE, 0xEE}));
  }
}

// The bus is shared with the memory modules' EEPROMs: a word goes only to
// the amplifier, and nothing at all to the general call or to a DDR4
// module's page and write-protect addresses (8-bit 60h-6Fh), whose
// address phase alone acts. A refused transaction touches no register.
TEST_F(SMBusStateFileTest, TheBusRuleRefusesBeforeAnythingReachesTheController) {
  const struct {
    u8 Address;
    bool Read;
  } refused[] = {{0xA0, false}, {0xAE, false}, {0x00, false}, {0x6C, false}, {0x4C, false},
                 {0x00, true},  {0x60, true},  {0x62, true},  {0x6F, true}};
  for (int family : {2, 5, 7, 11, 16}) {
    SCOPED_TRACE(BoardName(family));
    std::remove(Path.c_str());
    UseBoard(BoardName(family), Path);
    ASSERT_TRUE(WriteWord(amp::kAddress, amp::kCommand, 0x1111));  // the state file now holds the slaves
    const sim::TSlaveState before = SlaveState();
    std::array<u8, 2> word{};
    for (const auto& c : refused) {
      SCOPED_TRACE(int{c.Address});
      ResetTrace();
      word = {0x12, 0x34};
      const bool done = c.Read ? Engine->ReadWords(c.Address, word.data(), 2, 1)
                               : Engine->WriteWords(c.Address, 2, word.data(), 1);
      EXPECT_FALSE(done);
      EXPECT_EQ(Engine->LastFailure(), TSMBusFailure::Forbidden);
      EXPECT_TRUE(Trace->Writes.empty());
    }
    EXPECT_EQ(SlaveState(), before);
    // Reads elsewhere, the EEPROM's included, and the amplifier's word still go.
    EXPECT_TRUE(Engine->ReadWords(kEeprom, word.data(), 0, 1));
    EXPECT_TRUE(WriteWord(amp::kAddress, amp::kCommand, 0x2828));
    EXPECT_EQ(SlaveState().AmplifierWord, 0x2828);
  }
  EXPECT_NE(std::string(FailureText(TSMBusFailure::Forbidden)).find("EEPROM"), std::string::npos);
}

// Past the engine, a script that runs a family's own texts by hand meets
// the driver: on every family's board the start of a word write to the
// EEPROM is refused there, and the EEPROM keeps its bytes, while the same
// texts write the amplifier's word.
TEST_F(SMBusStateFileTest, TheDriverRefusesAWordToTheEepromOnEveryFamily) {
  std::vector<std::string> refusals;
  SetRefusalReporter([&](u32, std::string_view reason) { refusals.emplace_back(reason); });
  for (int family = 1; family <= 18; ++family) {
    SCOPED_TRACE(BoardName(family));
    std::remove(Path.c_str());
    UseBoardThroughDriver(BoardName(family), Path);
    ASSERT_TRUE(Engine->HasController());
    const TSMBusCfg& texts = Engine->Controller();
    const auto writeWord = [&](u8 address, u16 word) {
      TInterpreter script;
      for (const TText* text : {&texts.Detect, &texts.Init, &texts.Base1}) script.RunScript(*text);
      script.RunScript(CompletePrefix(texts.SetAddress, address));
      script.RunScript(CompletePrefix(texts.SetCommand, amp::kCommand));
      script.RunScript(CompletePrefix(texts.SetWordLow, word & 0xFF));
      script.RunScript(CompletePrefix(texts.SetWordHigh, word >> 8));
      script.RunScript(texts.StartWordWrite);
      script.RunScript(texts.WaitWord);
      script.RunScript(texts.Restore);
    };
    writeWord(amp::kAddress, 0x2121);
    EXPECT_EQ(SlaveState().AmplifierWord, 0x2121);
    const sim::TSlaveState before = SlaveState();
    refusals.clear();
    writeWord(kEeprom, 0x0505);
    EXPECT_EQ(refusals, (std::vector<std::string>{PolicyVerdictText(kRefusedSMBusSlave)}));
    EXPECT_EQ(SlaveState(), before);
  }
  SetRefusalReporter(nullptr);
}

// --- Registers borrowed and given back ---------------------------------------------

// Configuration space of every function (raw, bypassing hiding), plus the
// ports and memory outside configuration space that the texts change.
struct TSnapshot {
  std::map<u32, std::vector<u32>> Config;
  std::vector<u32> Other;
  bool operator==(const TSnapshot&) const = default;
};

using TProbe = std::function<u32(sim::TSimBoard&)>;

TSnapshot Snapshot(sim::TSimBoard& board, const std::vector<TProbe>& probes) {
  TSnapshot snapshot;
  for (u32 bus = 0; bus < 4; ++bus) {
    for (u8 device = 0; device < 32; ++device) {
      for (u8 function = 0; function < 8; ++function) {
        const sim::TPciFunction* f = board.Function(static_cast<u8>(bus), device, function);
        if (f == nullptr) continue;
        std::vector<u32>& dwords = snapshot.Config[bus << 8 | device << 3 | function];
        for (u16 offset = 0; offset < sim::TPciFunction::kConfigSize; offset += 4) dwords.push_back(f->Peek(offset, 4));
      }
    }
  }
  for (const TProbe& probe : probes) snapshot.Other.push_back(probe(board));
  return snapshot;
}

// ICH: the TCO control bytes at PMBASE + 69h/6Ah that Init sets to halt the
// watchdog, and the auxiliary control register at SMBus base + 0Dh.
u16 IchPmBase(sim::TSimBoard& b) { return static_cast<u16>(b.Function(0, 0x1F, 0)->Peek(0x40, 2) & 0xFFF0); }
u16 I801Base(sim::TSimBoard& b) { return static_cast<u16>(b.Function(0, 0x1F, 3)->Peek(0x20, 2) & 0xFFE0); }
u32 Tco1High(sim::TSimBoard& b) { return b.InPort(IchPmBase(b) + 0x69, 1); }
u32 Tco2Control(sim::TSimBoard& b) { return b.InPort(IchPmBase(b) + 0x6A, 1); }
u32 AuxControl(sim::TSimBoard& b) { return b.InPort(I801Base(b) + 0x0D, 1); }
// ICH7-10: Function Disable in the root complex register block.
u64 FunctionDisableAddress(sim::TSimBoard& b) { return (b.Function(0, 0x1F, 0)->Peek(0xF0, 4) & 0xFFFFC000u) + 0x3418; }
u32 FunctionDisable(sim::TSimBoard& b) {
  u32 value = 0;
  b.ReadMemory(FunctionDisableAddress(b), &value, 4, kMemUnitDword);
  return value;
}

std::vector<TProbe> Probes(int family) {
  switch (family) {
    case 2: return {Tco1High, Tco2Control, AuxControl, FunctionDisable};
    case 3: return {Tco1High, Tco2Control, AuxControl};
    case 4: return {AuxControl};
    default: return {};
  }
}

// Firmware setups: as the simulated firmware leaves each board, and boards
// whose firmware left the controller hidden or its host interface off, or
// left registers in states the texts overwrite, so that a missing restore
// shows.
struct TFirmware {
  int Family;
  const char* What;
  std::function<void(sim::TSimBoard&)> Setup;
};

void WriteConfigByte(sim::TSimBoard& b, u8 device, u8 function, u16 offset, u8 value) {
  b.WritePciConfig(0, device, function, offset, 1, value);
}

std::vector<TFirmware> FirmwareSetups() {
  std::vector<TFirmware> setups;
  for (int family = 1; family <= 18; ++family) setups.push_back({family, "as built", [](sim::TSimBoard&) {}});
  setups.push_back({2, "32-byte buffer on, TCO2 alerts off, host off, SMBus hidden", [](sim::TSimBoard& b) {
                      b.OutPort(I801Base(b) + 0x0D, 1, 0x02);
                      b.OutPort(IchPmBase(b) + 0x6A, 1, 0x00);
                      WriteConfigByte(b, 0x1F, 3, 0x40, 0x00);
                      const u32 disable = FunctionDisable(b) | 0x08;
                      b.WriteMemory(FunctionDisableAddress(b), &disable, 4, kMemUnitDword);
                    }});
  setups.push_back({3, "32-byte buffer on, host off, SMBus hidden", [](sim::TSimBoard& b) {
                      b.OutPort(I801Base(b) + 0x0D, 1, 0x02);
                      WriteConfigByte(b, 0x1F, 3, 0x40, 0x00);
                      WriteConfigByte(b, 0x1F, 0, 0xF2, static_cast<u8>(b.Function(0, 0x1F, 0)->Peek(0xF2, 1) | 0x08));
                    }});
  setups.push_back({4, "host off", [](sim::TSimBoard& b) { WriteConfigByte(b, 0x1F, 3, 0x40, 0x00); }});
  setups.push_back({6, "host off", [](sim::TSimBoard& b) { WriteConfigByte(b, 0x0F, 0, 0xD2, 0x02); }});
  for (int via : {14, 15}) {
    setups.push_back({via, "host off", [](sim::TSimBoard& b) { WriteConfigByte(b, 0x11, 0, 0xD2, 0x00); }});
  }
  return setups;
}

TEST_F(SMBusEngineTest, TransactionsGiveBackEveryRegisterTheyChanged) {
  for (const TFirmware& firmware : FirmwareSetups()) {
    SCOPED_TRACE(BoardName(firmware.Family) + ", " + firmware.What);
    UseBoard(BoardName(firmware.Family));
    firmware.Setup(*Board);
    const std::vector<TProbe> probes = Probes(firmware.Family);
    const TSnapshot before = Snapshot(*Board, probes);
    const u16 word = static_cast<u16>(0x1357 + firmware.Family);
    EXPECT_TRUE(WriteWord(kAmplifier, kAmplifierCommand, word));
    EXPECT_EQ(Snapshot(*Board, probes), before) << "after the write";
    std::array<u8, 2> read{};
    EXPECT_TRUE(Engine->ReadWords(kAmplifier, read.data(), kAmplifierCommand, 1));
    EXPECT_EQ(read[0] | read[1] << 8, word);
    EXPECT_EQ(Snapshot(*Board, probes), before) << "after the read";
  }
}

// The texts really change these registers during a transaction (otherwise
// comparing them before and after proves nothing): between Init and
// Restore the watchdog is halted and the SMBus function shown.
TEST_F(SMBusEngineTest, RestoreWritesBackWhatInitChanged) {
  UseBoard("sim:2");
  const u32 disable = FunctionDisable(*Board) | 0x08;
  Board->WriteMemory(FunctionDisableAddress(*Board), &disable, 4, kMemUnitDword);
  const TSMBusCfg& ich = Engine->Controller();
  TInterpreter interpreter;
  for (const TText* text : {&ich.Detect, &ich.Init, &ich.Base1}) interpreter.RunScript(*text);
  EXPECT_EQ(Tco1High(*Board), 0x08u);
  EXPECT_EQ(FunctionDisable(*Board) & 0x08, 0u);
  interpreter.RunScript(ich.Restore);
  EXPECT_EQ(Tco1High(*Board), 0x00u);
  EXPECT_EQ(FunctionDisable(*Board), disable);
}

// The boards' firmware leaves each controller the way its Init text finds
// it before enabling it, so the simulated board catches a transaction that
// skips a step: without Init the word never reaches the amplifier, and
// without Restore the registers Init changed stay changed. The word write is
// run text by text in the engine's order, with the step left out.
class SMBusStepTest : public SMBusStateFileTest {
 protected:
  // Whether the word reached the amplifier.
  bool WriteSkipping(const TSMBusCfg& family, bool init, bool restore, u16 word) {
    TInterpreter interpreter;
    u32 result = 0;
    const auto run = [&](const TText& text) { interpreter.RunScript(text, result); };
    run(family.Detect);
    if (init) run(family.Init);
    run(family.Base1);
    run(family.Ready);
    run(CompletePrefix(family.SetAddress, kAmplifier));
    run(CompletePrefix(family.SetCommand, kAmplifierCommand));
    run(CompletePrefix(family.SetWordLow, word & 0xFF));
    run(CompletePrefix(family.SetWordHigh, word >> 8));
    run(family.StartWordWrite);
    run(family.WaitWord);
    run(family.Ready);
    if (restore) run(family.Restore);
    return SlaveState().AmplifierWord == word;
  }
};

TEST_F(SMBusStepTest, MissingInitFailsAndMissingRestoreShows) {
  const TSMBusConfig table;
  for (int family = 1; family <= 18; ++family) {
    SCOPED_TRACE(BoardName(family));
    const TSMBusCfg& texts = table.Families().at(kFamilyNames[family]);
    const u16 word = static_cast<u16>(0x2400 + family);
    std::remove(Path.c_str());
    UseBoard(BoardName(family), Path);
    const std::vector<TProbe> probes = Probes(family);
    const TSnapshot firmware = Snapshot(*Board, probes);
    // Every step: the word lands and the board is as firmware left it.
    EXPECT_TRUE(WriteSkipping(texts, true, true, word));
    EXPECT_EQ(Snapshot(*Board, probes), firmware);
    if (texts.Init.empty()) continue;  // nothing to enable or give back
    EXPECT_FALSE(WriteSkipping(texts, false, true, static_cast<u16>(word ^ 0xFFFF)));
    EXPECT_TRUE(WriteSkipping(texts, true, false, word));
    EXPECT_NE(Snapshot(*Board, probes), firmware);
  }
}

// SB800: configuration register 90h reads 0, so family 1's base text takes
// the base from the power-management registers in the AcpiMmio window;
// with their enable bit clear nothing decodes there and the transaction
// fails.
TEST_F(SMBusEngineTest, Sb800TakesTheMemoryMappedBase) {
  sim::TBoardDescription description;
  sim::AttachSMBus(description, sim::Sb800Family(), {});
  UseBoard(std::make_shared<sim::TSimBoard>(description));
  ASSERT_EQ(Engine->Controller().Name, kFamilyNames[1]);
  EXPECT_EQ(BasePort(Engine->Controller().Base1), 0x0B00);
  Board->ResetRequestCounts();
  EXPECT_TRUE(WriteWord(kAmplifier, kAmplifierCommand, 0x1B1B));
  EXPECT_GT(Board->Requests(sim::TRequestKind::Memory), 0u);
  std::array<u8, 2> read{};
  EXPECT_TRUE(Engine->ReadWords(kAmplifier, read.data(), kAmplifierCommand, 1));
  EXPECT_EQ(read, (std::array<u8, 2>{0x1B, 0x1B}));
  const u32 disabled = 0x0B00;
  Board->WriteMemory(0xFED8032C, &disabled, 2, kMemUnitWord);
  EXPECT_FALSE(WriteWord(kAmplifier, kAmplifierCommand, 0x2C2C));
  EXPECT_EQ(Engine->LastFailure(), TSMBusFailure::NeverFinished);
}

// ICH6: family 3's part that hides its SMBus function through Function
// Disable in the root complex. Shown, transactions work and give back what
// they changed; hidden, family 3's Init (which clears LPC config F2h bit 3,
// the older parts' switch) cannot show it, and the transaction fails with
// the board as it was.
TEST_F(SMBusEngineTest, Ich6HidesTheSMBusFunctionThroughTheRootComplex) {
  sim::TBoardDescription description;
  sim::AttachSMBus(description, sim::Ich6Family(), {});
  UseBoard(std::make_shared<sim::TSimBoard>(description));
  ASSERT_EQ(Engine->Controller().Name, kFamilyNames[3]);
  const std::vector<TProbe> probes = {Tco1High, Tco2Control, FunctionDisable};
  TSnapshot before = Snapshot(*Board, probes);
  EXPECT_TRUE(WriteWord(kAmplifier, kAmplifierCommand, 0x0606));
  EXPECT_EQ(Snapshot(*Board, probes), before);

  const u32 hidden = FunctionDisable(*Board) | 0x08;
  Board->WriteMemory(FunctionDisableAddress(*Board), &hidden, 4, kMemUnitDword);
  EXPECT_EQ(TReadWrite::Instance()->ReadPciDword(0, 0x1F, 3, 0), 0xFFFFFFFFu);
  before = Snapshot(*Board, probes);
  EXPECT_FALSE(WriteWord(kAmplifier, kAmplifierCommand, 0x0707));
  EXPECT_EQ(Snapshot(*Board, probes), before);
}

// --- Failure paths ---------------------------------------------------------------------

// Amplifier absent: the controller reports a device error on the first word.
// Stuck busy: most Ready texts never see the controller idle; where the texts
// cannot see it (TFamilyRegisters::ReadyMissesStuck) the word starts and its
// wait runs out, which fails the same way as a device error.
TEST_F(SMBusEngineTest, DeviceErrorAndStuckControllerFailAndRestore) {
  for (int family = 1; family <= 18; ++family) {
    for (const char* fault : {"+noamp", "+stuck"}) {
      for (bool read : {false, true}) {
        SCOPED_TRACE(BoardName(family, fault) + (read ? " read" : " write"));
        UseBoard(BoardName(family, fault));
        const bool stuck = fault[1] == 's';
        const u16 base = BasePort(Engine->Controller().Base1);
        const std::vector<TProbe> probes = Probes(family);
        const TSnapshot before = Snapshot(*Board, probes);
        ResetTrace();
        std::array<u8, 2> buffer{0xEE, 0xDD};
        const bool done = read ? Engine->ReadWords(kAmplifier, buffer.data(), kAmplifierCommand, 1)
                               : Engine->WriteWords(kAmplifier, kAmplifierCommand, buffer.data(), 1);
        EXPECT_EQ(Snapshot(*Board, probes), before);
        EXPECT_FALSE(done);
        EXPECT_EQ(buffer, (std::array<u8, 2>{0xEE, 0xDD}));
        const std::size_t afterAddress = AfterLastAddressWrite(base, family);
        if (stuck && family < 16 && !Registers(family).ReadyMissesStuck) {
          // Not ready at the first test: Restore, and no word started.
          EXPECT_EQ(afterAddress, 0u);
          EXPECT_GE(StatusClears(base, family), 0x8000u);
        } else {
          // Device error on the word: Ready after the error and Ready
          // before Restore.
          EXPECT_GT(afterAddress, 0u);
          EXPECT_EQ(StatusClears(base, family, afterAddress), 2 * Registers(family).ReadyPasses);
        }
      }
    }
  }
}

// count 0: the first Ready test, Ready and Restore, true; no word moves.
TEST_F(SMBusEngineTest, CountZeroRunsOnlyTheFrame) {
  for (int family = 1; family <= 18; ++family) {
    SCOPED_TRACE(BoardName(family));
    UseBoard(BoardName(family));
    const u16 base = BasePort(Engine->Controller().Base1);
    const std::vector<TProbe> probes = Probes(family);
    const TSnapshot before = Snapshot(*Board, probes);
    std::array<u8, 2> buffer{0xEE, 0xDD};
    for (bool read : {false, true}) {
      ResetTrace();
      const bool done = read ? Engine->ReadWords(kAmplifier, buffer.data(), kAmplifierCommand, 0)
                             : Engine->WriteWords(kAmplifier, kAmplifierCommand, buffer.data(), 0);
      EXPECT_TRUE(done);
      EXPECT_EQ(AfterLastAddressWrite(base, family), 0u);
      EXPECT_EQ(StatusClears(base, family), 2 * Registers(family).ReadyPasses);
      EXPECT_EQ(Snapshot(*Board, probes), before);
    }
    EXPECT_EQ(buffer, (std::array<u8, 2>{0xEE, 0xDD}));
  }
  // A stuck controller fails the first Ready test.
  UseBoard("sim:2+stuck");
  std::array<u8, 2> buffer{0xEE, 0xDD};
  EXPECT_FALSE(Engine->ReadWords(kAmplifier, buffer.data(), kAmplifierCommand, 0));
  EXPECT_FALSE(Engine->WriteWords(kAmplifier, kAmplifierCommand, buffer.data(), 0));
}

// The two-channel nVidia families read through the second channel when the
// first fails; a read that works on the first never touches the second.
TEST_F(SMBusEngineTest, ReadTriesTheSecondChannelAfterAFailure) {
  for (int family : {17, 18}) {
    for (const char* fault : {"", "+noamp"}) {
      SCOPED_TRACE(BoardName(family, fault));
      UseBoard(BoardName(family, fault));
      const u16 first = BasePort(Engine->Controller().Base1);
      const u16 second = BasePort(Engine->Controller().Base2);
      ASSERT_NE(first, second);
      ResetTrace();
      std::array<u8, 2> buffer{};
      const bool works = fault[0] == '\0';
      EXPECT_EQ(Engine->ReadWords(kAmplifier, buffer.data(), kAmplifierCommand, 1), works);
      EXPECT_EQ(Trace->PortWrites(first + 2), std::vector<u32>{0x4B});
      EXPECT_EQ(Trace->PortWrites(second + 2), works ? std::vector<u32>{} : std::vector<u32>{0x4B});
      // Writes go through the first channel only.
      ResetTrace();
      EXPECT_EQ(WriteWord(kAmplifier, kAmplifierCommand, 0x0101), works);
      EXPECT_TRUE(Trace->PortWrites(second + 2).empty());
    }
  }
}

TEST_F(SMBusEngineTest, NoFamilyMeansNoTransactionAndNoRequest) {
  UseBoard("sim:0");
  ResetTrace();
  std::array<u8, 2> buffer{0xEE, 0xDD};
  EXPECT_FALSE(Engine->ReadWords(kAmplifier, buffer.data(), kAmplifierCommand, 1));
  EXPECT_FALSE(Engine->WriteWords(kAmplifier, kAmplifierCommand, buffer.data(), 1));
  EXPECT_FALSE(Engine->WriteWords(kAmplifier, kAmplifierCommand, buffer.data(), 0));
  EXPECT_EQ(Board->TotalRequests(), 0u);
  EXPECT_EQ(buffer, (std::array<u8, 2>{0xEE, 0xDD}));
}

}  // namespace
}  // namespace lirrin
