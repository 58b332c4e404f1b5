#pragma once
// TApplication: the program's hidden top-level window and its message loop.
//
// Other processes (and a second copy of the program) find the running copy
// by this window's class "TApplication" and its title, and post their
// requests to it (requests.h). It stands for the program on the task bar,
// which is why the panel is owned by it and is minimised and restored
// through it. The requests are answered where the window procedure sees
// them, so they are honoured also while a menu or a message box runs its
// own loop; closing the window from its task bar button is the close
// request. The program's loop hands every posted message to one hook
// before dispatching it.
//
// Window procedures run inside system code, which a C++ exception must not
// cross: they catch what escapes and leave it here, and the loop throws it
// again once control is back in the program.

#include <windows.h>

#include <exception>
#include <functional>
#include <string>

#include "app/system/requests.h"

namespace lirrin {

class TApplication {
 public:
  static constexpr const wchar_t* kWindowClass = kApplicationWindowClass;

  // Sees each posted message before dispatch; true marks it handled, so it
  // is not dispatched.
  using TMessageHook = std::function<bool(const MSG& message)>;

  explicit TApplication(HINSTANCE instance);
  ~TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  // Creates the hidden window with the given title.
  void Initialize(const std::wstring& title);
  HINSTANCE Instance() const { return Module; }
  HWND Handle() const { return Window; }
  const std::wstring& Title() const { return TitleText; }

  void SetMessageHook(TMessageHook hook) { Hook = std::move(hook); }
  // Answers a request posted to the window; true marks it handled, false
  // lets the window's default handling go on.
  using TRequestHandler = std::function<bool(UINT request)>;
  void SetRequestHandler(TRequestHandler handler) { Requests = std::move(handler); }
  // What happens when the user's session ends: the program is ended
  // without its close handling, so the handler only saves what must not be
  // lost.
  void SetEndSessionHandler(std::function<void()> handler) { EndSession = std::move(handler); }

  // Dispatches messages until Terminate; throws what a window procedure
  // caught.
  void Run();
  void Terminate() { PostQuitMessage(0); }

  // Makes the program's window the task bar's minimised entry, or restores it.
  void Minimize();
  void Restore();

  // For window procedures: runs `handler`, keeping any exception for Run.
  template <typename THandler>
  static LRESULT Guarded(THandler&& handler, LRESULT failed = 0) {
    try {
      return handler();
    } catch (...) {
      Pending = std::current_exception();
      PostQuitMessage(0);
      return failed;
    }
  }

 private:
  template <typename TWindow>
  friend LRESULT CALLBACK WindowEntry(HWND, UINT, WPARAM, LPARAM);
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HINSTANCE Module;
  HWND Window = nullptr;
  std::wstring TitleText;
  TMessageHook Hook;
  TRequestHandler Requests;
  std::function<void()> EndSession;
  static inline std::exception_ptr Pending;
};

}  // namespace lirrin
