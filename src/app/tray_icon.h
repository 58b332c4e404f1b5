#pragma once
// TTrayIcon: the program's icon in the notification area, with the
// application title as its tip and a balloon. Its mouse messages come to
// the owner window as `callbackMessage` (the mouse message in lParam). When
// Explorer starts again, the owner passes on the "TaskbarCreated" message
// and the icon comes back.

#include <windows.h>

#include <string>

namespace lirrin {

class TTrayIcon {
 public:
  TTrayIcon(HWND owner, UINT callbackMessage, HICON icon, const std::wstring& tip);
  ~TTrayIcon();
  TTrayIcon(const TTrayIcon&) = delete;
  TTrayIcon& operator=(const TTrayIcon&) = delete;

  void Show();
  void Hide();
  bool Visible() const { return Added; }
  // A balloon with `text`, no title and no icon.
  void ShowBalloon(const std::wstring& text, UINT timeoutMs);
  // Explorer restarted: add the icon again when it was shown.
  void Recreate();

  static UINT TaskbarCreatedMessage();

 private:
  NOTIFYICONDATAW Data() const;

  HWND Owner;
  UINT CallbackMessage;
  HICON Icon;
  std::wstring Tip;
  bool Added = false;
};

}  // namespace lirrin
