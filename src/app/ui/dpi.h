#pragma once
// The panel is designed at 96 dots per inch and scaled to the DPI of the
// monitor it is on. Systems before 8.1 have one DPI for all monitors; the
// per-monitor call is looked up at run time so the program still starts on
// XP.

#include <windows.h>

namespace lirrin {

constexpr UINT kDesignDpi = 96;

UINT MonitorDpi(HMONITOR monitor);
// A designed length at `dpi`.
inline int Scaled(int designed, UINT dpi) { return MulDiv(designed, static_cast<int>(dpi), kDesignDpi); }

}  // namespace lirrin
