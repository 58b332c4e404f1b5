#pragma once
// The mouse wheel as volume steps, on the slider and over the tray icon.
//
// A notch is WHEEL_DELTA (120); finer wheels send parts of a notch, which
// add up until they make a whole step. Away from the user is louder.
//
// Over the tray icon the wheel reaches no window of the program: the raw
// mouse input shows it, and it counts only while the cursor is on the
// icon. Where the system tells the icon's rectangle (Windows 7 and
// later) that decides; elsewhere the tray's own reports of the mouse moving
// over the icon do: the cursor is on the icon while it stays within an
// icon's size of the last point the tray reported, and a move farther away
// forgets that point.

#include <optional>

#include "app/ui/panel_placement.h"

namespace lirrin {

constexpr int kWheelNotch = 120;  // WHEEL_DELTA

// Adds `delta` to the part of a notch kept in `remainder` and returns the
// whole steps it makes (negative: quieter), keeping the rest.
constexpr int TakeWheelSteps(int& remainder, int delta) {
  remainder += delta;
  const int steps = remainder / kWheelNotch;  // truncates toward zero, so the rest keeps its sign
  remainder -= steps * kWheelNotch;
  return steps;
}

struct TIconSize {
  int Width = 16, Height = 16;
};

constexpr bool NearHoverPoint(TPanelPoint cursor, TPanelPoint hover, TIconSize icon) {
  const int dx = cursor.X - hover.X, dy = cursor.Y - hover.Y;
  return dx > -icon.Width && dx < icon.Width && dy > -icon.Height && dy < icon.Height;
}

// Whether the cursor is on the tray icon: in `iconRect` when the system
// told it, else near the last point the tray reported the mouse over it.
constexpr bool OverTrayIcon(TPanelPoint cursor, const std::optional<TWorkArea>& iconRect,
                            const std::optional<TPanelPoint>& hover, TIconSize icon) {
  if (iconRect) {
    return cursor.X >= iconRect->Left && cursor.X < iconRect->Right && cursor.Y >= iconRect->Top &&
           cursor.Y < iconRect->Bottom;
  }
  return hover && NearHoverPoint(cursor, *hover, icon);
}

}  // namespace lirrin
