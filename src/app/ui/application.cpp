#include "app/ui/application.h"

#include <stdexcept>
#include <utility>

#include "app/system/requests.h"
#include "app/ui/resource_ids.h"
#include "app/ui/window_entry.h"

namespace lirrin {

TApplication::TApplication(HINSTANCE instance) : Module(instance) {}

TApplication::~TApplication() {
  if (Window != nullptr) DestroyWindow(Window);
}

void TApplication::Initialize(const std::wstring& title) {
  TitleText = title;
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = WindowEntry<TApplication>;
  windowClass.hInstance = Module;
  windowClass.hIcon = LoadIconW(Module, MAKEINTRESOURCEW(IDI_MAINICON));
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.lpszClassName = kWindowClass;
  if (RegisterClassExW(&windowClass) == 0) {
    throw std::runtime_error("The application window class cannot be registered");
  }
  // A captioned popup of no size: it has a task bar entry, but nothing of it
  // shows on the desktop.
  Window = CreateWindowExW(0, kWindowClass, title.c_str(),
                           WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                           GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, nullptr,
                           nullptr, Module, this);
  if (Window == nullptr) throw std::runtime_error("The application window cannot be created");
}

void TApplication::Run() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (Hook && Guarded([&] { return static_cast<LRESULT>(Hook(message)); })) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
    if (Pending) break;
  }
  if (Pending) std::rethrow_exception(std::exchange(Pending, nullptr));
}

void TApplication::Minimize() { ShowWindow(Window, SW_MINIMIZE); }

void TApplication::Restore() { ShowWindow(Window, SW_RESTORE); }

LRESULT TApplication::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kCloseRequest:
    case kRestoreRequest:
    case kRemoveLogonRequest:
      if (Requests && Requests(message)) return 0;
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_CLOSE:
      // From the task bar button's menu, or sent by another program: the
      // program ends the way a close request ends it, never by losing its
      // windows while the process runs on.
      if (Requests) Requests(kCloseRequest);
      return 0;
    case WM_QUERYENDSESSION:
      return TRUE;
    case WM_ENDSESSION:
      // The session ends: no close handling, but what must be kept is kept,
      // then the process ends at once.
      if (wParam != FALSE) {
        Guarded([&] {
          if (EndSession) EndSession();
          return LRESULT{0};
        });
        ExitProcess(0);
      }
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace lirrin
