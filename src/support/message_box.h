#pragma once
// Message boxes go through this one seam: the program shows them with the
// system's message box, tests install a recorder instead so that nothing
// blocks on a click, and POSIX builds (the CLI) print the text to standard
// error.

#include <functional>

#include "support/text.h"

namespace lirrin {

struct TMessageBox {
  TText Text;
  TText Caption;
  // Above every window of every application; otherwise modal to the thread.
  bool SystemModal = false;
};

// An error box (error icon, one OK button, no owner window); returns once it
// is closed.
void ShowErrorBox(const TMessageBox& box);

using TMessageBoxRecorder = std::function<void(const TMessageBox&)>;
// Boxes go to `recorder` from now on; an empty recorder restores the
// platform's boxes.
void SetMessageBoxRecorder(TMessageBoxRecorder recorder);

// The platform's box (message_box_win.cpp / message_box_posix.cpp).
void ShowPlatformErrorBox(const TMessageBox& box);

}  // namespace lirrin
