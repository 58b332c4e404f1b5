#include "app/ui/mouse_clicker.h"

namespace lirrin {

void TMouseClicker::Click(HWND window, TButton button, bool block, int x, int y) {
  DWORD down = MOUSEEVENTF_LEFTDOWN, up = MOUSEEVENTF_LEFTUP;
  if (button == kRight) {
    down = MOUSEEVENTF_RIGHTDOWN;
    up = MOUSEEVENTF_RIGHTUP;
  } else if (button == kMiddle) {
    down = MOUSEEVENTF_MIDDLEDOWN;
    up = MOUSEEVENTF_MIDDLEUP;
  }
  // No movement and no position: the click lands where the cursor is.
  INPUT inputs[2] = {};
  inputs[0].type = inputs[1].type = INPUT_MOUSE;
  inputs[0].mi.dwFlags = down;
  inputs[1].mi.dwFlags = up;

  if (block) BlockInput(TRUE);
  bool attached = false;
  if (window != nullptr) {
    TargetThread = GetWindowThreadProcessId(window, nullptr);
    const HWND foreground = GetForegroundWindow();
    ForegroundThread = GetWindowThreadProcessId(foreground, nullptr);
    if (TargetThread != ForegroundThread) {
      attached = AttachThreadInput(TargetThread, ForegroundThread, TRUE) != FALSE;
      if (attached) SetActiveWindow(foreground);
    }
  }
  POINT saved;
  GetCursorPos(&saved);
  SetCursorPos(x, y);
  SendInput(2, inputs, sizeof(INPUT));
  SetCursorPos(saved.x, saved.y);
  if (attached) AttachThreadInput(TargetThread, ForegroundThread, FALSE);
  if (block) BlockInput(FALSE);
}

}  // namespace lirrin
