#pragma once
// TVolumeBar: the vertical volume slider, 0 to 63 with 63 at the top.
//
// A native vertical trackbar keeps its minimum at the top, so the bar runs
// the native control over 0..63 and reads it upside down. It raises its
// change event on every change of position the user makes, and never when
// a position is set to the one it already has; the program shows what the
// amplifier holds without one. The keys
// move one step: Up, Right and Page Up raise the volume, Down, Left and
// Page Down lower it; a wheel notch is one step, away from the user louder.
// Its window text, "Volume", names it for screen readers, and the value
// they hear is the volume itself (accessible_value.h).

#include <windows.h>

#include <functional>

namespace lirrin {

class TVolumeBar {
 public:
  static constexpr int kMaximum = 63;

  // Creates the control as a child of `parent`.
  void Create(HWND parent, HINSTANCE instance);
  HWND Handle() const { return Window; }

  int Position() const { return Shown; }
  // Raises the change event when `position` differs from the one shown:
  // the user's moves.
  void SetPosition(int position);
  // Shows `position` without a change event: what the amplifier holds.
  void ShowPosition(int position);
  void SetOnChange(std::function<void()> handler) { OnChange = std::move(handler); }

  // The parent forwards the control's WM_VSCROLL notifications here.
  void Scrolled();
  // A wheel movement of `delta` (a notch is 120), on the bar or elsewhere.
  void Wheel(int delta);

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  int ControlPosition() const;

  HWND Window = nullptr;
  WNDPROC NativeProc = nullptr;
  int Shown = 0;
  int WheelDelta = 0;  // wheel movement not yet worth a whole step
  std::function<void()> OnChange;
};

}  // namespace lirrin
