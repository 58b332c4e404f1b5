// The tray program's rules that need no window: the instance mutex name and
// the command-line switches, where the panel opens from the tray, and the
// stored word in the registry.
#include <windows.h>

#include <gtest/gtest.h>

#include "app/instance_check.h"
#include "app/panel_placement.h"
#include "app/stored_value.h"

namespace lirrin {
namespace {

TEST(InstanceCheck, MutexIsNamedAfterTheFileAsStarted) {
  struct Case {
    const char* Path;
    const char* Name;
  };
  for (const Case& c : {Case{"C:\\Tools\\Amp.exe", "Amp.exe"}, {"C:\\Program Files\\Norvik\\LIRRIN.EXE", "LIRRIN.EXE"},
                        {"D:\\a.b\\Amp.new.exe", "Amp.new.exe"}, {"Amp.exe", "Amp.exe"}, {"C:\\Tools\\", ""}}) {
    EXPECT_EQ(InstanceMutexName(c.Path), c.Name) << c.Path;
  }
}

TEST(InstanceCheck, SwitchesAnywhereInAnyCase) {
  struct Case {
    const char* Line;
    bool Debug, Uninstall;
  };
  for (const Case& c : {Case{"\"C:\\Tools\\Lirrin.exe\"", false, false},
                        {"Lirrin.exe /debug", true, false},
                        {"Lirrin.exe /Uninstall", false, true},
                        {"Lirrin.exe/DEBUG/UNINSTALL", true, true},
                        // The program's own path is part of the searched line.
                        {"C:/tools/debug/Lirrin.exe", true, false},
                        {"Lirrin.exe -debug \\uninstall", false, false},
                        {"Lirrin.exe /UNINSTAL", false, false}}) {
    const TInstanceSwitches switches = ParseInstanceSwitches(c.Line);
    EXPECT_EQ(switches.Debug, c.Debug) << c.Line;
    EXPECT_EQ(switches.Uninstall, c.Uninstall) << c.Line;
  }
}

TEST(PanelPlacement, AboveTheCursorInsideTheWorkArea) {
  constexpr TWorkArea kBottomBar{0, 0, 1920, 1040};    // task bar at the bottom
  constexpr TWorkArea kTopBar{0, 40, 1920, 1080};      // task bar at the top
  constexpr TWorkArea kLeftBar{60, 0, 1920, 1080};     // task bar on the left
  constexpr TWorkArea kSecondMonitor{-1280, 0, 0, 1024};
  struct Case {
    TPanelPoint Cursor;
    TWorkArea Work;
    TPanelPoint Expected;
  };
  for (const Case& c : {
           Case{{500, 800}, kBottomBar, {465, 537}},       // the plain formula
           Case{{1900, 1060}, kBottomBar, {1849, 787}},    // right edge: kept on screen
           Case{{1900, 20}, kTopBar, {1849, 40}},          // top bar: below it, not off screen
           Case{{30, 700}, kLeftBar, {60, 437}},           // left bar: beside it, not under it
           Case{{-600, 1000}, kSecondMonitor, {-635, 737}},
           Case{{-1270, 5}, kSecondMonitor, {-1280, 0}},
       }) {
    EXPECT_EQ(PanelPosition(c.Cursor, 71, 253, c.Work), c.Expected) << c.Cursor.X << "," << c.Cursor.Y;
  }
  // An odd width: the half is truncated toward zero.
  EXPECT_EQ(PanelPosition({100, 500}, 71, 253, kBottomBar).X, 65);
}

class StoredValueTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteKeyA(HKEY_CURRENT_USER, kKey); }
  void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, kKey); }
  static void Put(DWORD type, const void* data, DWORD size) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, "Value", 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
  }
  static constexpr const char* kKey = "Software\\Norvik\\Lirrin";
};

TEST_F(StoredValueTest, MissingKeyIsNoValueAndASaveCreatesIt) {
  EXPECT_FALSE(LoadStoredValue());
  ASSERT_TRUE(SaveStoredValue(0x00078A8A));
  EXPECT_EQ(LoadStoredValue(), 0x00078A8Au);
  ASSERT_TRUE(SaveStoredValue(0x3F3F));
  EXPECT_EQ(LoadStoredValue(), 0x3F3Fu);
}

// Only a 4-byte REG_DWORD is a stored word.
TEST_F(StoredValueTest, OtherTypesAndSizesAreNoValue) {
  const DWORD word = 0x1414;
  const unsigned long long wide = 0x1414;
  Put(REG_BINARY, &word, sizeof word);
  EXPECT_FALSE(LoadStoredValue());
  Put(REG_QWORD, &wide, sizeof wide);
  EXPECT_FALSE(LoadStoredValue());
  Put(REG_DWORD, &word, 2);
  EXPECT_FALSE(LoadStoredValue());
  Put(REG_SZ, "1414", 5);
  EXPECT_FALSE(LoadStoredValue());
  Put(REG_DWORD, &word, sizeof word);
  EXPECT_EQ(LoadStoredValue(), 0x1414u);
}

}  // namespace
}  // namespace lirrin
