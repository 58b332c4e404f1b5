#pragma once
// TMouseClicker: one synthesised mouse click at a screen point. The panel
// uses it to become the active window when it opens from the tray: a window
// that was only shown is not active, so it would never see the loss of
// activation that hides it again.

#include <windows.h>

namespace lirrin {

class TMouseClicker {
 public:
  enum TButton { kLeft = 1, kRight = 2, kMiddle = 4 };

  // Clicks `button` at (x, y) and puts the cursor back. With `window`, that
  // window's thread shares the foreground thread's input state during the
  // click, so the click may activate it. With `block`, the user's own input
  // waits until the click is done.
  void Click(HWND window, TButton button, bool block, int x, int y);

 private:
  DWORD TargetThread = 0;      // the thread of the window clicked
  DWORD ForegroundThread = 0;  // the foreground window's thread at the click
};

}  // namespace lirrin
