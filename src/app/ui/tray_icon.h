#pragma once
// TTrayIcon: the program's icon in the notification area, with the
// application title as its tip and a balloon. Its mouse messages come to
// the owner window as `callbackMessage` (the mouse message in lParam).
//
// The icon must never be lost while the program runs, for it is the only
// way to the panel and to Exit: an add that the tray refuses (at logon the
// task bar may not be ready yet) is tried again until it succeeds, and
// when Explorer starts again, the owner passes on its "TaskbarCreated"
// message and the icon is added anew. The program runs elevated, so that
// message is let through to the owner explicitly: by default a process of a
// higher integrity level gets no messages from Explorer's.

#include <windows.h>

#include <optional>
#include <string>

namespace lirrin {

class TTrayIcon {
 public:
  TTrayIcon(HWND owner, UINT callbackMessage, HICON icon, const std::wstring& tip);
  ~TTrayIcon();
  TTrayIcon(const TTrayIcon&) = delete;
  TTrayIcon& operator=(const TTrayIcon&) = delete;

  // Shows the icon from now on; true when the tray took it.
  bool Show();
  void Hide();
  bool Visible() const { return Added; }
  // Adds the icon again when it should show but the tray has refused it.
  void Retry();
  // A balloon with `text`, no title and no icon.
  void ShowBalloon(const std::wstring& text, UINT timeoutMs);
  // Explorer restarted: add the icon again when it was shown.
  void Recreate();

  // The icon's place on the screen, where the system tells it (Windows 7
  // and later).
  std::optional<RECT> ScreenRect() const;
  // Hands the keyboard back to the notification area, at this icon: for a
  // window opened from the icon by keyboard that has been cancelled.
  void GiveFocusBack();

  static UINT TaskbarCreatedMessage();

 private:
  NOTIFYICONDATAW Data() const;

  HWND Owner;
  UINT CallbackMessage;
  HICON Icon;
  std::wstring Tip;
  bool Wanted = false;  // shown by the program, whether or not the tray took it
  bool Added = false;
};

}  // namespace lirrin
