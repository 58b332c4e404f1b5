#pragma once
// What a screen reader hears of a control, where the system's own answer
// is wrong: the volume slider runs a native trackbar upside down (its
// minimum is at the top), so the trackbar would report 63 minus the
// volume; the mute button is a window of its own class, which the system
// takes for a plain client area with neither a button's role nor a state.
//
// The control answers WM_GETOBJECT for its client object with the system's
// standard accessible object wrapped so that the answers given here replace
// the system's; everything else (name, location, children, ...) is the
// system's.

#include <windows.h>

#include <functional>
#include <string>

namespace lirrin {

struct TAccessibleAnswers {
  std::function<std::wstring()> Value;  // the control's value; none: the system's
  long Role = 0;                        // a ROLE_SYSTEM_ constant; 0: the system's
  std::function<long()> State;          // STATE_SYSTEM_ bits added to the system's; none: the system's alone
};

// The answer to a control's WM_GETOBJECT, or 0 to let the control's own
// handling answer.
LRESULT AccessibleWith(HWND control, WPARAM wParam, LPARAM lParam, TAccessibleAnswers answers);

}  // namespace lirrin
