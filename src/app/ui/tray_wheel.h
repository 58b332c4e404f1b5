#pragma once
// TTrayWheel: the mouse wheel over the tray icon changes the volume. The
// wheel goes to the window under the cursor, which is the tray's, so only
// a low-level mouse hook sees it; the hook passes every other wheel on and
// takes the ones on the icon (wheel.h decides which).

#include <windows.h>

#include <functional>
#include <optional>

#include "app/ui/panel_placement.h"
#include "app/ui/tray_icon.h"

namespace lirrin {

class TTrayWheel {
 public:
  // `onSteps` gets whole volume steps (negative: quieter). One per process.
  TTrayWheel(const TTrayIcon& icon, std::function<void(int steps)> onSteps);
  ~TTrayWheel();
  TTrayWheel(const TTrayWheel&) = delete;
  TTrayWheel& operator=(const TTrayWheel&) = delete;

  // The tray reported the mouse moving over the icon.
  void Hovered();

 private:
  static LRESULT CALLBACK HookProc(int code, WPARAM wParam, LPARAM lParam);
  bool Take(WPARAM message, const MSLLHOOKSTRUCT& mouse);

  static inline TTrayWheel* Current = nullptr;
  const TTrayIcon& Icon;
  std::function<void(int)> OnSteps;
  HHOOK Hook = nullptr;
  std::optional<TPanelPoint> HoverPoint;
  int Remainder = 0;  // wheel movement not yet worth a whole step
};

}  // namespace lirrin
