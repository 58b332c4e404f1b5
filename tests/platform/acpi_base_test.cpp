#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform_fixture.h"

namespace lirrin {
namespace {

using testing::PlainBoard;

std::vector<u8> Le32Bytes(std::initializer_list<u32> values) {
  std::vector<u8> bytes;
  for (u32 value : values) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<u8>(value >> (8 * i)));
  }
  return bytes;
}

// A table whose header states `length`, whatever it holds.
std::vector<u8> WithLength(std::vector<u8> table, u32 length) {
  for (int i = 0; i < 4; ++i) table[4 + i] = static_cast<u8>(length >> (8 * i));
  sim::SetChecksum(table, 9, 0, table.size());
  return table;
}

std::vector<u8> Fadt(u32 facs, u32 dsdt) {
  std::vector<u8> body(116 - 36);
  const std::vector<u8> pointers = Le32Bytes({facs, dsdt});
  std::copy(pointers.begin(), pointers.end(), body.begin());
  return sim::AcpiTable("FACP", 1, body);
}

std::vector<u8> Facs() {
  std::vector<u8> facs(64);
  const std::vector<u8> head{'F', 'A', 'C', 'S', 64, 0, 0, 0};
  std::copy(head.begin(), head.end(), facs.begin());
  return facs;
}

std::vector<u8> Mcfg(u32 allocationBytes, u32 base) {
  std::vector<u8> body(8 + allocationBytes);
  for (u32 i = 0; i < 4 && 8 + i < body.size(); ++i) body[8 + i] = static_cast<u8>(base >> (8 * i));
  return sim::AcpiTable("MCFG", 1, body);
}

struct TExpectedTable {
  u32 Address;
  std::string Signature;
};

class AcpiTest : public testing::PlatformTest {
 protected:
  static std::vector<TExpectedTable> Walked(const TAcpiBase& acpi) {
    std::vector<TExpectedTable> walked;
    for (std::size_t i = 1; i < acpi.Tables().size(); ++i) {
      walked.push_back({acpi.Tables()[i].Address, acpi.Tables()[i].Signature});
    }
    return walked;
  }
};

bool operator==(const TExpectedTable& a, const TExpectedTable& b) {
  return a.Address == b.Address && a.Signature == b.Signature;
}

void PrintTo(const TExpectedTable& table, std::ostream* out) {
  *out << std::hex << table.Address << ":" << table.Signature;
}

TEST_F(AcpiTest, FirmwareTablesInWalkOrder) {
  for (const u8 revision : {0, 2}) {
    SCOPED_TRACE(revision);
    sim::TBoardDescription board = PlainBoard();
    sim::TFirmwareSwitches switches;
    switches.AcpiRevision = revision;
    sim::AddFirmware(board, switches);
    const sim::TAcpiLayout at = sim::AcpiLayout(board);
    Use(board);
    ::testing::internal::CaptureStderr();
    const TAcpiBase& acpi = *TAcpiBase::Instance();
    const std::string lines = ::testing::internal::GetCapturedStderr();

    ASSERT_TRUE(acpi.RootFound());
    ASSERT_GE(acpi.Tables().size(), 1u);
    EXPECT_EQ(acpi.Tables()[0].Address, sim::kRsdpAddress);
    EXPECT_EQ(acpi.Tables()[0].Length, revision == 0 ? 20u : 36u);
    const std::vector<TExpectedTable> expected{
        {u32(at.Rsdt), "RSDT"}, {u32(at.Facp), "FACP"}, {u32(at.Apic), "APIC"},
        {u32(at.Mcfg), "MCFG"}, {u32(at.Facs), "FACS"}, {u32(at.Dsdt), "DSDT"},
    };
    EXPECT_EQ(Walked(acpi), expected);
    EXPECT_EQ(acpi.Tables()[1].Length, 36u + 3 * 4);
    EXPECT_EQ(acpi.Tables()[2].Length, revision == 0 ? 116u : 244u);
    EXPECT_EQ(acpi.Tables()[5].Length, 64u);
    EXPECT_EQ(acpi.DsdtAddress(), at.Dsdt);
    EXPECT_EQ(acpi.PcieBase(), 0xF0000000u);
#ifndef _WIN32
    EXPECT_EQ(lines,
              "BuildAcpiTable ... [Table = RSDT]\n"
              "BuildAcpiTable ... [Table = FACP]\n"
              "TAcpiBase::BuildFACP ... [DsdtAddress = 0x0FFF0400]\n"
              "BuildAcpiTable ... [Table = APIC]\n"
              "BuildAcpiTable ... [Table = MCFG]\n"
              "BuildAcpiTable ... [Table = FACS]\n"
              "BuildAcpiTable ... [Table = DSDT]\n");
#endif
  }
}

TEST_F(AcpiTest, Handlers) {
  constexpr u32 R = 0x200000, F = 0x201000, S = 0x202000, D = 0x203000, M = 0x204000, A = 0x205000;
  constexpr u32 Far = 0x400000;  // more than 64 KiB above the others
  constexpr u32 Hole = 0xC0000000;
  const std::vector<u8> dsdt = sim::AcpiTable("DSDT", 2, {0xA3});
  const std::vector<u8> apic = sim::AcpiTable("APIC", 1, Le32Bytes({0xFEE00000, 1}));
  struct Case {
    const char* name;
    u32 rsdt;
    std::vector<std::pair<u32, std::vector<u8>>> tables;
    std::vector<TExpectedTable> walked;
    u32 pcieBase;
    u32 dsdtAddress;
  };
  const Case cases[] = {
      {"a zero RSDT pointer adds no entry",
       R,
       {{R, sim::AcpiTable("RSDT", 1, Le32Bytes({F, 0, M}))}, {F, Fadt(S, D)}, {S, Facs()}, {D, dsdt},
        {M, Mcfg(16, 0xE0000000)}},
       {{R, "RSDT"}, {F, "FACP"}, {M, "MCFG"}, {S, "FACS"}, {D, "DSDT"}},
       0xE0000000,
       D},
      {"an MCFG shorter than 60 bytes sets no base",
       R,
       {{R, sim::AcpiTable("RSDT", 1, Le32Bytes({M}))}, {M, Mcfg(12, 0xE0000000)}},
       {{R, "RSDT"}, {M, "MCFG"}},
       kNoPcieBase,
       0},
      {"an MCFG whose length cuts its allocation short sets no base",
       R,
       {{R, sim::AcpiTable("RSDT", 1, Le32Bytes({M}))}, {M, WithLength(Mcfg(16, 0xE0000000), 59)}},
       {{R, "RSDT"}, {M, "MCFG"}},
       kNoPcieBase,
       0},
      {"an RSDT shorter than its header adds no entry",
       R,
       {{R, WithLength(sim::AcpiTable("RSDT", 1, Le32Bytes({A})), 30)}, {A, apic}},
       {{R, "RSDT"}},
       kNoPcieBase,
       0},
      {"an RSDT length that ends inside a pointer drops it",
       R,
       {{R, WithLength(sim::AcpiTable("RSDT", 1, Le32Bytes({A, M})), 36 + 7)}, {A, apic}},
       {{R, "RSDT"}, {A, "APIC"}},
       kNoPcieBase,
       0},
      {"a FADT ending before its DSDT field gives only the FACS",
       R,
       {{R, sim::AcpiTable("RSDT", 1, Le32Bytes({F}))}, {F, WithLength(Fadt(S, D), 40)}, {S, Facs()}},
       {{R, "RSDT"}, {F, "FACP"}, {S, "FACS"}},
       kNoPcieBase,
       0},
      {"a pointer into unreadable memory is logged and passed over",
       R,
       {{R, sim::AcpiTable("RSDT", 1, Le32Bytes({Hole, A}))}, {A, apic}},
       {{R, "RSDT"}, {Hole, "\xFF\xFF\xFF\xFF"}, {A, "APIC"}},
       kNoPcieBase,
       0},
      {"an absurd RSDT length is read only as far as the cap",
       Far,
       {{Far, WithLength(sim::AcpiTable("RSDT", 1, Le32Bytes({A})), 0xFFFFFFF0)}, {A, apic}},
       {{Far, "RSDT"}, {A, "APIC"}},
       kNoPcieBase,
       0},
      {"a zero RSDT address walks whatever lies at 0",
       0,
       {},
       {{0, std::string(4, '\0')}},
       kNoPcieBase,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::TBoardDescription board = PlainBoard();
    sim::TFirmwareSwitches switches;
    switches.NoAcpi = true;
    sim::AddFirmware(board, switches);
    Use(board);
    Place(sim::kRsdpAddress, sim::Rsdp(0, c.rsdt, 0));
    for (const auto& [address, bytes] : c.tables) Place(address, bytes);
    const TAcpiBase& acpi = *TAcpiBase::Instance();
    ASSERT_TRUE(acpi.RootFound());
    EXPECT_EQ(Walked(acpi), c.walked);
    EXPECT_EQ(acpi.PcieBase(), c.pcieBase);
    EXPECT_EQ(acpi.DsdtAddress(), c.dsdtAddress);
  }
}

TEST_F(AcpiTest, TablesThatListThemselvesStopAtTheCap) {
  constexpr u32 R = 0x200000;
  sim::TBoardDescription board = PlainBoard();
  sim::TFirmwareSwitches switches;
  switches.NoAcpi = true;
  sim::AddFirmware(board, switches);
  Use(board);
  Place(sim::kRsdpAddress, sim::Rsdp(2, R, 0));
  Place(R, sim::AcpiTable("RSDT", 1, Le32Bytes({R, R})));
  const TAcpiBase& acpi = *TAcpiBase::Instance();
  EXPECT_EQ(acpi.Tables().size(), TAcpiBase::kMaxTables);
}

TEST_F(AcpiTest, RootSearch) {
  struct Case {
    const char* name;
    std::vector<std::pair<u64, std::vector<u8>>> placed;
    bool found;
    u32 rsdpLength;
  };
  std::vector<u8> badChecksum = sim::Rsdp(0, 0x200000, 0);
  badChecksum[8] ^= 1;
  std::vector<u8> badExtended = sim::Rsdp(2, 0x200000, 0);
  badExtended[32] ^= 1;
  std::vector<u8> misaligned = sim::Rsdp(0, 0x200000, 0);
  // Revision 2 stating 40 bytes, written out here: the entry's length is the
  // stored one, not the 36 bytes of the usual structure.
  const std::vector<u8> longer = {
      0x52, 0x53, 0x44, 0x20, 0x50, 0x54, 0x52, 0x20,  // "RSD PTR "
      0xE6,                                            // checksum of the first 20 bytes
      0x4E, 0x4F, 0x52, 0x56, 0x49, 0x4B,              // OEM "NORVIK"
      0x02,                                            // revision
      0x00, 0x00, 0x20, 0x00,                          // RSDT at 200000h
      0x28, 0x00, 0x00, 0x00,                          // length 40
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // no XSDT
      0xD8, 0x00, 0x00, 0x00,                          // extended checksum, reserved
      0x00, 0x00, 0x00, 0x00,
  };
  const Case cases[] = {
      {"none", {}, false, 0},
      {"revision 0", {{0xE0010, sim::Rsdp(0, 0x200000, 0)}}, true, 20},
      {"revision 2", {{0xE0010, sim::Rsdp(2, 0x200000, 0)}}, true, 36},
      // Only the ACPI 1.0 part's checksum is checked.
      {"revision 2 with a bad extended checksum", {{0xE0010, badExtended}}, true, 36},
      {"revision 2 stating 40 bytes", {{0xE0010, longer}}, true, 40},
      {"the first occurrence decides", {{0xE0010, badChecksum}, {0xE0020, sim::Rsdp(0, 0x200000, 0)}}, false, 0},
      {"only 16-byte boundaries are candidates", {{0xE0018, misaligned}}, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::TBoardDescription board = PlainBoard();
    sim::TFirmwareSwitches switches;
    switches.NoAcpi = true;
    sim::AddFirmware(board, switches);
    Use(board);
    for (const auto& [address, bytes] : c.placed) Place(address, bytes);
    const TAcpiBase& acpi = *TAcpiBase::Instance();
    EXPECT_EQ(acpi.RootFound(), c.found);
    if (c.found) {
      ASSERT_EQ(acpi.Tables().size(), 2u);  // the RSDT points at empty RAM: nothing to add
      EXPECT_EQ(acpi.Tables()[0].Length, c.rsdpLength);
      EXPECT_EQ(acpi.Tables()[1].Address, 0x200000u);
    } else {
      EXPECT_TRUE(acpi.Tables().empty());
    }
    EXPECT_EQ(acpi.PcieBase(), kNoPcieBase);
  }
}

}  // namespace
}  // namespace lirrin
