#pragma once
// Where the panel opens from the tray icon: centred above the cursor, its
// bottom edge 10 pixels above it, then moved as little as needed to lie
// inside the work area of the monitor under the cursor. With the task bar
// at the bottom that is the plain formula; with the task bar at the top or
// on a side the formula alone would put the panel off screen or under the
// task bar.

#include <algorithm>

namespace lirrin {

struct TPanelPoint {
  int X = 0;
  int Y = 0;
  bool operator==(const TPanelPoint&) const = default;
};

struct TWorkArea {
  int Left = 0, Top = 0, Right = 0, Bottom = 0;
};

// The top-left corner for a panel of `width` x `height` (its outer size).
constexpr TPanelPoint PanelPosition(TPanelPoint cursor, int width, int height, const TWorkArea& work) {
  const int left = cursor.X - width / 2;  // C++ division truncates toward zero
  const int top = cursor.Y - height - 10;
  return {std::max(work.Left, std::min(left, work.Right - width)),
          std::max(work.Top, std::min(top, work.Bottom - height))};
}

}  // namespace lirrin
