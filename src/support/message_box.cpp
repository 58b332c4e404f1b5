#include "support/message_box.h"

namespace lirrin {

namespace {

TMessageBoxRecorder recorder;

}  // namespace

void ShowErrorBox(const TMessageBox& box) {
  if (recorder) {
    recorder(box);
  } else {
    ShowPlatformErrorBox(box);
  }
}

void SetMessageBoxRecorder(TMessageBoxRecorder newRecorder) { recorder = std::move(newRecorder); }

}  // namespace lirrin
