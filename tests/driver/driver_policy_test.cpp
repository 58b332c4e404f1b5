// What the driver refuses: the primitives that public advisories on
// vulnerable I/O drivers show attackers using, each an ordinary failed
// request with its reason in the debug log; and the rules that keep the
// allowed registers where the board has them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fake_machine.h"

extern "C" {
#include "request.h"
}

namespace {

using TBytes = std::vector<uint8_t>;

void Put32(TBytes& buffer, size_t at, uint32_t value) { std::memcpy(buffer.data() + at, &value, 4); }
void Put64(TBytes& buffer, size_t at, uint64_t value) { std::memcpy(buffer.data() + at, &value, 8); }

TBytes Port(uint16_t port, uint32_t value = 0) {
  TBytes buffer(kPortRequestSize, 0x5C);
  Put32(buffer, kPortNumberField, port);
  Put32(buffer, kPortValueField, value);
  return buffer;
}

TBytes Config(uint8_t bus, uint8_t device, uint8_t function, uint16_t offset, uint32_t value = 0) {
  TBytes buffer(kConfigRequestSize, 0x5C);
  buffer[kConfigBusField] = bus;
  buffer[kConfigDeviceField] = device;
  buffer[kConfigFunctionField] = function;
  std::memcpy(buffer.data() + kConfigOffsetField, &offset, 2);
  Put32(buffer, kConfigValueField, value);
  return buffer;
}

TBytes Memory(uint64_t address, uint32_t length, uint32_t unit, uint64_t data) {
  TBytes buffer(kMemoryRequestSize, 0);
  Put64(buffer, kMemoryAddressField, address);
  Put32(buffer, kMemoryLengthField, length);
  Put32(buffer, kMemoryUnitField, unit);
  Put64(buffer, kMemoryDataField, data);
  return buffer;
}

TBytes Msr(uint32_t index, uint64_t value = 0) {
  TBytes buffer(kRegisterRequestSize, 0x5C);
  Put32(buffer, kRegisterEaxField, static_cast<uint32_t>(value));
  Put32(buffer, kRegisterEcxField, index);
  Put32(buffer, kRegisterEdxField, static_cast<uint32_t>(value >> 32));
  return buffer;
}

TBytes ControlRegister(uint32_t index, uint64_t value = 0) {
  TBytes buffer(kIndexedRequestSize, 0x5C);
  Put32(buffer, kIndexField, index);
  Put64(buffer, kIndexedValueField, value);
  return buffer;
}

constexpr uint32_t kRcba = 0x100000;
constexpr uint16_t kNforceBase = 0x5000;
// The ICH's host interface: address +4, host control (protocol and start) +2.
constexpr uint16_t kIchAddress = TFakeMachine::kSMBusBase + 4, kIchControl = TFakeMachine::kSMBusBase + 2;
// nVidia's: address +2, protocol +0, whose every write starts.
constexpr uint16_t kNforceAddress = kNforceBase + 2, kNforceProtocol = kNforceBase;
constexpr uint16_t kTco1High = TFakeMachine::kPmBase + 0x69, kTco2Low = TFakeMachine::kPmBase + 0x6A;
constexpr uint64_t kFunctionDisable = kRcba + 0x3418;

class DriverPolicy : public ::testing::Test {
 protected:
  // An ICH10 board as firmware leaves it, with its host bridge, graphics
  // and network functions, RAM below 640 KiB, and the Function Disable
  // register showing the SMBus function hidden (bit 3).
  void SetUp() override {
    gMachine = TFakeMachine{};
    Policy = TPolicyState{};
    gMachine.AddFunction(0, 0, 0, 0x2E208086, 0x060000);
    gMachine.AddFunction(1, 0, 0, 0x06401002, 0x030000);
    gMachine.AddFunction(2, 0, 0, 0x816810EC, 0x020000);
    gMachine.AddIch10(kRcba);
    // An nForce2 bridge and SMBus function beside it, its first controller at 5000h.
    gMachine.AddFunction(0, 1, 0, 0x008010DE, 0x060100, true);
    gMachine.AddFunction(0, 1, 1, 0x008410DE, 0x0C0500);
    gMachine.SetConfig(0, 1, 1, 0x04, 0x00000001);
    gMachine.SetConfig(0, 1, 1, 0x50, kNforceBase | 1);
    gMachine.RamRanges = {{0x1000, 0x9E000}};
    const uint32_t hidden = 0x00000008;
    std::memcpy(gMachine.PhysicalAt(kFunctionDisable), &hidden, 4);
  }
  void TearDown() override {
    EXPECT_EQ(gMachine.MappingMisuses, 0) << "a store through a read-only mapping, or a stray unmapping";
  }

  uint32_t Serve(uint32_t code, TBytes& buffer) {
    TDeviceRequest request{code, buffer.data(), static_cast<uint32_t>(buffer.size()),
                           static_cast<uint32_t>(buffer.size()), 0xDEADBEEF};
    const uint32_t status = ServeRequest(&request, kMode64, &Policy);
    Returned = request.Returned;
    return status;
  }

  // Whether the request went through to the machine.
  bool Served(uint32_t code, TBytes buffer) { return Serve(code, buffer) == NVK_STATUS_SUCCESS; }

  TPolicyState Policy{};
  uint32_t Returned = 0;
};

struct TAttack {
  const char* What;
  uint32_t Code;
  TBytes Buffer;
  TPolicyVerdict Reason;
  // A slave address latched in a controller before the request, as
  // (port, value); none when the port is 0.
  std::pair<uint16_t, uint8_t> Latched{};
};

TEST_F(DriverPolicy, AttackPrimitivesAreRefusedWithTheirReason) {
  const uint64_t user = gMachine.UserBase;
  const TAttack attacks[] = {
      {"reset control CF9h", kWritePort8, Port(0xCF9, 0x06), kRefusedProtectedPort},
      {"keyboard controller reset 64h", kWritePort8, Port(0x64, 0xFE), kRefusedProtectedPort},
      {"fast reset 92h", kWritePort8, Port(0x92, 0x01), kRefusedProtectedPort},
      {"SMI command B2h", kWritePort8, Port(0xB2, 0xF0), kRefusedProtectedPort},
      {"ATA command block 1F7h", kWritePort8, Port(0x1F7, 0xCA), kRefusedProtectedPort},
      {"ATA control 3F6h", kWritePort8, Port(0x3F6, 0x04), kRefusedProtectedPort},
      {"CMOS index 70h", kWritePort8, Port(0x70, 0x0F), kRefusedProtectedPort},
      {"DMA mode 0Bh", kWritePort8, Port(0x0B, 0x44), kRefusedProtectedPort},
      {"raw configuration address CF8h", kWritePort32, Port(0xCF8, 0x8000F8DC), kRefusedProtectedPort},
      {"raw configuration data CFCh", kReadPort32, Port(0xCFC), kRefusedProtectedPort},
      {"GPIO block 500h", kWritePort32, Port(0x500, 0xFFFFFFFF), kRefusedPortOutsideSMBus},
      {"ACPI PM1 control 804h", kWritePort16, Port(0x804, 0x3C00), kRefusedPortOutsideSMBus},
      {"word across the SMBus block's end", kReadPort16, Port(0x41F), kRefusedPortOutsideSMBus},
      {"BIOS_CNTL write enable", kWriteConfig8, Config(0, 0x1F, 0, 0xDC, 0x01), kRefusedConfigWrite},
      {"SMRAMC open", kWriteConfig8, Config(0, 0, 0, 0x9D, 0x4A), kRefusedConfigWrite},
      {"PAM write-enable", kWriteConfig8, Config(0, 0, 0, 0x90, 0x33), kRefusedConfigWrite},
      {"graphics BAR on bus 1", kWriteConfig32, Config(1, 0, 0, 0x10, 0xFEE00000), kRefusedConfigBus},
      {"network bus master on bus 2", kWriteConfig16, Config(2, 0, 0, 0x04, 0x0007), kRefusedConfigBus},
      {"PMBASE moved", kWriteConfig16, Config(0, 0x1F, 0, 0x40, 0x0CF1), kRefusedConfigWrite},
      {"SMBus bus master", kWriteConfig8, Config(0, 0x1F, 3, 0x04, 0x05), kRefusedConfigValue},
      {"SMBus base onto CF8h", kWriteConfig16, Config(0, 0x1F, 3, 0x20, 0x0CF1), kRefusedConfigValue},
      {"dword across its register", kReadConfig32, Config(0, 0x1F, 3, 0x3E), kRefusedUnalignedConfig},
      {"kernel memory read", kReadMemory, Memory(0x2000, 16, 0, user), kRefusedManagedMemory},
      {"TPM FIFO", kReadMemory, Memory(0xFED40024, 4, 2, user), kRefusedMemoryRead},
      {"TPM response buffer", kReadMemory, Memory(0xFED40080, 64, 0, user), kRefusedMemoryRead},
      {"GPU aperture onto RAM", kReadMemory, Memory(0xD0000000, 4096, 2, user), kRefusedMemoryRead},
      {"flash mirror", kReadMemory, Memory(0xFFF00000, 256, 0, user), kRefusedMemoryRead},
      {"video memory below the firmware area", kReadMemory, Memory(0xC0000, 16, 0, user), kRefusedMemoryRead},
      {"the firmware area and past its end", kReadMemory, Memory(0xFFFF0, 32, 0, user), kRefusedMemoryRead},
      {"kernel memory write", kWriteMemory, Memory(0x5000, 4, 2, user), kRefusedManagedMemory},
      {"local APIC ICR", kWriteMemory, Memory(0xFEE00300, 4, 2, user), kRefusedMemoryWrite},
      {"IOMMU root table", kWriteMemory, Memory(0xFED90020, 4, 2, user), kRefusedMemoryWrite},
      {"SPI controller", kWriteMemory, Memory(kRcba + 0x3804, 4, 2, user), kRefusedMemoryWrite},
      {"SATA disabled through Function Disable", kWriteMemory, Memory(kFunctionDisable, 4, 2, user),
       kRefusedMemoryWriteBits},
      {"GS_BASE", kWriteMsr, Msr(0xC0000101, 0xFFFFF80000000000), kRefusedMsrWrite},
      {"EFER", kWriteMsr, Msr(0xC0000080, 0x501), kRefusedMsrWrite},
      {"APIC_BASE", kWriteMsr, Msr(0x1B, 0xFEE00000), kRefusedMsrWrite},
      {"DS_AREA", kWriteMsr, Msr(0x600, 0x1000), kRefusedMsrWrite},
      {"RTIT_CTL", kWriteMsr, Msr(0x570, 1), kRefusedMsrWrite},
      {"MTRR base 0", kWriteMsr, Msr(0x200, 0x6), kRefusedMsrWrite},
      {"PAT", kWriteMsr, Msr(0x277, 0), kRefusedMsrWrite},
      {"SPEC_CTRL", kWriteMsr, Msr(0x48, 0), kRefusedMsrWrite},
      {"LSTAR write", kWriteMsr, Msr(0xC0000082, 0x1000), kRefusedMsrWrite},
      {"CR0 write", kWriteCr, ControlRegister(0, 0x80040033), kRefusedControlRegisterWrite},
      {"CR3 write", kWriteCr, ControlRegister(3, 0x1AD000), kRefusedControlRegisterWrite},
      {"CR4 write", kWriteCr, ControlRegister(4, 0x6F8), kRefusedControlRegisterWrite},
      {"CR8 write", kWriteCr, ControlRegister(8, 15), kRefusedControlRegisterWrite},
      {"CR3 read", kReadCr, ControlRegister(3), kRefusedControlRegisterRead},
      {"LSTAR read", kReadMsr, Msr(0xC0000082), kRefusedMsrRead},
      // The SMBus: memory modules' EEPROMs (8-bit A0h-AEh) are only read;
      // DDR4 page-select and write-protect addresses (60h-6Fh) and the
      // general call take nothing.
      {"ICH: SPD word write", kWritePort8, Port(kIchControl, 0x4C), kRefusedSMBusSlave, {kIchAddress, 0xA0}},
      {"ICH: SPD byte write", kWritePort8, Port(kIchControl, 0x48), kRefusedSMBusSlave, {kIchAddress, 0xA6}},
      {"ICH: SPD block write", kWritePort8, Port(kIchControl, 0x54), kRefusedSMBusSlave, {kIchAddress, 0xAE}},
      {"ICH: SPD quick write", kWritePort8, Port(kIchControl, 0x40), kRefusedSMBusSlave, {kIchAddress, 0xA2}},
      {"ICH: SPD process call", kWritePort8, Port(kIchControl, 0x50), kRefusedSMBusSlave, {kIchAddress, 0xA1}},
      {"ICH: DDR4 page select 36h", kWritePort8, Port(kIchControl, 0x40), kRefusedSMBusSlave, {kIchAddress, 0x6C}},
      {"ICH: DDR4 write protect 31h, read", kWritePort8, Port(kIchControl, 0x48), kRefusedSMBusSlave,
       {kIchAddress, 0x63}},
      {"ICH: general call", kWritePort8, Port(kIchControl, 0x4C), kRefusedSMBusSlave, {kIchAddress, 0x00}},
      {"ICH: address and start in one word", kWritePort16, Port(kIchControl, 0x024C), kRefusedWideStart,
       {kIchAddress, 0x4A}},
      {"ICH: start in a dword from the status port", kWritePort32, Port(TFakeMachine::kSMBusBase, 0xA0024C00),
       kRefusedWideStart, {kIchAddress, 0x4A}},
      {"nForce: SPD word write", kWritePort8, Port(kNforceProtocol, 0x08), kRefusedSMBusSlave, {kNforceAddress, 0xA0}},
      {"nForce: SPD block write with PEC", kWritePort8, Port(kNforceProtocol, 0x8A), kRefusedSMBusSlave,
       {kNforceAddress, 0xA4}},
      {"nForce: SPD process call", kWritePort8, Port(kNforceProtocol, 0x0C), kRefusedSMBusSlave,
       {kNforceAddress, 0xA0}},
      {"nForce: DDR4 write protect 34h, quick read", kWritePort8, Port(kNforceProtocol, 0x03), kRefusedSMBusSlave,
       {kNforceAddress, 0x68}},
      {"nForce: protocol and address in one word", kWritePort16, Port(kNforceProtocol, 0x4A09), kRefusedWideStart,
       {kNforceAddress, 0x4A}},
      // The TCO control bytes: the firmware left the timer halted (08h).
      {"TCO: NMI now", kWritePort8, Port(kTco1High, 0x09), kRefusedTcoValue},
      {"TCO: lock", kWritePort8, Port(kTco1High, 0x18), kRefusedTcoValue},
      {"TCO: watchdog started", kWritePort8, Port(kTco1High, 0x00), kRefusedTcoValue},
      {"TCO: both bytes at once", kWritePort16, Port(kTco1High, 0x0808), kRefusedTcoValue},
      {"TCO2: intruder and SMI bits", kWritePort8, Port(kTco2Low, 0x06), kRefusedTcoValue},
  };
  // Data for the memory writes: the Function Disable one would set SATA's
  // disable bit (2) besides clearing the SMBus one.
  const uint32_t data = 0x00000004;
  std::memcpy(gMachine.UserAt(user), &data, 4);
  gMachine.Msrs = {{0xC0000082, 0xFFFFF80012345678}};
  gMachine.Crs = {{0, 0x80050033}, {3, 0x1AD000}, {4, 0x3506F8}, {8, 0}};
  gMachine.PortValues[kTco1High] = 0x08;
  gMachine.PortValues[kTco2Low] = 0x00;
  const std::vector<uint8_t> physical = gMachine.Physical;
  for (const auto& attack : attacks) {
    SCOPED_TRACE(attack.What);
    if (attack.Latched.first != 0) gMachine.PortValues[attack.Latched.first] = attack.Latched.second;
    gMachine.Refusals.clear();
    gMachine.PortLog.clear();
    TBytes buffer = attack.Buffer;
    EXPECT_EQ(Serve(attack.Code, buffer), NVK_STATUS_ACCESS_DENIED);
    EXPECT_EQ(Returned, 0u);
    EXPECT_EQ(buffer, attack.Buffer);
    ASSERT_EQ(gMachine.Refusals.size(), 1u);
    EXPECT_EQ(gMachine.Refusals[0].Code, attack.Code);
    EXPECT_EQ(gMachine.Refusals[0].Reason, PolicyVerdictText(attack.Reason));
    // The driver may look at a controller's latched address, never write.
    for (const TPortAccess& access : gMachine.PortLog) EXPECT_FALSE(access.Out) << "a refused request wrote a port";
  }
  // Nothing was written anywhere: configuration space shows only reads,
  // memory is as it was.
  for (const TConfigCycle& cycle : gMachine.ConfigLog) EXPECT_FALSE(cycle.Write) << std::hex << cycle.Address;
  EXPECT_EQ(gMachine.Physical, physical);
  EXPECT_EQ(gMachine.Msrs.at(0xC0000082), 0xFFFFF80012345678u);
}

TEST_F(DriverPolicy, EveryReasonReadsDifferently) {
  std::vector<std::string> texts;
  for (int verdict = kRefusedProtectedPort; verdict < kPolicyVerdictEnd; ++verdict) {
    const std::string text = PolicyVerdictText(static_cast<TPolicyVerdict>(verdict));
    EXPECT_EQ(std::count(texts.begin(), texts.end(), text), 0) << text;
    texts.push_back(text);
  }
}

// The SMBus block is wherever the controller's BAR puts it at the time of
// the request, and nowhere else.
TEST_F(DriverPolicy, PortWindowsFollowTheBaseRegisters) {
  EXPECT_TRUE(Served(kReadPort8, Port(0x400)));
  EXPECT_TRUE(Served(kReadPort32, Port(0x41C)));
  EXPECT_FALSE(Served(kReadPort8, Port(0x420)));
  EXPECT_FALSE(Served(kReadPort8, Port(0x3FF)));
  // TCO1_CNT's high byte and TCO2_CNT's low byte above PMBASE, no more.
  EXPECT_TRUE(Served(kWritePort8, Port(0x869, 0x08)));
  EXPECT_TRUE(Served(kWritePort8, Port(0x86A, 0x08)));
  EXPECT_FALSE(Served(kWritePort8, Port(0x868, 0x08)));
  EXPECT_FALSE(Served(kWritePort16, Port(0x86A, 0x08)));

  gMachine.SetConfig(0, 0x1F, 3, 0x20, 0xF001);
  EXPECT_FALSE(Served(kReadPort8, Port(0x400)));
  EXPECT_TRUE(Served(kReadPort8, Port(0xF00D)));

  // A BAR that firmware pointed at the legacy ports makes no window at all.
  gMachine.SetConfig(0, 0x1F, 3, 0x20, 0x0061);
  EXPECT_FALSE(Served(kReadPort8, Port(0x64)));
  EXPECT_FALSE(Served(kReadPort8, Port(0x70)));
  // With the function gone (hidden again) nothing is left of the block.
  gMachine.SetConfig(0, 0x1F, 3, 0x20, 0x0401);
  gMachine.SetConfig(0, 0x1F, 3, 0x00, 0xFFFFFFFF);
  EXPECT_FALSE(Served(kReadPort8, Port(0x400)));
}

// What the controller texts start goes through: the amplifier's words,
// reads of any allowed slave (the EEPROM's type byte), host-control
// writes that start nothing, and the TCO bytes the texts write and put
// back.
TEST_F(DriverPolicy, TheProgramsOwnTransactionsStart) {
  const struct {
    const char* What;
    uint16_t AddressPort;
    uint8_t Address;
    uint16_t StartPort;
    uint8_t Start;
  } starts[] = {
      {"ICH: amplifier word write", kIchAddress, 0x4A, kIchControl, 0x4C},
      {"ICH: amplifier word read", kIchAddress, 0x4B, kIchControl, 0x4C},
      {"ICH: SPD word read", kIchAddress, 0xA1, kIchControl, 0x4C},
      {"ICH: protocol set, no start", kIchAddress, 0xA0, kIchControl, 0x0C},
      {"ICH: kill, no start", kIchAddress, 0xA0, kIchControl, 0x02},
      {"nForce: amplifier word write", kNforceAddress, 0x4A, kNforceProtocol, 0x08},
      {"nForce: SPD word read", kNforceAddress, 0xA0, kNforceProtocol, 0x09},
      {"nForce: SPD byte read with PEC", kNforceAddress, 0xA2, kNforceProtocol, 0x87},
  };
  for (const auto& start : starts) {
    SCOPED_TRACE(start.What);
    EXPECT_TRUE(Served(kWritePort8, Port(start.AddressPort, start.Address)));
    EXPECT_TRUE(Served(kWritePort8, Port(start.StartPort, start.Start)));
    EXPECT_EQ(gMachine.PortLog.back(), (TPortAccess{true, start.StartPort, 1, start.Start}));
  }
  gMachine.PortValues[kTco1High] = 0x02;  // as the firmware left it
  EXPECT_TRUE(Served(kWritePort8, Port(kTco1High, 0x08)));
  EXPECT_TRUE(Served(kWritePort8, Port(kTco1High, 0x02)));
  EXPECT_FALSE(Served(kWritePort8, Port(kTco1High, 0x00)));
  EXPECT_EQ(gMachine.Refusals.size(), 1u);
}

// A window is there only while the chipset decodes it: switching the
// function's I/O decode off closes it, and a BAR that names memory is no
// port base.
TEST_F(DriverPolicy, PortWindowsCloseWhenTheirDecodeIsOff) {
  EXPECT_TRUE(Served(kReadPort8, Port(0x400)));
  EXPECT_TRUE(Served(kWriteConfig8, Config(0, 0x1F, 3, 0x04, 0x00)));  // as a Restore may
  EXPECT_FALSE(Served(kReadPort8, Port(0x400)));
  EXPECT_FALSE(Served(kWritePort8, Port(kIchControl, 0x4C)));
  EXPECT_TRUE(Served(kWriteConfig8, Config(0, 0x1F, 3, 0x04, 0x01)));
  EXPECT_TRUE(Served(kReadPort8, Port(0x400)));
  gMachine.SetConfig(0, 0x1F, 3, 0x20, 0x0400);  // bit 0 clear: a memory BAR
  EXPECT_FALSE(Served(kReadPort8, Port(0x400)));
  EXPECT_TRUE(Served(kReadPort8, Port(kNforceBase)));
  gMachine.SetConfig(0, 1, 1, 0x04, 0x00000000);
  EXPECT_FALSE(Served(kReadPort8, Port(kNforceBase)));
}

// The SB800's base lives in its ACPI MMIO block at FED80300h + 2Ch, which
// only SB800 (revision 40h on) and Hudson have: an older part's dword
// there, a register block that reads all ones, or a disabled one open no
// ports.
TEST_F(DriverPolicy, TheMemoryMappedBaseOnlyOnTheChipsThatHaveIt) {
  gMachine = TFakeMachine{};
  gMachine.PhysicalBase = 0xFED80000;
  gMachine.Physical.assign(0x1000, 0);
  gMachine.AddFunction(0, 0x14, 0, 0x43851002, 0x0C0500);
  const auto pm2c = [](uint32_t value) { std::memcpy(gMachine.PhysicalAt(0xFED8032C), &value, 4); };
  const auto revision = [](uint8_t value) { gMachine.SetConfig(0, 0x14, 0, 0x08, 0x0C050000u | value); };
  const struct {
    uint8_t Revision;
    uint32_t Pm2c;
    bool Window;
  } cases[] = {
      {0x42, 0x00000B01, true},   // SB800, base B00h, enabled
      {0x42, 0x00000B00, false},  // disabled
      {0x42, 0xFFFFFFFF, false},  // nothing decodes the block
      {0x3A, 0x00000B01, false},  // SB600: no such register
  };
  for (const auto& c : cases) {
    Policy = TPolicyState{};
    revision(c.Revision);
    pm2c(c.Pm2c);
    EXPECT_EQ(Served(kReadPort8, Port(0xB00)), c.Window) << std::hex << int{c.Revision} << " " << c.Pm2c;
    EXPECT_FALSE(Served(kReadPort8, Port(0xFFF0)));
  }
}

// A bus 0 crowded with functions before the SMBus one (here 120 of them,
// as on a workstation board with many root ports and integrated devices)
// leaves none out: the SMBus block is still found.
TEST_F(DriverPolicy, EveryFunctionOfBusZeroIsKnown) {
  for (uint8_t device = 3; device < 18; ++device) {
    for (uint8_t function = 0; function < 8; ++function) {
      gMachine.AddFunction(0, device, function, 0x1E108086u + device, 0x060400, true);
    }
  }
  EXPECT_TRUE(Served(kReadPort8, Port(TFakeMachine::kSMBusBase)));
}

// Memory reads reach the firmware area, the tables its root pointer leads
// to (here in the area itself), the configuration window the MCFG table
// gives, and the device dwords the other rules name; nothing else.
TEST_F(DriverPolicy, MemoryReadsOnlyTheFirmwareAndWhatItNames) {
  gMachine.AddFirmwareTables(0x1C0000, 0);
  gMachine.EcamBase = 0x1C0000;
  const struct {
    uint64_t Address;
    uint32_t Length;
    bool Allowed;
  } reads[] = {
      {0xE0000, 0x20000, true},                // the firmware area, whole
      {0x1C0000 + 0xFB000, 4, true},           // configuration space of 00:1F.3 in bus 0's window
      {0x1C0000 + 0xFFFFC, 8, false},          // past the window's end
      {kFunctionDisable, 4, true},             // a dword the controller texts read
      {kFunctionDisable + 4, 4, false},        // the next one
      {0xFED8032C, 4, true},                   // the SB800's base dword, on any board
      {0xC8000, 4, false},                     // an option ROM
  };
  gMachine.User.assign(0x20000, 0);
  for (const auto& read : reads) {
    gMachine.Refusals.clear();
    Served(kReadMemory, Memory(read.Address, read.Length, 0, gMachine.UserBase));
    EXPECT_EQ(gMachine.Refusals.empty(), read.Allowed) << std::hex << read.Address << " " << read.Length;
  }
  EXPECT_TRUE(Served(kReadMemory, Memory(0xE0000, 0x20000, 0, gMachine.UserBase)));
}

// Where the firmware's MCFG table gives a configuration window, the
// driver's cycles go through it, one memory access each, which no other
// processor's cycle can split; without one, through the kernel's own
// configuration access.
TEST_F(DriverPolicy, ConfigurationCyclesGoThroughTheFirmwaresWindow) {
  const auto cycles = [&] {
    gMachine.ConfigLog.clear();
    EXPECT_TRUE(Served(kReadConfig32, Config(0, 0x1F, 3, 0x00)));
    EXPECT_TRUE(Served(kWriteConfig8, Config(0, 0x1F, 3, 0x40, 0x01)));
    return gMachine.ConfigLog;
  };
  for (const TConfigCycle& cycle : cycles()) EXPECT_NE(cycle.DataPort, 0) << std::hex << cycle.Address;

  gMachine.AddFirmwareTables(0xE0000000, 0);
  gMachine.EcamBase = 0xE0000000;
  Policy = TPolicyState{};
  const std::vector<TConfigCycle> windowed = cycles();
  ASSERT_FALSE(windowed.empty());
  for (const TConfigCycle& cycle : windowed) EXPECT_EQ(cycle.DataPort, 0) << std::hex << cycle.Address;
  EXPECT_EQ(windowed.back(), (TConfigCycle{0xE00FB040, 0, 1, true, 0x01}));
  EXPECT_EQ(gMachine.ConfigDword(0, 0x1F, 3, 0x40) & 0xFF, 0x01u);
}

// Init may give a base-less controller the default base and Restore puts
// the firmware's back; no other value reaches the register.
TEST_F(DriverPolicy, BaseRegistersTakeOnlyTheDefaultTheCurrentOrTheFirmwaresBase) {
  const struct {
    uint16_t Value;
    bool Allowed;
  } writes[] = {
      {0x0401, true},   // unchanged
      {0x0C01, true},   // the default base
      {0x0000, true},   // off
      {0x0401, true},   // the firmware's again, though not current
      {0x0801, false},  // onto PMBASE
      {0x0CF9, false},
      {0xFFE1, false},
  };
  for (const auto& write : writes) {
    EXPECT_EQ(Served(kWriteConfig16, Config(0, 0x1F, 3, 0x20, write.Value)), write.Allowed) << std::hex << write.Value;
    if (write.Allowed) {
      EXPECT_EQ(gMachine.ConfigDword(0, 0x1F, 3, 0x20) & 0xFFFF, write.Value);
    }
  }
  EXPECT_EQ(gMachine.ConfigDword(0, 0x1F, 3, 0x20) & 0xFFFF, 0x0401u);
}

TEST_F(DriverPolicy, SharedRegistersChangeOnlyTheirSMBusBits) {
  // ICH10's Function Disable: bit 3 (SMBus) flips; SATA's bit 2 does not.
  const auto write = [&](uint32_t value) {
    std::memcpy(gMachine.UserAt(gMachine.UserBase), &value, 4);
    return Served(kWriteMemory, Memory(kFunctionDisable, 4, 2, gMachine.UserBase));
  };
  EXPECT_TRUE(write(0x00000000));
  EXPECT_TRUE(write(0x00000008));
  EXPECT_FALSE(write(0x0000000C));
  EXPECT_FALSE(Served(kWriteMemory, Memory(kFunctionDisable, 2, 1, gMachine.UserBase)));
  EXPECT_FALSE(Served(kWriteMemory, Memory(kFunctionDisable + 4, 4, 2, gMachine.UserBase)));

  // ICH4's LPC function-disable byte F2h works the same way.
  gMachine.AddFunction(0, 0x1F, 0, 0x24C08086, 0x060100, true);
  gMachine.SetConfig(0, 0x1F, 0, 0xF0, 0x00080000);
  EXPECT_TRUE(Served(kWriteConfig8, Config(0, 0x1F, 0, 0xF2, 0x00)));
  EXPECT_FALSE(Served(kWriteConfig8, Config(0, 0x1F, 0, 0xF2, 0x01)));
  EXPECT_TRUE(Served(kWriteConfig8, Config(0, 0x1F, 0, 0xF2, 0x08)));
}

TEST_F(DriverPolicy, ConfigurationReadsAreServedAlignedAnywhere) {
  EXPECT_TRUE(Served(kReadConfig32, Config(0, 0, 0, 0x00)));
  EXPECT_TRUE(Served(kReadConfig16, Config(1, 0, 0, 0x02)));
  EXPECT_TRUE(Served(kReadConfig8, Config(9, 31, 7, 0xFFF)));
  EXPECT_FALSE(Served(kReadConfig16, Config(0, 0, 0, 0x01)));
  EXPECT_FALSE(Served(kReadConfig32, Config(0, 0, 0, 0xFE)));
}

TEST_F(DriverPolicy, OnlyHarmlessProcessorRegistersAreRead) {
  gMachine.Msrs = {{0x10, 1}, {0x19C, 0x88370000}, {0x1A2, 0x00640000}, {0x1B, 0xFEE00900}, {0xC0000100, 7}};
  EXPECT_TRUE(Served(kReadMsr, Msr(0x19C)));
  EXPECT_TRUE(Served(kReadMsr, Msr(0x1A2)));
  EXPECT_FALSE(Served(kReadMsr, Msr(0x1B)));
  EXPECT_FALSE(Served(kReadMsr, Msr(0xC0000100)));
  gMachine.Crs = {{0, 0x80050033}, {2, 0xFFFFF80000001000}, {4, 0x3506F8}};
  EXPECT_TRUE(Served(kReadCr, ControlRegister(0)));
  EXPECT_TRUE(Served(kReadCr, ControlRegister(4)));
  EXPECT_FALSE(Served(kReadCr, ControlRegister(2)));
}

}  // namespace
