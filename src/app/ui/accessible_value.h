#pragma once
// What a screen reader hears as a control's value, where the system's own
// answer is wrong: the volume slider runs a native trackbar upside down (its
// minimum is at the top), so the trackbar would report 63 minus the volume.
//
// The control answers WM_GETOBJECT for its client object with the system's
// standard accessible object wrapped so that the value comes from `value`;
// everything else (name, role, state, location, children) is the system's.

#include <windows.h>

#include <functional>
#include <string>

namespace lirrin {

// The answer to a control's WM_GETOBJECT, or 0 to let the control's own
// handling answer.
LRESULT AccessibleWithValue(HWND control, WPARAM wParam, LPARAM lParam, std::function<std::wstring()> value);

}  // namespace lirrin
