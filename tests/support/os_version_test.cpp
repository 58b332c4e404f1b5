#include "support/os_version.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace lirrin {
namespace {

TEST(OsVersion, FamilyTable) {
  struct Case {
    u32 platform, major, minor;
    u16 architecture;
    u32 expected;
    const char* system;
  };
  const Case cases[] = {
      {kPlatformWin9x, 4, 0, kArchitectureX86, 16, "95"},
      {kPlatformWin9x, 4, 90, kArchitectureX86, 16, "Me"},
      {kPlatformNt, 5, 0, kArchitectureX86, 32, "2000"},
      {kPlatformNt, 5, 1, kArchitectureX86, 32, "XP"},
      {kPlatformNt, 5, 2, kArchitectureAmd64, 33, "XP x64"},
      {kPlatformNt, 5, 2, kArchitectureIa64, 34, "Server 2003 Itanium"},
      {kPlatformNt, 6, 0, kArchitectureX86, 64, "Vista"},
      {kPlatformNt, 6, 1, kArchitectureAmd64, 193, "7 x64"},
      {kPlatformNt, 6, 2, kArchitectureX86, 448, "8 (and 8.1 without a manifest entry)"},
      {kPlatformNt, 6, 3, kArchitectureAmd64, 705, "8.1 x64"},
      {kPlatformNt, 6, 4, kArchitectureX86, 0, "unknown 6.x"},
      {kPlatformNt, 4, 0, kArchitectureX86, 0, "NT 4"},
      {kPlatformNt, 10, 0, kArchitectureAmd64, 1, "10 x64: no family, bitness only"},
      {0, 3, 10, kArchitectureX86, 0, "Win32s"},
      {kPlatformWin9x, 4, 10, kArchitectureAmd64, 16, "98 never gets bitness bits"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyOsFamily({c.major, c.minor, c.platform}, c.architecture), c.expected) << c.system;
  }
}

TEST(OsVersion, FlagQueries) {
  const TOsVersion win7x64({6, 1, kPlatformNt}, kArchitectureAmd64, 8);
  EXPECT_EQ(win7x64.Family(0xFFFF), 193u);
  EXPECT_EQ(win7x64.Family(0xFFF0), 192u);
  EXPECT_TRUE(win7x64.IsX64());
  EXPECT_FALSE(win7x64.IsIA64());
  EXPECT_EQ(win7x64.ProcessorCount(), 8u);
  EXPECT_TRUE(TOsVersion({5, 2, kPlatformNt}, kArchitectureIa64, 2).IsIA64());
}

TEST(OsVersion, RunningSystem) {
  const TOsVersion& os = *TOsVersion::Instance();
  EXPECT_GE(os.ProcessorCount(), 1u);
#ifdef _WIN32
  // Run with the Windows version the test harness made the system report.
  if (const char* expected = std::getenv("LIRRIN_EXPECTED_OS_FAMILY")) {
    EXPECT_EQ(os.Family(0xFFFF), std::strtoul(expected, nullptr, 10));
    return;
  }
  // Wine reports an NT 6.x system; a 32-bit program in a 64-bit prefix runs
  // under WOW64 on an x64 system.
  EXPECT_GE(os.Family(0xFFF0), kFamilyNt5);
  if (!os.IsNative()) {
    EXPECT_TRUE(os.IsX64());
  }
#else
  EXPECT_EQ(os.Family(0xFFFF), 0u);
  EXPECT_TRUE(os.IsNative());
#endif
}

}  // namespace
}  // namespace lirrin
