// The tray program's rules that need no window: the instance mutex name and
// the command-line switches, where the panel opens from the tray, the wheel
// over the tray icon, and the stored word in the registry.
#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/system/instance_check.h"
#include "app/system/stored_value.h"
#include "app/ui/panel_placement.h"
#include "app/ui/picture_button.h"
#include "app/ui/volume_bar.h"
#include "app/ui/wheel.h"

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

// A copy started while another runs stops; one started while another is
// ending (it set its event) waits for it to go and then runs in its place.
// The running copy is stood in for by its two names in this process; once
// the check has gone on, this process is the running copy.
TEST(InstanceCheck, ACopyStartedWhileAnotherEndsTakesItsPlace) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  const std::string name = InstanceMutexName(path);
  HANDLE running = CreateMutexA(nullptr, FALSE, name.c_str());
  ASSERT_NE(running, nullptr);
  EXPECT_FALSE(RunInstanceCheck(L"Instance test"));  // running, not ending

  const HANDLE ending = CreateEventA(nullptr, TRUE, TRUE, EndingEventName(name).c_str());
  ASSERT_NE(ending, nullptr);
  std::thread goes([running] {
    Sleep(300);
    CloseHandle(running);
  });
  EXPECT_TRUE(RunInstanceCheck(L"Instance test"));
  goes.join();
  CloseHandle(ending);
}

// Whole notches are steps; parts of a notch (fine wheels) add up, in either
// direction, without a step lost or made twice.
TEST(Wheel, NotchesAndPartsMakeSteps) {
  struct Case {
    std::vector<int> Deltas;
    std::vector<int> Steps;
  };
  for (const Case& c : {Case{{120, 120, -120}, {1, 1, -1}}, Case{{240}, {2}}, Case{{40, 40, 40, 40}, {0, 0, 1, 0}},
                        Case{{-60, -60, 60}, {0, -1, 0}}, Case{{100, -100, 100}, {0, 0, 0}},
                        Case{{90, 90, -120}, {0, 1, 0}}}) {
    int remainder = 0;
    std::vector<int> steps;
    for (int delta : c.Deltas) steps.push_back(TakeWheelSteps(remainder, delta));
    EXPECT_EQ(steps, c.Steps) << ::testing::PrintToString(c.Deltas);
  }
}

// Over the tray icon or not: the icon's rectangle decides where the system
// tells it; otherwise the last point the tray reported the mouse over the
// icon, within an icon's size; with neither, the wheel is never the icon's.
TEST(Wheel, OnTheTrayIconOnly) {
  constexpr TIconSize kIcon{16, 16};
  const std::optional<TWorkArea> rect = TWorkArea{100, 740, 116, 756};
  const std::optional<TPanelPoint> hover = TPanelPoint{108, 748};
  struct Case {
    TPanelPoint Cursor;
    std::optional<TWorkArea> Rect;
    std::optional<TPanelPoint> Hover;
    bool Over;
  };
  for (const Case& c : {Case{{100, 740}, rect, std::nullopt, true}, Case{{115, 755}, rect, std::nullopt, true},
                        Case{{116, 748}, rect, std::nullopt, false}, Case{{108, 739}, rect, std::nullopt, false},
                        Case{{300, 300}, rect, hover, false},  // the rectangle wins over a stale hover point
                        Case{{108, 748}, std::nullopt, hover, true}, Case{{123, 763}, std::nullopt, hover, true},
                        Case{{124, 748}, std::nullopt, hover, false}, Case{{108, 732}, std::nullopt, hover, false},
                        Case{{108, 748}, std::nullopt, std::nullopt, false}}) {
    EXPECT_EQ(OverTrayIcon(c.Cursor, c.Rect, c.Hover, kIcon), c.Over) << c.Cursor.X << "," << c.Cursor.Y;
  }
}

// A hidden parent for one control, in an apartment for the accessibility
// calls. Controls need a display: without one a test is skipped (the GUI
// tests run these on theirs).
class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    Parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 100, 300, nullptr, nullptr, GetModuleHandleW(nullptr),
                             nullptr);
    if (Parent == nullptr) GTEST_SKIP() << "no display for the controls here";
  }
  void TearDown() override {
    if (Parent != nullptr) DestroyWindow(Parent);
    CoUninitialize();
  }

  HWND Parent = nullptr;
};

// What a screen reader gets from the volume slider: its name, and the
// volume itself as the value (the native trackbar runs upside down, so its
// own value would be 63 minus the volume). Asked through the accessibility
// interface in this process; a reader in another process needs the same
// answer marshalled, which the GUI tests try.
TEST_F(ControlTest, SlidersVolumeIsWhatScreenReadersHear) {
  TVolumeBar bar;
  bar.Create(Parent, GetModuleHandleW(nullptr));
  if (bar.Handle() == nullptr) GTEST_SKIP() << "no display for the controls here";
  for (int volume : {0, 10, 63}) {
    bar.ShowPosition(volume);
    IAccessible* accessible = nullptr;
    const HRESULT found = AccessibleObjectFromWindow(bar.Handle(), static_cast<DWORD>(OBJID_CLIENT),
                                                     __uuidof(IAccessible), reinterpret_cast<void**>(&accessible));
    ASSERT_TRUE(SUCCEEDED(found)) << std::hex << found;
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR value = nullptr, name = nullptr;
    EXPECT_EQ(accessible->get_accValue(self, &value), S_OK);
    EXPECT_EQ(std::wstring(value != nullptr ? value : L""), std::to_wstring(volume));
    if (SUCCEEDED(accessible->get_accName(self, &name)) && name != nullptr) {
      EXPECT_EQ(std::wstring(name), L"Volume");
    }
    SysFreeString(value);
    SysFreeString(name);
    accessible->Release();
  }
}

// The windows whose client object announced a change of state.
std::vector<HWND> StateChanges;
void CALLBACK RecordStateChange(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD) {
  if (object == OBJID_CLIENT && child == CHILDID_SELF) StateChanges.push_back(window);
}

// The mute button is heard as a check button, checked while muted, and a
// change of that state is announced to screen readers.
TEST_F(ControlTest, MuteButtonIsAToggleToScreenReaders) {
  TPictureButton button;
  button.Create(Parent, GetModuleHandleW(nullptr));
  if (button.Handle() == nullptr) GTEST_SKIP() << "no display for the controls here";
  StateChanges.clear();
  const HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_STATECHANGE, EVENT_OBJECT_STATECHANGE, nullptr,
                                             RecordStateChange, GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
  const auto heard = [&] {
    IAccessible* accessible = nullptr;
    EXPECT_TRUE(SUCCEEDED(AccessibleObjectFromWindow(button.Handle(), static_cast<DWORD>(OBJID_CLIENT),
                                                     __uuidof(IAccessible), reinterpret_cast<void**>(&accessible))));
    if (accessible == nullptr) return std::wstring(L"none");
    VARIANT self, role, state;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VariantInit(&role);
    VariantInit(&state);
    BSTR name = nullptr;
    accessible->get_accName(self, &name);
    accessible->get_accRole(self, &role);
    accessible->get_accState(self, &state);
    std::wstring text = std::wstring(name != nullptr ? name : L"") +
                        (role.vt == VT_I4 && role.lVal == ROLE_SYSTEM_CHECKBUTTON ? L" check button" : L" other") +
                        (state.vt == VT_I4 && (state.lVal & STATE_SYSTEM_CHECKED) != 0 ? L" checked" : L"");
    SysFreeString(name);
    accessible->Release();
    return text;
  };
  EXPECT_EQ(heard(), L"Mute check button");
  button.Show(nullptr, true);
  EXPECT_EQ(heard(), L"Mute check button checked");
  button.Show(nullptr, false);
  EXPECT_EQ(heard(), L"Mute check button");
  if (hook != nullptr) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    EXPECT_EQ(StateChanges, (std::vector<HWND>{button.Handle(), button.Handle()}));
    UnhookWinEvent(hook);
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
  ASSERT_EQ(SaveStoredValue(0x00078A8A).Outcome, TSaveOutcome::Saved);
  EXPECT_EQ(LoadStoredValue(), 0x00078A8Au);
  ASSERT_EQ(SaveStoredValue(0x3F3F).Outcome, TSaveOutcome::Saved);
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
