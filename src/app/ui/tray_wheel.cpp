#include "app/ui/tray_wheel.h"

#include "app/ui/wheel.h"
#include "support/debug_console.h"

namespace lirrin {

namespace {

// The generic desktop page's mouse, as raw input names devices.
constexpr USHORT kUsagePageGeneric = 0x01;
constexpr USHORT kUsageMouse = 0x02;

TIconSize SmallIconSize() { return {GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)}; }

void Log(std::string_view text) { TDebugConsole::Instance(false)->Log("TTrayWheel", text, kColorDefault); }

}  // namespace

TTrayWheel::TTrayWheel(HWND listener, const TTrayIcon& icon, std::function<void(int steps)> onSteps)
    : Listener(listener), Icon(icon), OnSteps(std::move(onSteps)) {}

TTrayWheel::~TTrayWheel() { StopListening(); }

void TTrayWheel::Hovered() {
  POINT cursor;
  if (!GetCursorPos(&cursor)) return;
  HoverPoint = TPanelPoint{cursor.x, cursor.y};
  if (!Listening) Listen();
}

// The sink flag delivers the input while another window is in front, as
// the tray is whenever the cursor is over it.
void TTrayWheel::Listen() {
  if (const std::optional<RECT> rect = Icon.ScreenRect()) {
    IconRect = TWorkArea{rect->left, rect->top, rect->right, rect->bottom};
  }
  const RAWINPUTDEVICE mouse{kUsagePageGeneric, kUsageMouse, RIDEV_INPUTSINK, Listener};
  Listening = RegisterRawInputDevices(&mouse, 1, sizeof mouse) != FALSE;
  Log(Listening ? "listening" : "cannot listen");
}

void TTrayWheel::StopListening() {
  if (Listening) {
    const RAWINPUTDEVICE mouse{kUsagePageGeneric, kUsageMouse, RIDEV_REMOVE, nullptr};
    RegisterRawInputDevices(&mouse, 1, sizeof mouse);
    Listening = false;
    Log("stopped");
  }
  IconRect.reset();
  HoverPoint.reset();
  Remainder = 0;
}

// The raw input tells what the mouse did; whether it happened on the icon
// is the cursor's position now.
void TTrayWheel::RawInput(LPARAM input) {
  RAWINPUT raw;
  UINT size = sizeof raw;
  if (!Listening || GetRawInputData(reinterpret_cast<HRAWINPUT>(input), RID_INPUT, &raw, &size,
                                    sizeof(RAWINPUTHEADER)) == static_cast<UINT>(-1) ||
      raw.header.dwType != RIM_TYPEMOUSE) {
    return;
  }
  POINT cursor;
  if (!GetCursorPos(&cursor) ||
      !OverTrayIcon({cursor.x, cursor.y}, IconRect, HoverPoint, SmallIconSize()) || !Icon.Visible()) {
    StopListening();
    return;
  }
  if ((raw.data.mouse.usButtonFlags & RI_MOUSE_WHEEL) == 0) return;
  Log("wheel");
  const int steps = TakeWheelSteps(Remainder, static_cast<short>(raw.data.mouse.usButtonData));
  if (steps != 0) OnSteps(steps);
}

}  // namespace lirrin
