// The registry copy of the root table, which Windows keeps under
// HKLM "Hardware\ACPI\RSDT\<OEM ID>\<OEM table ID>\<OEM revision>".
#ifdef _WIN32
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "platform_fixture.h"

namespace lirrin {
namespace {

using testing::PlainBoard;

constexpr const wchar_t* kAcpiKey = L"Hardware\\ACPI";
constexpr const wchar_t* kTableKey = L"Hardware\\ACPI\\RSDT\\NORVIK\\LIRRINSM\\00000001";

bool KeyExists(const wchar_t* path) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

class AcpiRegistryTest : public testing::PlatformTest {
 protected:
  // The key is the test's own only where the system has none (Wine); a
  // system's real tables are left alone.
  void SetUp() override {
    if (KeyExists(kAcpiKey)) GTEST_SKIP() << "this system has its own HKLM\\Hardware\\ACPI";
    OwnKey = true;
  }

  void TearDown() override {
    if (OwnKey) RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAcpiKey);
    testing::PlatformTest::TearDown();
  }

  void PrepareKey(const std::vector<u8>& data) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTableKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const LONG status =
        RegSetValueExW(key, L"00000000", 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
    RegCloseKey(key);
    ASSERT_EQ(status, ERROR_SUCCESS);
  }

  bool OwnKey = false;
};

// The board's tables without an RSDP in the firmware area; the registry holds
// the RSDT. Its first pointer (the FADT) leads to the window searched for an
// RSDP: from 64 KiB below it, 128 KiB long.
TEST_F(AcpiRegistryTest, RootFromTheRegistry) {
  sim::TBoardDescription board = PlainBoard();
  sim::AddFirmware(board);
  const sim::TAcpiLayout at = sim::AcpiLayout(board);
  const u32 window = static_cast<u32>((at.Facp - 0x10000) & ~u64{0xFF});

  struct Case {
    const char* name;
    bool rsdt;             // the registry data is the RSDT (else a table of another kind)
    u64 rsdpCopy;          // where an RSDP lies in RAM, 0: nowhere
    bool found;
    u32 entry0Address;
    bool walked;
  };
  const Case cases[] = {
      {"an RSDP near the tables", true, at.Rsdt - 0x1000, true, u32(at.Rsdt - 0x1000), true},
      {"an RSDP at the start of the window", true, window, true, window, true},
      {"no RSDP near the tables", true, 0, true, 0, false},
      {"registry data that is not a root table", false, at.Rsdt - 0x1000, false, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Use(board);
    // Take the firmware area's RSDP away.
    Place(sim::kRsdpAddress, std::vector<u8>(36, 0));
    if (c.rsdpCopy != 0) Place(c.rsdpCopy, sim::Rsdp(2, static_cast<u32>(at.Rsdt), at.Xsdt));
    std::vector<u8> data(36 + 3 * 4);
    TReadWrite::Instance()->ReadMemBlock(data.data(), static_cast<u32>(data.size()), at.Rsdt);
    if (!c.rsdt) data[0] = 'S';  // "SSDT"
    PrepareKey(data);

    const TAcpiBase& acpi = *TAcpiBase::Instance();
    EXPECT_EQ(acpi.RootFound(), c.found);
    if (!c.found) {
      EXPECT_TRUE(acpi.Tables().empty());
    } else if (c.walked) {
      ASSERT_EQ(acpi.Tables().size(), 7u);
      EXPECT_EQ(acpi.Tables()[0].Address, c.entry0Address);
      EXPECT_EQ(acpi.Tables()[0].Length, 36u);
      EXPECT_EQ(acpi.Tables()[1].Signature, "RSDT");
      EXPECT_EQ(acpi.PcieBase(), 0xF0000000u);
    } else {
      // A placeholder with the registry data's size, and nothing to walk.
      ASSERT_EQ(acpi.Tables().size(), 1u);
      EXPECT_EQ(acpi.Tables()[0].Address, 0u);
      EXPECT_EQ(acpi.Tables()[0].Length, data.size());
      EXPECT_EQ(acpi.PcieBase(), kNoPcieBase);
    }
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAcpiKey);
  }
}

}  // namespace
}  // namespace lirrin
#endif
