// The SMBus controller models of every simulated board, driven through
// register accesses the way Linux's drivers drive the silicon
// (i2c-piix4.c, i2c-i801.c, i2c-isch.c, i2c-sis96x.c, i2c-ali1563.c,
// i2c-viapro.c, i2c-nforce2.c). The drivers here are written from the
// drivers' documented sequences, independently of the models.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "hw/read_write.h"
#include "sim/boards.h"
#include "sim/smbus/bus.h"

namespace lirrin {
namespace {

enum class TKind { Intel, Sch, Sis, Uli, Nforce };

// Where Linux finds a family's controller and how it reaches its base.
struct TFamilyCase {
  int Family;
  TKind Kind;
  u8 Device, Function;  // the function carrying the base register
  u32 Id;
  u16 BaseRegister, BaseMask, BaseAdd;
  u8 DataOffset;  // data low byte; high byte follows
};

const TFamilyCase kFamilies[] = {
    {0, TKind::Intel, 0x07, 3, 0x71138086, 0x90, 0xFFF0, 0, 5},
    {1, TKind::Intel, 0x14, 0, 0x43851002, 0x90, 0xFFF0, 0, 5},
    {2, TKind::Intel, 0x1F, 3, 0x3A308086, 0x20, 0xFFE0, 0, 5},
    {3, TKind::Intel, 0x1F, 3, 0x24C38086, 0x20, 0xFFE0, 0, 5},
    {4, TKind::Intel, 0x1F, 3, 0x1C228086, 0x20, 0xFFE0, 0, 5},
    {5, TKind::Sch, 0x1F, 0, 0x81198086, 0x40, 0xFFC0, 0, 6},
    {6, TKind::Intel, 0x0F, 0, 0x02001166, 0x90, 0xFFF0, 0, 5},
    {7, TKind::Sis, 0x02, 1, 0x00161039, 0x20, 0xFFE0, 0, 8},
    {8, TKind::Sis, 0x02, 0, 0x09641039, 0x74, 0xFFFF, 0xE0, 8},
    {9, TKind::Sis, 0x02, 0, 0x09661039, 0x74, 0xFFFF, 0xD0, 8},
    {10, TKind::Sis, 0x02, 0, 0x09681039, 0x9A, 0xFF00, 0, 0x10},
    {11, TKind::Uli, 0x02, 0, 0x156310B9, 0x80, 0xFFF0, 0, 5},
    {12, TKind::Uli, 0x02, 0, 0x157310B9, 0x80, 0xFFF0, 0, 5},
    {13, TKind::Uli, 0x02, 0, 0x157510B9, 0x80, 0xFFF0, 0, 5},
    {14, TKind::Intel, 0x11, 0, 0x32271106, 0xD0, 0xFFF0, 0, 5},
    {15, TKind::Intel, 0x11, 0, 0x84101106, 0xD0, 0xFFF0, 0, 5},
    {16, TKind::Nforce, 0x01, 1, 0x008410DE, 0x50, 0xFFFC, 0, 4},
    {17, TKind::Nforce, 0x01, 1, 0x036810DE, 0x20, 0xFFFC, 0, 4},
    {18, TKind::Nforce, 0x01, 1, 0x005210DE, 0x50, 0xFFFC, 0, 4},
};

std::string Label(const TFamilyCase& c) { return "sim:" + std::to_string(c.Family); }

constexpr u8 kAmplifier = 0x25, kEeprom = 0x50;

struct TResult {
  bool Ok = false;
  u8 Status = 0;  // the status register when the driver stopped polling
  u16 Word = 0;
};

// One controller as its Linux driver drives it, polled mode.
class TDriver {
 public:
  TDriver(TReadWrite& io, const TFamilyCase& family, u16 base) : Io(io), Family(family), Base(base) {}

  TResult Word(u8 address, bool read, u8 command, u16 word = 0) { return Run(address, read, command, word, true); }
  TResult Byte(u8 address, bool read, u8 command, u8 byte = 0) { return Run(address, read, command, byte, false); }

  // Starts a word read without waiting: for tests of the polling behaviour.
  void StartWordRead(u8 address, u8 command) {
    Setup(address, true, command, 0, true);
    Start(true);
  }
  // Starts a word write without waiting (nForce: the protocol write starts it).
  void StartWordWrite(u8 address, u8 command, u16 word) {
    Setup(address, false, command, word, true);
    if (Family.Kind == TKind::Nforce) {
      Out(0, 0x08);
    } else {
      Start(true);
    }
  }

  u8 In(u8 offset) { return Io.InByte(static_cast<u16>(Base + offset)); }
  void Out(u8 offset, u8 value) { Io.OutByte(static_cast<u16>(Base + offset), value); }

  // The status register and the bit that reports success.
  u8 StatusOffset() const { return Family.Kind == TKind::Sch || Family.Kind == TKind::Nforce ? 1 : 0; }
  u8 DoneBit() const {
    switch (Family.Kind) {
      case TKind::Sch: return 0x01;
      case TKind::Sis: return 0x08;
      case TKind::Nforce: return 0x80;
      default: return 0x02;
    }
  }
  // Whether the controller reports itself busy.
  bool Busy() {
    switch (Family.Kind) {
      case TKind::Sch: return (In(1) & 0x08) != 0;
      case TKind::Sis: return (In(2) & 0x03) != 0;
      case TKind::Nforce: return In(1) == 0;  // no busy bit: status reads 0 until done
      default: return (In(0) & 0x01) != 0;
    }
  }

 private:
  void Setup(u8 address, bool read, u8 command, u16 data, bool word) {
    const u8 addressByte = static_cast<u8>(address << 1 | (read ? 1 : 0));
    switch (Family.Kind) {
      case TKind::Intel:  // i2c-piix4.c
        Out(4, addressByte);
        Out(3, command);
        Out(5, static_cast<u8>(data));
        Out(6, static_cast<u8>(data >> 8));
        Out(2, word ? 0x0C : 0x08);
        if (In(0) != 0) Out(0, In(0));
        break;
      case TKind::Sch:  // i2c-isch.c
        Out(4, addressByte);
        Out(5, command);
        Out(6, static_cast<u8>(data));
        Out(7, static_cast<u8>(data >> 8));
        Out(0, static_cast<u8>((In(0) & 0xB0) | (word ? 3 : 2)));
        if (const u8 t = In(1) & 0x0F) Out(1, t);
        break;
      case TKind::Sis:  // i2c-sis96x.c
        Out(4, addressByte);
        Out(5, command);
        Out(Family.DataOffset, static_cast<u8>(data));
        Out(static_cast<u8>(Family.DataOffset + 1), static_cast<u8>(data >> 8));
        Out(2, 0x20);
        Out(0, In(0) & 0x1E);
        break;
      case TKind::Uli:  // i2c-ali1563.c
        Out(0, 0xFF);
        Out(4, addressByte);
        Out(2, static_cast<u8>((In(2) & ~0x38) | (word ? 3 : 2) << 3));
        Out(3, command);
        Out(5, static_cast<u8>(data));
        Out(6, static_cast<u8>(data >> 8));
        break;
      case TKind::Nforce:  // i2c-nforce2.c
        Out(3, command);
        Out(4, static_cast<u8>(data));
        Out(5, static_cast<u8>(data >> 8));
        Out(2, static_cast<u8>(address << 1));
        break;
    }
  }

  void Start(bool word) {
    switch (Family.Kind) {
      case TKind::Intel: Out(2, In(2) | 0x40); break;
      case TKind::Sch: Out(0, In(0) | 0x10); break;
      case TKind::Sis: Out(3, word ? 0x13 : 0x12); break;
      case TKind::Uli: Out(2, In(2) | 0x40); break;
      case TKind::Nforce: break;  // started with the protocol register, see Run
    }
  }

  TResult Run(u8 address, bool read, u8 command, u16 data, bool word) {
    Setup(address, read, command, data, word);
    if (Family.Kind == TKind::Nforce) {
      Out(0, static_cast<u8>((word ? 8 : 6) | (read ? 1 : 0)));
    } else {
      Start(word);
    }
    TResult result;
    for (int tries = 0; tries < 500; ++tries) {
      result.Status = In(StatusOffset());
      const bool finished = Family.Kind == TKind::Sis      ? (result.Status & 0x0E) != 0
                            : Family.Kind == TKind::Nforce ? result.Status != 0
                            : Family.Kind == TKind::Sch    ? (result.Status & 0x08) == 0
                                                           : (result.Status & 0x01) == 0;
      if (finished) break;
    }
    switch (Family.Kind) {
      case TKind::Intel:
      case TKind::Uli: result.Ok = (result.Status & 0x01) == 0 && (result.Status & 0x1C) == 0; break;
      case TKind::Sch: result.Ok = (result.Status & 0x0F) == 0x01; break;
      case TKind::Sis: result.Ok = (result.Status & 0x0E) == 0x08; break;
      case TKind::Nforce: result.Ok = (result.Status & 0x80) != 0 && (result.Status & 0x1F) == 0; break;
    }
    if (result.Ok && read) result.Word = static_cast<u16>(In(Family.DataOffset) | In(Family.DataOffset + 1) << 8);
    return result;
  }

  TReadWrite& Io;
  const TFamilyCase& Family;
  u16 Base;
};

class SMBusHostTest : public ::testing::Test {
 protected:
  // Builds the family's board and finds its controller as the driver does.
  TDriver Open(const TFamilyCase& family, const std::string& flags = {}, const std::string& stateFile = {}) {
    std::string error;
    Board = sim::MakeBoard(Label(family) + flags, stateFile, error);
    EXPECT_TRUE(Board) << error;
    Io = std::make_unique<TReadWrite>(Board);
    Enable(family);
    EXPECT_EQ(Io->ReadPciDword(0, family.Device, family.Function, 0x00), family.Id) << Label(family);
    const u16 base = static_cast<u16>(
        (Io->ReadPciWord(0, family.Device, family.Function, family.BaseRegister) & family.BaseMask) + family.BaseAdd);
    EXPECT_NE(base, 0) << Label(family);
    return TDriver(*Io, family, base);
  }

  std::shared_ptr<sim::TSimBoard> Board;
  std::unique_ptr<TReadWrite> Io;

 private:
  void SetPciBits(u8 device, u8 function, u16 offset, u8 bits) {
    Io->WritePciByte(0, device, function, offset, Io->ReadPciByte(0, device, function, offset) | bits);
  }

  // The firmware of these boards leaves the controller off; each driver (or
  // its "force" path, or the firmware setup it expects) turns it on.
  void Enable(const TFamilyCase& family) {
    switch (family.Family) {
      case 2:
      case 3:
      case 4: {
        // i801_probe: HOSTC = (HOSTC & ~I2C_EN) | HST_EN.
        const u8 hostc = Io->ReadPciByte(0, 0x1F, 3, 0x40);
        Io->WritePciByte(0, 0x1F, 3, 0x40, static_cast<u8>((hostc & ~0x04) | 0x01));
        break;
      }
      case 5: Io->WritePciDword(0, 0x1F, 0, 0x40, 0x80001040); break;  // lpc_sch: SMBASE with decode on
      case 6: SetPciBits(0x0F, 0, 0xD2, 0x01); break;                   // piix4 force: host enable
      case 7:
        // quirk_sis_96x_smbus: firmware hides the SMBus function; unhide it
        // and give it I/O space, as the PCI core then does.
        Io->WritePciByte(0, 2, 0, 0x77, Io->ReadPciByte(0, 2, 0, 0x77) & ~0x10);
        Io->WritePciWord(0, 2, 1, 0x20, 0x0C00);
        Io->WritePciWord(0, 2, 1, 0x04, 0x0001);
        break;
      case 8:
      case 9: SetPciBits(2, 0, 0x76, 0x03); break;   // host enable [unverified]
      case 10: SetPciBits(2, 0, 0x9A, 0x03); break;  // decode enable [unverified]
      case 11:
      case 12:
      case 13: Io->WritePciWord(0, 2, 0, 0x80, 0x0E03); break;  // base with I/O and host enable
      case 14:
      case 15: SetPciBits(0x11, 0, 0xD2, 0x01); break;  // viapro force: host enable
      default: break;
    }
  }
};

TEST_F(SMBusHostTest, WordWriteThenReadReachesTheAmplifierOnEveryFamily) {
  for (const TFamilyCase& family : kFamilies) {
    TDriver driver = Open(family);
    for (const u16 word : {u16{0x2828}, static_cast<u16>(0xA500 | family.Family)}) {
      EXPECT_TRUE(driver.Word(kAmplifier, false, 2, word).Ok) << Label(family);
      const TResult read = driver.Word(kAmplifier, true, 2);
      EXPECT_TRUE(read.Ok) << Label(family);
      EXPECT_EQ(read.Word, word) << Label(family);
    }
    // Low byte first on the wire: a byte read of the register gives the low byte.
    const TResult low = driver.Byte(kAmplifier, true, 2);
    EXPECT_TRUE(low.Ok) << Label(family);
    EXPECT_EQ(low.Word & 0xFF, family.Family) << Label(family);
  }
}

TEST_F(SMBusHostTest, EepromWordWriteStoresTwoBytes) {
  for (const TFamilyCase& family : kFamilies) {
    TDriver driver = Open(family);
    const TResult before = driver.Byte(kEeprom, true, 0x42);
    ASSERT_TRUE(driver.Word(kEeprom, false, 0x40, 0xBEEF).Ok) << Label(family);
    const TResult low = driver.Byte(kEeprom, true, 0x40);
    const TResult high = driver.Byte(kEeprom, true, 0x41);
    const TResult after = driver.Byte(kEeprom, true, 0x42);
    EXPECT_TRUE(low.Ok && high.Ok && after.Ok) << Label(family);
    EXPECT_EQ(low.Word & 0xFF, 0xEF) << Label(family);
    EXPECT_EQ(high.Word & 0xFF, 0xBE) << Label(family);
    EXPECT_EQ(after.Word, before.Word) << Label(family);
    // The EEPROM carries an SPD header: byte 2 is the memory type (DDR2).
    EXPECT_EQ(driver.Byte(kEeprom, true, 2).Word, 0x08) << Label(family);
  }
}

TEST_F(SMBusHostTest, AbsentAmplifierGivesTheFamilysDeviceError) {
  for (const TFamilyCase& family : kFamilies) {
    TDriver driver = Open(family, "+noamp");
    const TResult write = driver.Word(kAmplifier, false, 2, 0x1234);
    const TResult read = driver.Word(kAmplifier, true, 2);
    for (const TResult& result : {write, read}) {
      EXPECT_FALSE(result.Ok) << Label(family);
      switch (family.Kind) {
        case TKind::Intel:
        case TKind::Uli: EXPECT_EQ(result.Status & 0x1F, 0x04) << Label(family); break;  // DEV_ERR, no INTR
        case TKind::Sch: EXPECT_EQ(result.Status & 0x0F, 0x02) << Label(family); break;
        case TKind::Sis: EXPECT_EQ(result.Status & 0x0E, 0x02) << Label(family); break;
        case TKind::Nforce: EXPECT_EQ(result.Status, 0x90) << Label(family); break;  // done | address NACK
      }
    }
    // The bus itself still works: the EEPROM answers.
    EXPECT_TRUE(driver.Byte(kEeprom, true, 0).Ok) << Label(family);
    // A command the amplifier does not decode is not acknowledged either.
    TDriver present = Open(family);
    EXPECT_FALSE(present.Word(kAmplifier, true, 3).Ok) << Label(family);
  }
}

TEST_F(SMBusHostTest, StuckControllerNeverBecomesIdleAndMovesNoBytes) {
  const std::string state = ::testing::TempDir() + "smbus_stuck_state";
  for (const TFamilyCase& family : kFamilies) {
    std::remove(state.c_str());
    TDriver stuck = Open(family, "+stuck", state);
    const TResult result = stuck.Word(kEeprom, false, 0x10, 0x5555);
    EXPECT_FALSE(result.Ok) << Label(family);
    EXPECT_EQ(result.Status & stuck.DoneBit(), 0) << Label(family);
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(stuck.Busy()) << Label(family) << " poll " << i;
    // The same bus seen through a working controller: nothing was written.
    TDriver working = Open(family, "", state);
    EXPECT_EQ(working.Word(kEeprom, true, 0x10).Word, 0x0000) << Label(family);
  }
  std::remove(state.c_str());
}

u16 AmplifierWordIn(const std::string& stateFile) {
  std::ifstream file(stateFile);
  std::stringstream text;
  text << file.rdbuf();
  return sim::ParseSlaveState(text.str()).value_or(sim::DefaultSlaveState()).AmplifierWord;
}

// The word moves on the bus when the controller reports the transaction
// complete, not when the start bit is written.
TEST_F(SMBusHostTest, AWriteLandsWhenTheControllerReportsCompletion) {
  const std::string state = ::testing::TempDir() + "smbus_completion_state";
  for (const TFamilyCase& family : kFamilies) {
    std::remove(state.c_str());
    TDriver driver = Open(family, "", state);
    const u16 word = static_cast<u16>(0x5A00 | family.Family);
    driver.StartWordWrite(kAmplifier, 2, word);
    EXPECT_EQ(AmplifierWordIn(state), sim::DefaultSlaveState().AmplifierWord) << Label(family) << ": at start";
    EXPECT_TRUE(driver.Busy()) << Label(family);
    EXPECT_FALSE(driver.Busy()) << Label(family);
    EXPECT_EQ(AmplifierWordIn(state), word) << Label(family) << ": at completion";
  }
  std::remove(state.c_str());
}

// nForce: the address byte goes on the wire with its own read/write bit. The
// driver writes it with bit 0 clear and lets the protocol choose; an address
// that asks for a read under a write protocol is a device error, and nothing
// is written.
TEST_F(SMBusHostTest, NforceAddressReadBitUnderAWriteProtocolWritesNothing) {
  const std::string state = ::testing::TempDir() + "smbus_nforce_rw_state";
  for (const TFamilyCase& family : kFamilies) {
    if (family.Kind != TKind::Nforce) continue;
    std::remove(state.c_str());
    TDriver driver = Open(family, "", state);
    ASSERT_TRUE(driver.Word(kAmplifier, false, 2, 0x1111).Ok) << Label(family);
    driver.Out(3, 2);
    driver.Out(4, 0x22);
    driver.Out(5, 0x22);
    driver.Out(2, kAmplifier << 1 | 1);
    driver.Out(0, 0x08);  // write word
    u8 status = 0;
    for (int i = 0; i < 10 && status == 0; ++i) status = driver.In(1);
    EXPECT_EQ(status, 0x91) << Label(family);  // done | device error
    EXPECT_EQ(AmplifierWordIn(state), 0x1111) << Label(family);
    // The same address byte under the read protocol reads.
    driver.Out(0, 0x09);
    status = 0;
    for (int i = 0; i < 10 && status == 0; ++i) status = driver.In(1);
    EXPECT_EQ(status, 0x80) << Label(family);
    EXPECT_EQ(driver.In(4) | driver.In(5) << 8, 0x1111) << Label(family);
  }
  std::remove(state.c_str());
}

TEST_F(SMBusHostTest, StatusBitsClearOnlyWhenWrittenWithOne) {
  for (const TFamilyCase& family : kFamilies) {
    TDriver driver = Open(family);
    ASSERT_TRUE(driver.Word(kAmplifier, true, 2).Ok) << Label(family);
    const u8 at = driver.StatusOffset();
    const u8 done = driver.DoneBit();
    driver.Out(at, 0x00);
    EXPECT_EQ(driver.In(at) & done, done) << Label(family) << ": writing 0 cleared it";
    driver.Out(at, static_cast<u8>(~done));
    EXPECT_EQ(driver.In(at) & done, done) << Label(family) << ": writing other bits cleared it";
    driver.Out(at, done);
    EXPECT_EQ(driver.In(at), 0) << Label(family);
  }
}

// QEMU pm_smbus.c: the first status read after START reports busy, later
// reads the outcome; the data registers hold the word once it completed.
TEST_F(SMBusHostTest, FirstStatusReadAfterStartSeesTheControllerBusy) {
  for (const TFamilyCase& family : kFamilies) {
    TDriver driver = Open(family);
    ASSERT_TRUE(driver.Word(kAmplifier, false, 2, 0x3C3C).Ok) << Label(family);
    if (family.Kind != TKind::Nforce) driver.Out(driver.StatusOffset(), 0xFF);
    driver.StartWordRead(kAmplifier, 2);
    if (family.Kind == TKind::Nforce) driver.Out(0, 0x09);
    EXPECT_TRUE(driver.Busy()) << Label(family);
    EXPECT_FALSE(driver.Busy()) << Label(family);
    EXPECT_EQ(driver.In(driver.StatusOffset()) & driver.DoneBit(), driver.DoneBit()) << Label(family);
    EXPECT_EQ(driver.In(family.DataOffset) | driver.In(family.DataOffset + 1) << 8, 0x3C3C) << Label(family);
  }
}

}  // namespace
}  // namespace lirrin
