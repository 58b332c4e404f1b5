#include "app/ui/tray_wheel.h"

#include "app/ui/application.h"
#include "app/ui/wheel.h"

namespace lirrin {

TTrayWheel::TTrayWheel(const TTrayIcon& icon, std::function<void(int steps)> onSteps)
    : Icon(icon), OnSteps(std::move(onSteps)) {
  Current = this;
  Hook = SetWindowsHookExW(WH_MOUSE_LL, HookProc, GetModuleHandleW(nullptr), 0);
}

TTrayWheel::~TTrayWheel() {
  if (Hook != nullptr) UnhookWindowsHookEx(Hook);
  Current = nullptr;
}

void TTrayWheel::Hovered() {
  POINT cursor;
  if (GetCursorPos(&cursor)) HoverPoint = TPanelPoint{cursor.x, cursor.y};
}

// Runs on the program's thread between its messages, and every mouse event
// of the session waits for it: it decides at once and does no more.
LRESULT CALLBACK TTrayWheel::HookProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && Current != nullptr &&
      TApplication::Guarded([&] {
        return static_cast<LRESULT>(Current->Take(wParam, *reinterpret_cast<const MSLLHOOKSTRUCT*>(lParam)));
      })) {
    return 1;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool TTrayWheel::Take(WPARAM message, const MSLLHOOKSTRUCT& mouse) {
  const TPanelPoint cursor{mouse.pt.x, mouse.pt.y};
  const TIconSize icon{GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON)};
  if (message == WM_MOUSEMOVE) {
    if (HoverPoint && !NearHoverPoint(cursor, *HoverPoint, icon)) HoverPoint.reset();
    return false;
  }
  if (message != WM_MOUSEWHEEL || !Icon.Visible()) return false;
  std::optional<TWorkArea> iconRect;
  if (const std::optional<RECT> rect = Icon.ScreenRect()) {
    iconRect = TWorkArea{rect->left, rect->top, rect->right, rect->bottom};
  }
  if (!OverTrayIcon(cursor, iconRect, HoverPoint, icon)) return false;
  const int steps = TakeWheelSteps(Remainder, static_cast<short>(HIWORD(mouse.mouseData)));
  if (steps != 0) OnSteps(steps);
  return true;
}

}  // namespace lirrin
