#include <gtest/gtest.h>

#include "platform_fixture.h"
#include "sim/boards.h"
#include "sim/smbus/chipset.h"
#include "support/board_maker.h"

namespace lirrin {
namespace {

using sim::TRequestKind;
using testing::FunctionWith;
using testing::PlainBoard;

class PlatformCheckTest : public testing::PlatformTest {};

TEST_F(PlatformCheckTest, ScanRules) {
  struct Case {
    const char* name;
    std::vector<sim::TPciFunctionDescription> functions;
    bool marker;
    bool supported;
  };
  const u16 other = 0x1458;
  const Case cases[] = {
      {"first maker ID", {FunctionWith(0, 0, 0, kBoardMakerSubsystemVendor)}, true, true},
      {"second maker ID", {FunctionWith(0, 0x1B, 0, kBoardMakerSecondSubsystemVendor)}, true, true},
      {"ATI ID on someone else's board",
       {FunctionWith(0, 0, 0, other), FunctionWith(1, 0, 0, kAtiSubsystemVendor)}, true, true},
      {"no listed ID", {FunctionWith(0, 0, 0, other), FunctionWith(0, 0x1F, 0, 0x8086)}, true, false},
      {"listed ID but no marker", {FunctionWith(0, 0, 0, kBoardMakerSubsystemVendor)}, false, false},
      {"only on function 3 of a multi-function device",
       {FunctionWith(0, 0x1F, 0, other, 0x80), FunctionWith(0, 0x1F, 3, kBoardMakerSubsystemVendor)}, true, true},
      {"only on function 3 of a single-function device",
       {FunctionWith(0, 0x1F, 0, other, 0x00), FunctionWith(0, 0x1F, 3, kBoardMakerSubsystemVendor)}, true, false},
      {"function 0 whose identity reads 0 is still present",
       {{0, 0x05, 0, 0x00000000, 0x000000, 0, 0x00, kBoardMakerSubsystemVendor, {}}}, true, true},
      {"last device of the last bus", {FunctionWith(255, 31, 0, kBoardMakerSecondSubsystemVendor)}, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::TBoardDescription board = PlainBoard();
    board.Functions = c.functions;
    sim::TFirmwareSwitches switches;
    switches.NoMarker = !c.marker;
    sim::AddFirmware(board, switches);
    Use(board);
    EXPECT_EQ(TNvkSpec::Instance()->IsSupported(), c.supported);
  }
}

// The check's own requests, with the board information block already read.
TEST_F(PlatformCheckTest, RequestsOfTheCheck) {
  struct Case {
    const char* name;
    bool marker;
    u64 pciRequests;
  };
  const Case cases[] = {
      {"no marker: no PCI read", false, 0},
      {"no listed ID: every device of every bus", true, 256 * 32},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::TBoardDescription board = PlainBoard();
    sim::TFirmwareSwitches switches;
    switches.NoMarker = !c.marker;
    sim::AddFirmware(board, switches);
    Use(board);
    TSmbiosBase::Instance();
    TNvkBiosInfo::Instance();
    Board->ResetRequestCounts();
    EXPECT_FALSE(TNvkSpec::Instance()->IsSupported());
    EXPECT_EQ(Board->Requests(TRequestKind::PciConfig), c.pciRequests);
  }
}

TEST_F(PlatformCheckTest, SupportedDesktopHandsTheMcfgBaseToTheIoLayer) {
  sim::TBoardDescription board = sim::DesktopIch10Board();
  sim::AddFirmware(board);
  Use(board);
  ::testing::internal::CaptureStderr();
  const TNvkSpec& platform = *TNvkSpec::Instance();
  const std::string lines = ::testing::internal::GetCapturedStderr();
  EXPECT_TRUE(platform.IsSupported());
  EXPECT_EQ(platform.ModelName(), u"NV-P45 Deluxe");
#ifndef _WIN32
  // The model name comes last, after the ACPI walk.
  EXPECT_TRUE(lines.ends_with("BuildAcpiTable ... [Table = DSDT]\nModel Name ... [NV-P45 Deluxe]\n")) << lines;
#endif
  TReadWrite& io = *TReadWrite::Instance();
  EXPECT_EQ(io.PcieBase, 0xE0000000u);
  // Enhanced configuration reads now go through the ECAM window.
  Board->ResetRequestCounts();
  EXPECT_EQ(io.ReadPcieDword(0, 0x1F, 3, 0x00), 0x3A308086u);
  EXPECT_EQ(Board->Requests(TRequestKind::Memory), 1u);
  EXPECT_EQ(Board->Requests(TRequestKind::PciConfig), 0u);

  EXPECT_TRUE(TSmbiosBase::Instance()->Found());
  EXPECT_EQ(TSmbiosBase::Instance()->TableAddress(), sim::kSmbiosTableAddress);
}

TEST_F(PlatformCheckTest, NoAcpiLeavesThePcieBaseUnknown) {
  sim::TBoardDescription board = sim::DesktopIch10Board();
  sim::TFirmwareSwitches switches;
  switches.NoAcpi = true;
  sim::AddFirmware(board, switches);
  Use(board);
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(TNvkSpec::Instance()->IsSupported());
  const std::string lines = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(TReadWrite::Instance()->PcieBase, kNoPcieBase);
#ifndef _WIN32
  // No table is walked; the model name line is all there is.
  EXPECT_EQ(lines, "Model Name ... [NV-P45 Deluxe]\n");
#endif
}

// novendor covers the functions chipset models add as well as the
// description's own.
TEST_F(PlatformCheckTest, NoVendorSwitchTakesEveryListedIdAway) {
  sim::TBoardDescription board = sim::DesktopIch10Board();
  board.Functions.push_back(FunctionWith(3, 0, 0, kAtiSubsystemVendor));
  sim::AttachSMBus(board, sim::SMBusFamilies()[2], {});
  sim::AddFirmware(board);
  sim::RemoveMakerSubsystemVendors(board);
  Use(board);
  EXPECT_FALSE(TNvkSpec::Instance()->IsSupported());
  // The rest of the firmware is untouched: the model name needs the first ID.
  EXPECT_EQ(TNvkSpec::Instance()->ModelName(), u"");
  EXPECT_EQ(TReadWrite::Instance()->PcieBase, 0xE0000000u);
}

TEST_F(PlatformCheckTest, SmbiosEntryPointAndTable) {
  sim::TBoardDescription board = PlainBoard();
  sim::AddFirmware(board);
  Use(board);
  // An anchor without a valid entry point ahead of the real one.
  Place(0xE1000, {'_', 'S', 'M', '_', 0x00, 0x1F, 2, 4});
  const TSmbiosBase& smbios = *TSmbiosBase::Instance();
  ASSERT_TRUE(smbios.Found());
  EXPECT_EQ(smbios.Version(), 0x24);
  EXPECT_EQ(smbios.TableAddress(), sim::kSmbiosTableAddress);
  ASSERT_EQ(smbios.Table().size(), smbios.TableLength());
  // Type 0 first, the end-of-table structure last.
  EXPECT_EQ(smbios.Table().front(), 0);
  const std::vector<u8> end{127, 4, 3, 0, 0, 0};
  EXPECT_TRUE(std::equal(end.begin(), end.end(), smbios.Table().end() - 6));
}

class InitializerTest : public testing::PlatformTest {
 protected:
  void UseDesktop(bool noMarker, bool noVendor) {
    sim::TBoardDescription board = sim::DesktopIch10Board();
    sim::AttachSMBus(board, sim::SMBusFamilies()[2], {});
    sim::TFirmwareSwitches switches;
    switches.NoMarker = noMarker;
    sim::AddFirmware(board, switches);
    if (noVendor) sim::RemoveMakerSubsystemVendors(board);
    Use(board);
  }
};

TEST_F(InitializerTest, SupportedBoardGetsTheSMBusEngine) {
  UseDesktop(false, false);
  EXPECT_TRUE(TInitializer::Instance()->Supported());
  EXPECT_TRUE(Boxes.empty());
  // The engine was built here and found the board's controller.
  Board->ResetRequestCounts();
  EXPECT_TRUE(TSMBus::Instance()->HasController());
  EXPECT_EQ(Board->TotalRequests(), 0u);
}

TEST_F(InitializerTest, UnsupportedBoardShowsTheErrorOnce) {
  const struct {
    const char* name;
    bool noMarker;
    bool noVendor;
  } cases[] = {{"nomarker", true, false}, {"novendor", false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UseDesktop(c.noMarker, c.noVendor);
    Boxes.clear();
    TNvkSpec::Instance();
    Board->ResetRequestCounts();
    EXPECT_FALSE(TInitializer::Instance()->Supported());
    // No further singleton: the SMBus engine would have probed the chipset.
    EXPECT_EQ(Board->TotalRequests(), 0u);
    EXPECT_FALSE(TInitializer::Instance()->Supported());
    ASSERT_EQ(Boxes.size(), 1u);
    EXPECT_EQ(Boxes[0].Text, u"This utility is not for this platform!");
    EXPECT_EQ(Boxes[0].Caption, u"Error 0xFFFE");
    EXPECT_TRUE(Boxes[0].SystemModal);
  }
}

#ifndef _WIN32
TEST(MessageBox, WithoutRecorderTheTextGoesToStandardError) {
  ::testing::internal::CaptureStderr();
  ShowErrorBox({u"This utility is not for this platform!", u"Error 0xFFFE", true});
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "This utility is not for this platform!\n");
}
#endif

// The SMBIOS entry point's layout pinned by bytes written out here rather
// than by the simulated firmware's builder, at an address off the 16-byte
// grid: 06h major and 07h minor version, 16h table length, 18h table address.
TEST_F(PlatformCheckTest, SmbiosEntryPointFromLiteralBytes) {
  const std::vector<u8> entry = {
      0x5F, 0x53, 0x4D, 0x5F,  // "_SM_"
      0x3A,                    // checksum of the 31 bytes
      0x1F, 0x02, 0x07,        // length 31, version 2.7
      0x40, 0x00,              // largest structure
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x5F, 0x44, 0x4D, 0x49, 0x5F,  // "_DMI_"
      0x0E,                          // checksum of bytes 10h..1Eh
      0x20, 0x00,                    // table length 32
      0x00, 0x10, 0x00, 0x00,        // table address 1000h
      0x03, 0x00,                    // three structures
      0x27,                          // BCD revision
  };
  sim::TBoardDescription board = PlainBoard();
  Use(board);
  Place(0xF4563, entry);
  const TSmbiosBase& smbios = *TSmbiosBase::Instance();
  ASSERT_TRUE(smbios.Found());
  EXPECT_EQ(smbios.Version(), 0x27);
  EXPECT_EQ(smbios.TableLength(), 0x0020);
  EXPECT_EQ(smbios.TableAddress(), 0x00001000u);
  EXPECT_EQ(smbios.Table().size(), 0x20u);
}

}  // namespace
}  // namespace lirrin
