#include "app/ui/volume_bar.h"

#include <commctrl.h>

#include <algorithm>
#include <string>

#include "app/ui/accessible_value.h"
#include "app/ui/application.h"
#include "app/ui/wheel.h"

namespace lirrin {

namespace {

// The window property that leads from the control to its TVolumeBar; the
// control's own window data belongs to the common controls.
constexpr const wchar_t* kProperty = L"LirrinVolumeBar";

}  // namespace

void TVolumeBar::Create(HWND parent, HINSTANCE instance) {
  // No tick marks and no position tip: the picture below tells the state.
  // The text is the slider's name for screen readers.
  Window = CreateWindowExW(0, TRACKBAR_CLASSW, L"Volume", WS_CHILD | WS_VISIBLE | WS_TABSTOP | TBS_VERT | TBS_NOTICKS,
                           0, 0, 0, 0, parent, nullptr, instance, nullptr);
  SendMessageW(Window, TBM_SETRANGEMIN, FALSE, 0);
  SendMessageW(Window, TBM_SETRANGEMAX, FALSE, kMaximum);
  SendMessageW(Window, TBM_SETLINESIZE, 0, 1);
  SendMessageW(Window, TBM_SETPAGESIZE, 0, 1);  // a click on the track moves one step
  Shown = 0;
  SendMessageW(Window, TBM_SETPOS, TRUE, kMaximum - Shown);
  SetPropW(Window, kProperty, this);
  NativeProc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(Window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TVolumeBar::SubclassProc)));
}

int TVolumeBar::ControlPosition() const {
  return kMaximum - static_cast<int>(SendMessageW(Window, TBM_GETPOS, 0, 0));
}

void TVolumeBar::SetPosition(int position) {
  position = std::clamp(position, 0, kMaximum);
  if (position == Shown) return;
  Shown = position;
  SendMessageW(Window, TBM_SETPOS, TRUE, kMaximum - position);
  if (OnChange) OnChange();
}

void TVolumeBar::ShowPosition(int position) {
  Shown = std::clamp(position, 0, kMaximum);
  SendMessageW(Window, TBM_SETPOS, TRUE, kMaximum - Shown);
}

void TVolumeBar::Wheel(int delta) {
  const int steps = TakeWheelSteps(WheelDelta, delta);
  if (steps != 0) SetPosition(Position() + steps);
}

void TVolumeBar::Scrolled() {
  const int position = ControlPosition();
  if (position == Shown) return;
  Shown = position;
  if (OnChange) OnChange();
}

LRESULT CALLBACK TVolumeBar::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* bar = static_cast<TVolumeBar*>(GetPropW(window, kProperty));
  return TApplication::Guarded([&]() -> LRESULT {
    switch (message) {
      case WM_KEYDOWN:
        // The native control reads a vertical bar from the top: Left would
        // move the volume up, Home to 63 and End to 0, so that one key took
        // the headphones from quiet to full. Here Left lowers and Right
        // raises, like Down and Up; Home is the quietest, End the loudest.
        switch (wParam) {
          case VK_LEFT:
          case VK_RIGHT:
            bar->SetPosition(bar->Position() + (wParam == VK_RIGHT ? 1 : -1));
            return 0;
          case VK_HOME:
            bar->SetPosition(0);
            return 0;
          case VK_END:
            bar->SetPosition(kMaximum);
            return 0;
          default:
            break;
        }
        break;
      case WM_MOUSEWHEEL:
        bar->Wheel(GET_WHEEL_DELTA_WPARAM(wParam));
        return 0;
      case WM_GETOBJECT: {
        // Screen readers hear the volume, not the native position.
        TAccessibleAnswers answers;
        answers.Value = [bar] { return std::to_wstring(bar->Position()); };
        if (const LRESULT answer = AccessibleWith(window, wParam, lParam, std::move(answers))) return answer;
        break;
      }
      case WM_NCDESTROY:
        RemovePropW(window, kProperty);
        break;
      default:
        break;
    }
    return CallWindowProcW(bar->NativeProc, window, message, wParam, lParam);
  });
}

}  // namespace lirrin
