// The simulated firmware as an operating system would check it: checksums
// over each structure's stated length, and the XSDT agreeing with the RSDT.
#include <gtest/gtest.h>

#include <vector>

#include "hw/firmware.h"
#include "platform_fixture.h"

namespace lirrin {
namespace {

using testing::PlainBoard;

class FirmwareTest : public testing::PlatformTest {
 protected:
  std::vector<u8> Read(u64 address, u32 length) {
    std::vector<u8> bytes(length);
    EXPECT_TRUE(TReadWrite::Instance()->ReadMemBlock(bytes.data(), length, address)) << std::hex << address;
    return bytes;
  }
  // A whole ACPI table, as long as its header says.
  std::vector<u8> Table(u64 address) { return Read(address, Le32(Read(address, 8).data() + 4)); }
};

TEST_F(FirmwareTest, StructuresAreValid) {
  sim::TBoardDescription board = PlainBoard();
  sim::AddFirmware(board);
  const sim::TAcpiLayout at = sim::AcpiLayout(board);
  Use(board);

  EXPECT_EQ(ByteSum(Read(sim::kBoardInfoAddress, 64)), 0);
  EXPECT_NE(ByteSum(Read(sim::kDecoyBlockAddress, 64)), 0);
  const std::vector<u8> entry = Read(sim::kSmbiosEntryAddress, 31);
  EXPECT_EQ(ByteSum(entry), 0);
  EXPECT_EQ(ByteSum(std::span(entry).subspan(0x10, 15)), 0);  // the "_DMI_" part
  EXPECT_EQ(ByteSum(Read(sim::kRsdpAddress, 36)), 0);

  for (const u64 address : {at.Rsdt, at.Xsdt, at.Facp, at.Apic, at.Mcfg, at.Dsdt}) {
    const std::vector<u8> table = Table(address);
    ASSERT_GE(table.size(), 36u);
    EXPECT_EQ(ByteSum(table), 0) << std::string(table.begin(), table.begin() + 4);
  }

  const std::vector<u8> rsdt = Table(at.Rsdt);
  const std::vector<u8> xsdt = Table(at.Xsdt);
  ASSERT_EQ((xsdt.size() - 36) / 8, (rsdt.size() - 36) / 4);
  for (std::size_t i = 0; 36 + 4 * i < rsdt.size(); ++i) {
    EXPECT_EQ(Le32(&rsdt[36 + 4 * i]), Le32(&xsdt[36 + 8 * i]));
    EXPECT_EQ(Le32(&xsdt[36 + 8 * i + 4]), 0u);
  }
  const std::vector<u8> mcfg = Table(at.Mcfg);
  EXPECT_EQ(Le32(&mcfg[44]), board.EcamBase);
  EXPECT_EQ(mcfg[44 + 11], board.EcamBuses - 1);  // last bus decoded
}

// A board without an ECAM window has no MCFG to list.
TEST_F(FirmwareTest, NoEcamWindowNoMcfg) {
  sim::TBoardDescription board = PlainBoard();
  board.EcamBase = 0;
  board.EcamBuses = 0;
  sim::AddFirmware(board);
  Use(board);
  const TAcpiBase& acpi = *TAcpiBase::Instance();
  std::vector<std::string> signatures;
  for (const auto& entry : acpi.Tables()) signatures.push_back(entry.Signature);
  EXPECT_EQ(signatures, (std::vector<std::string>{"", "RSDT", "FACP", "APIC", "FACS", "DSDT"}));
  EXPECT_EQ(acpi.PcieBase(), kNoPcieBase);
}

}  // namespace
}  // namespace lirrin
