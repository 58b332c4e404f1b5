// The SMBus side of each simulated board, one entry per controller family.
// PCI identities are ones the families' detection recognises and that
// Linux's drivers (i2c-piix4.c, i2c-i801.c, i2c-isch.c, i2c-sis96x.c,
// i2c-sis630.c, i2c-ali1563.c, i2c-viapro.c, i2c-nforce2.c) map to the
// modelled silicon; register values are those firmware leaves behind.
// Entries marked [unverified] have no driver or datasheet behind them: their
// location and layout follow this product's controller table alone.
//
// Where a family's controller text enables the controller before use, the
// firmware below leaves that enable off (or the base unset), as firmware that
// keeps the SMBus for itself does: a transaction that skipped the enabling
// step then fails, and one that skipped the restoring step leaves the board
// visibly changed.
#include "sim/boards.h"
#include "sim/smbus/chipset.h"

// GCC 12 at -O3 reports the vectors inside the aggregate temporaries below as
// "maybe uninitialized" when they are moved into the table; they are not.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace lirrin::sim {

namespace {

constexpr u32 Maker(u16 device) { return u32{device} << 16 | kBoardMakerSubsystemVendor; }

constexpr TUnit B = TUnit::Bridge;
constexpr TUnit C = TUnit::Controller;

// PCI command register with I/O space decoding on.
constexpr std::pair<u16, u32> kIoEnabled{0x04, 0x00000001};

std::vector<TSMBusFamily> BuildFamilies() {
  std::vector<TSMBusFamily> families(19);

  // 0: Intel 440BX with PIIX4E. PIIX4's SMBus (i2c-piix4.c) is a controller
  // the table does not know; base at ACPI function config 90h, host enable
  // D2h bit 0.
  families[0] = {
      0, "Intel 440BX/PIIX4E", TRegisterInterface::Piix4,
      {{0, 0x00, 0, 0x71908086, 0x060000, 0x03, 0x00, Maker(0x5000), {}},
       {0, 0x01, 0, 0x71918086, 0x060400, 0x03, 0x01, 0, {{0x18, 0x00010100}}},
       {0, 0x07, 0, 0x71108086, 0x060100, 0x02, 0x80, 0, {}},
       {0, 0x07, 1, 0x71118086, 0x010180, 0x01, 0x00, 0, {}},
       {0, 0x07, 2, 0x71128086, 0x0C0300, 0x01, 0x00, 0, {}}},
      {0, 0x07, 3, 0x71138086, 0x068000, 0x02, 0x00, 0, {kIoEnabled, {0x90, 0x00005001}, {0xD0, 0x00090000}}},
      std::nullopt, {{B, 0x90, 0xFFF0}}, {{B, 0x90, 16}}, {{B, 0x04, 0x01}}, TConfigBits{B, 0xD2, 0x01},
      std::nullopt, std::nullopt, false, 8};

  // 1: ATI SB700 (1002:4385 rev 3Ah, PIIX4 path of i2c-piix4.c): SMBus
  // function 0:14.0 with base at config 90h, host enable D2h bit 0.
  families[1] = {
      1, "ATI SB700", TRegisterInterface::Piix4,
      {{0, 0x00, 0, 0x59571002, 0x060000, 0x00, 0x00, Maker(0x5100), {}},
       {0, 0x14, 3, 0x439D1002, 0x060100, 0x00, 0x00, Maker(0x5101), {}}},
      {0, 0x14, 0, 0x43851002, 0x0C0500, 0x3A, 0x80, Maker(0x5102),
       {kIoEnabled, {0x90, 0x00000B01}, {0xD0, 0x00010000}}},
      std::nullopt, {{B, 0x90, 0xFFF0}}, {{B, 0x90, 16}}, {{B, 0x04, 0x01}}, TConfigBits{B, 0xD2, 0x01},
      std::nullopt, std::nullopt, false, 8};

  // 2: Intel ICH10 (i2c-i801.c): SMBus function 0:1F.3, BAR 20h, HOSTC 40h
  // bit 0 (left off); hidden by RCBA Function Disable bit 3; TCO block at
  // PMBASE + 60h. The rest of the board is the desktop board.
  families[2] = {
      2, "Intel ICH10", TRegisterInterface::I801, {},
      {0, 0x1F, 0, 0x3A188086, 0x060100, 0x00, 0x80, Maker(0x5003),
       {{0x40, 0x00000801}, {0x44, 0x00000080}, {0xF0, 0xFED1C001}}},
      TPciFunctionDescription{0, 0x1F, 3, 0x3A308086, 0x0C0500, 0x00, 0x00, Maker(0x5005),
                       {kIoEnabled, {0x20, 0x00000401}, {0x40, 0x00000000}}},
      {{C, 0x20, 0xFFE0}}, {{C, 0x20, 32}}, {{C, 0x04, 0x01}}, TConfigBits{C, 0x40, 0x01}, std::nullopt,
      TIchPowerManagement{{B, 0x40, 0xFF80}, {B, 0x44, 0x80}}, true, 8};

  // 3: Intel ICH4 (82801DB, LPC 24C0h, SMBus 24C3h; i2c-i801.c): hidden by
  // LPC config F2h bit 3 (quirks.c); ACPI enable is ACPI_CNTL 44h bit 4;
  // host interface left off.
  families[3] = {
      3, "Intel ICH4", TRegisterInterface::I801,
      {{0, 0x00, 0, 0x25608086, 0x060000, 0x03, 0x00, Maker(0x5300), {}},
       {0, 0x1D, 0, 0x24C28086, 0x0C0300, 0x02, 0x80, Maker(0x5301), {}},
       {0, 0x1E, 0, 0x244E8086, 0x060400, 0x82, 0x01, 0, {{0x18, 0x00010100}}},
       {0, 0x1F, 1, 0x24CB8086, 0x01018A, 0x02, 0x00, Maker(0x5302), {}}},
      {0, 0x1F, 0, 0x24C08086, 0x060100, 0x02, 0x80, 0, {{0x40, 0x00000401}, {0x44, 0x00000010}}},
      TPciFunctionDescription{0, 0x1F, 3, 0x24C38086, 0x0C0500, 0x02, 0x00, Maker(0x5303),
                       {kIoEnabled, {0x20, 0x00000581}, {0x40, 0x00000000}}},
      {{C, 0x20, 0xFFE0}}, {{C, 0x20, 32}}, {{C, 0x04, 0x01}}, TConfigBits{C, 0x40, 0x01},
      TConfigBits{B, 0xF2, 0x08}, TIchPowerManagement{{B, 0x40, 0xFF80}, {B, 0x44, 0x10}}, false, 8};

  // 4: Intel P67 (Cougar Point, SMBus 1C22h; i2c-i801.c); host interface
  // left off.
  families[4] = {
      4, "Intel P67", TRegisterInterface::I801,
      {{0, 0x00, 0, 0x01008086, 0x060000, 0x09, 0x00, Maker(0x5400), {}},
       {0, 0x1F, 0, 0x1C468086, 0x060100, 0x05, 0x80, Maker(0x5401), {}}},
      {0, 0x1F, 3, 0x1C228086, 0x0C0500, 0x05, 0x00, Maker(0x5402),
       {{0x04, 0x00000003}, {0x20, 0x0000F001}, {0x40, 0x00000000}}},
      std::nullopt, {{B, 0x20, 0xFFE0}}, {{B, 0x20, 32}}, {{B, 0x04, 0x01}}, TConfigBits{B, 0x40, 0x01},
      std::nullopt, std::nullopt, false, 8};

  // 5: Intel SCH US15W (LPC 8119h; lpc_sch.c, i2c-isch.c): SMBASE dword at
  // LPC config 40h, bit 31 decode enable, 64-byte window; left unset.
  families[5] = {
      5, "Intel SCH", TRegisterInterface::Sch,
      {{0, 0x00, 0, 0x81008086, 0x060000, 0x07, 0x00, Maker(0x5500), {}}},
      {0, 0x1F, 0, 0x81198086, 0x060100, 0x07, 0x80, Maker(0x5501), {}},
      std::nullopt, {{B, 0x40, 0xFFC0}}, {}, {{B, 0x43, 0x80}}, std::nullopt, std::nullopt, std::nullopt,
      false, 8};

  // 6: ServerWorks OSB4 (1166:0200; i2c-piix4.c): base at config 90h, D2h =
  // 02h (IRQ routing, host enable bit 0 left off).
  families[6] = {
      6, "ServerWorks OSB4", TRegisterInterface::Piix4,
      {{0, 0x00, 0, 0x00091166, 0x060000, 0x06, 0x00, Maker(0x5600), {}},
       {0, 0x0F, 1, 0x02111166, 0x01018A, 0x00, 0x00, 0, {}}},
      {0, 0x0F, 0, 0x02001166, 0x060100, 0x4F, 0x80, 0, {{0x04, 0x00000007}, {0x90, 0x00000581}, {0xD0, 0x00020000}}},
      std::nullopt, {{B, 0x90, 0xFFF0}}, {{B, 0x90, 16}}, {{B, 0x04, 0x01}}, TConfigBits{B, 0xD2, 0x01},
      std::nullopt, std::nullopt, false, 8};

  // 7: SiS 648 + 962 (i2c-sis96x.c): the LPC bridge shows the 85C503 ID
  // 0008h; SMBus function 1039:0016 at 0:2.1 with BAR 20h, hidden by LPC
  // config 77h bit 4 as firmware leaves it (quirk_sis_96x_smbus).
  families[7] = {
      7, "SiS 962", TRegisterInterface::Sis,
      {{0, 0x00, 0, 0x06481039, 0x060000, 0x02, 0x00, Maker(0x5700), {}}},
      {0, 0x02, 0, 0x00081039, 0x060100, 0x25, 0x80, 0, {{0x74, 0x10000000}}},
      TPciFunctionDescription{0, 0x02, 1, 0x00161039, 0x0C0500, 0x00, 0x00, Maker(0x5701), {}},
      {{C, 0x20, 0xFFE0}}, {{C, 0x20, 32}}, {{C, 0x04, 0x01}}, std::nullopt, TConfigBits{B, 0x77, 0x10},
      std::nullopt, false, 8};

  // 8: SiS 760 + 964 (i2c-sis630.c): SMBus registers in the ACPI I/O space,
  // base at LPC config 74h + E0h (a 760 north bridge), decoded while LPC
  // config 40h bit 7 enables ACPI. The host enable is LPC config 76h bits
  // 1:0 [unverified: the controller table's enable], left off.
  families[8] = {
      8, "SiS 964", TRegisterInterface::Sis,
      {{0, 0x00, 0, 0x07601039, 0x060000, 0x03, 0x00, Maker(0x5800), {}}},
      {0, 0x02, 0, 0x09641039, 0x060100, 0x36, 0x80, 0, {{0x40, 0x00000080}, {0x74, 0x00000800}}},
      std::nullopt, {{B, 0x74, 0xFFFF, 0xE0}}, {}, {{B, 0x40, 0x80}}, TConfigBits{B, 0x76, 0x03}, std::nullopt,
      std::nullopt, false, 8};

  // 9: SiS 966 [unverified]: the 964 arrangement at ACPI base + D0h.
  families[9] = {
      9, "SiS 966", TRegisterInterface::Sis,
      {{0, 0x00, 0, 0x06711039, 0x060000, 0x00, 0x00, Maker(0x5900), {}}},
      {0, 0x02, 0, 0x09661039, 0x060100, 0x00, 0x80, 0, {{0x40, 0x00000080}, {0x74, 0x00000800}}},
      std::nullopt, {{B, 0x74, 0xFFFF, 0xD0}}, {}, {{B, 0x40, 0x80}}, TConfigBits{B, 0x76, 0x03}, std::nullopt,
      std::nullopt, false, 8};

  // 10: SiS 968 [unverified]: base in LPC config 9Ah bits 15:8, decoded
  // while bits 1:0 are set (left off), data registers at +10h/+11h.
  families[10] = {
      10, "SiS 968", TRegisterInterface::Sis,
      {{0, 0x00, 0, 0x06711039, 0x060000, 0x00, 0x00, Maker(0x5A00), {}}},
      {0, 0x02, 0, 0x09681039, 0x060100, 0x01, 0x80, 0, {{0x98, 0x0E000000}}},
      std::nullopt, {{B, 0x9A, 0xFF00}}, {}, {{B, 0x9A, 0x03}}, std::nullopt, std::nullopt, std::nullopt, false,
      0x10};

  // 11-13: ULi M1563 (i2c-ali1563.c): config 80h word, bit 0 I/O enable,
  // bit 1 host enable, base bits 15:4, all left unset. M1573 and M1575
  // [unverified]: the same at the same register.
  const std::pair<u32, u16> uli[] = {{0x156310B9, 0x1689}, {0x157310B9, 0x5950}, {0x157510B9, 0x1695}};
  for (int i = 0; i < 3; ++i) {
    const u16 northBridge = uli[i].second;
    const u32 northVendor = northBridge == 0x5950 ? 0x1002 : 0x10B9;
    families[11 + i] = {
        11 + i, i == 0 ? "ULi M1563" : i == 1 ? "ULi M1573" : "ULi M1575", TRegisterInterface::Uli,
        {{0, 0x00, 0, u32{northBridge} << 16 | northVendor, 0x060000, 0x00, 0x00, Maker(0x5B00), {}}},
        {0, 0x02, 0, uli[i].first, 0x060100, 0x70, 0x00, 0, {}},
        std::nullopt, {{B, 0x80, 0xFFF0}}, {}, {{B, 0x80, 0x01}}, TConfigBits{B, 0x80, 0x02}, std::nullopt,
        std::nullopt, false, 8};
  }

  // 14, 15: VIA VT8237 and VX900 (i2c-viapro.c, PIIX4-compatible registers):
  // bridge 0:11.0, base at config D0h (bit 0 reads 1), D2h bit 0 enables the
  // controller (left off).
  const std::pair<u32, u32> via[] = {{0x31881106, 0x32271106}, {0x04101106, 0x84101106}};
  for (int i = 0; i < 2; ++i) {
    families[14 + i] = {
        14 + i, i == 0 ? "VIA VT8237" : "VIA VX900", TRegisterInterface::Piix4,
        {{0, 0x00, 0, via[i].first, 0x060000, 0x00, 0x00, Maker(0x5E00), {}}},
        {0, 0x11, 0, via[i].second, 0x060100, 0x00, 0x80, Maker(0x5E01), {{0xD0, 0x00000401}}},
        std::nullopt, {{B, 0xD0, 0xFFF0}}, {{B, 0xD0, 16}}, {{B, 0xD2, 0x01}}, TConfigBits{B, 0xD2, 0x01},
        std::nullopt, std::nullopt, false, 8};
  }

  // 16-18: nVidia nForce2 Ultra 400 (0084h), MCP55 (0368h), CK804 (0052h)
  // (i2c-nforce2.c): SMBus function 0:1.1 with two controllers. MCP55 has
  // them at BARs 20h/24h; the older parts leave those 0 and keep the bases
  // at config 50h/54h ("non-standard BARs"). The CK804 board's function
  // reports class 0C8000h so that no generic SMBus-class search finds it; the
  // shipped part reports 0C0500h.
  struct TNforce {
    u32 Host, Lpc, SMBus, ClassCode;
    u16 Bar1, Bar2;
    u32 Base1, Base2;
  };
  const TNforce nforce[] = {
      {0x01E010DE, 0x008010DE, 0x008410DE, 0x0C0500, 0x50, 0x54, 0x5001, 0x5101},
      {0x036910DE, 0x036010DE, 0x036810DE, 0x0C0500, 0x20, 0x24, 0x1C01, 0x1C41},
      {0x005E10DE, 0x005010DE, 0x005210DE, 0x0C8000, 0x50, 0x54, 0x4C01, 0x4C41},
  };
  for (int i = 0; i < 3; ++i) {
    const TNforce& n = nforce[i];
    families[16 + i] = {
        16 + i, i == 0 ? "nVidia nForce2 Ultra 400" : i == 1 ? "nVidia MCP55" : "nVidia CK804",
        TRegisterInterface::Nforce,
        {{0, 0x00, 0, n.Host, 0x060000, 0xA2, 0x00, Maker(0x6000), {}},
         {0, 0x01, 0, n.Lpc, 0x060100, 0xA3, 0x80, Maker(0x6001), {}}},
        {0, 0x01, 1, n.SMBus, n.ClassCode, 0xA2, 0x00, Maker(0x6002), {kIoEnabled, {n.Bar1, n.Base1}, {n.Bar2, n.Base2}}},
        std::nullopt, {{B, n.Bar1, 0xFFC0}, {B, n.Bar2, 0xFFC0}}, {{B, n.Bar1, 64}, {B, n.Bar2, 64}},
        {{B, 0x04, 0x01}}, std::nullopt, std::nullopt, std::nullopt, false, 8};
  }
  return families;
}

}  // namespace

const std::vector<TSMBusFamily>& SMBusFamilies() {
  static const std::vector<TSMBusFamily> families = BuildFamilies();
  return families;
}

// ATI SB800 (1002:4385 rev 42h; i2c-piix4.c's SB800 path): configuration
// register 90h is 0, so family 1's base text takes the memory-mapped base.
const TSMBusFamily& Sb800Family() {
  static const TSMBusFamily family = [] {
    TSMBusFamily sb800 = SMBusFamilies()[1];
    sb800.Chipset = "ATI SB800";
    sb800.Bridge.Revision = 0x42;
    sb800.Bridge.Dwords = {kIoEnabled};
    sb800.Bars.clear();
    sb800.Decode.clear();
    sb800.HostEnable.reset();
    sb800.PowerManagementBase = true;
    return sb800;
  }();
  return family;
}

// Intel ICH6 (LPC 2641h, SMBus 266Ah; i2c-i801.c): family 3's part whose
// SMBus function hides through Function Disable at RCBA + 3418h, as quirks.c
// unhides it, not through LPC config F2h.
const TSMBusFamily& Ich6Family() {
  static const TSMBusFamily family = [] {
    TSMBusFamily ich6 = SMBusFamilies()[3];
    ich6.Chipset = "Intel ICH6";
    ich6.Bridge.Id = 0x26418086;
    ich6.Bridge.Dwords.push_back({0xF0, 0xFED1C001});
    ich6.Controller->Id = 0x266A8086;
    ich6.Hide.reset();
    ich6.RootComplexFunctionDisable = true;
    return ich6;
  }();
  return family;
}

}  // namespace lirrin::sim
