#pragma once
// TPictureButton: the round mute button, a child window that shows one of
// two PNG pictures stretched to its size and reports a click (a press and
// release of the left button inside it, or Space while it has the keyboard
// focus, which Tab gives it). Disabled, it takes no clicks. Its text,
// "Mute", names it for screen readers, which hear it as a check button,
// checked or not, and are told when that changes.

#include <windows.h>

#include <functional>

#include "app/ui/png_picture.h"

namespace lirrin {

class TPictureButton {
 public:
  void Create(HWND parent, HINSTANCE instance);
  HWND Handle() const { return Window; }

  // The picture shown (not owned, it must outlive the button) and whether
  // the button is checked.
  void Show(const TPngPicture* picture, bool checked);
  const TPngPicture* Shown() const { return Picture; }
  bool Checked() const { return Checked_; }
  void SetOnClick(std::function<void()> handler) { OnClick = std::move(handler); }

 private:
  template <typename TWindow>
  friend LRESULT CALLBACK WindowEntry(HWND, UINT, WPARAM, LPARAM);
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Paint();

  HWND Window = nullptr;
  const TPngPicture* Picture = nullptr;
  bool Checked_ = false;
  bool Pressed = false;
  std::function<void()> OnClick;
};

}  // namespace lirrin
