#pragma once
// TTrayWheel: the mouse wheel over the tray icon changes the volume. The
// wheel goes to the window under the cursor, which is the tray's, so the
// program listens to the raw mouse input, and only while the cursor is on
// the icon: the tray's report of the mouse moving over the icon starts the
// listening, and the first mouse input off the icon ends it (wheel.h
// decides which). Elsewhere no mouse input of the session reaches the
// program, and it installs no system hook at any time.

#include <windows.h>

#include <functional>
#include <optional>

#include "app/ui/panel_placement.h"
#include "app/ui/tray_icon.h"

namespace lirrin {

class TTrayWheel {
 public:
  // `listener` gets WM_INPUT while the cursor is on the icon and passes it
  // to RawInput; `onSteps` gets whole volume steps (negative: quieter).
  TTrayWheel(HWND listener, const TTrayIcon& icon, std::function<void(int steps)> onSteps);
  ~TTrayWheel();
  TTrayWheel(const TTrayWheel&) = delete;
  TTrayWheel& operator=(const TTrayWheel&) = delete;

  // The tray reported the mouse moving over the icon.
  void Hovered();
  // WM_INPUT's lParam.
  void RawInput(LPARAM input);

 private:
  void Listen();
  void StopListening();

  HWND Listener;
  const TTrayIcon& Icon;
  std::function<void(int)> OnSteps;
  bool Listening = false;
  std::optional<TWorkArea> IconRect;  // taken once per hover, where the system tells it
  std::optional<TPanelPoint> HoverPoint;
  int Remainder = 0;  // wheel movement not yet worth a whole step
};

}  // namespace lirrin
