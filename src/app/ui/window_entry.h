#pragma once
// The one window procedure of every window class the program registers.
// CreateWindowEx is given the C++ object that stands for the window; its
// WM_NCCREATE keeps that object in the window's user data, and from then on
// every message goes to the object's HandleMessage. Messages before that
// (and any window without an object) get the default handling. Window
// procedures run inside system code, which a C++ exception must not cross:
// what escapes is kept for the message loop (TApplication::Guarded).

#include <windows.h>

#include "app/ui/application.h"

namespace lirrin {

template <typename TWindow>
LRESULT CALLBACK WindowEntry(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* object = reinterpret_cast<TWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (object == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  return TApplication::Guarded([&] { return object->HandleMessage(window, message, wParam, lParam); });
}

}  // namespace lirrin
