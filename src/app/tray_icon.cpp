#include "app/tray_icon.h"

#include <shellapi.h>

#include <cwchar>

namespace lirrin {

namespace {

constexpr UINT kIconId = 1;

void CopyText(wchar_t* target, std::size_t capacity, const std::wstring& text) {
  std::wcsncpy(target, text.c_str(), capacity - 1);
  target[capacity - 1] = L'\0';
}

}  // namespace

TTrayIcon::TTrayIcon(HWND owner, UINT callbackMessage, HICON icon, const std::wstring& tip)
    : Owner(owner), CallbackMessage(callbackMessage), Icon(icon), Tip(tip) {}

TTrayIcon::~TTrayIcon() { Hide(); }

// The version 2 layout (balloons, no balloon icon): the largest one that
// XP accepts, and every later system takes it too.
NOTIFYICONDATAW TTrayIcon::Data() const {
  NOTIFYICONDATAW data{};
  data.cbSize = NOTIFYICONDATAW_V2_SIZE;
  data.hWnd = Owner;
  data.uID = kIconId;
  return data;
}

void TTrayIcon::Show() {
  if (Added) return;
  NOTIFYICONDATAW data = Data();
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = CallbackMessage;
  data.hIcon = Icon;
  CopyText(data.szTip, std::size(data.szTip), Tip);
  Added = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
}

void TTrayIcon::Hide() {
  if (!Added) return;
  NOTIFYICONDATAW data = Data();
  Shell_NotifyIconW(NIM_DELETE, &data);
  Added = false;
}

void TTrayIcon::ShowBalloon(const std::wstring& text, UINT timeoutMs) {
  if (!Added) return;
  NOTIFYICONDATAW data = Data();
  data.uFlags = NIF_INFO;
  CopyText(data.szInfo, std::size(data.szInfo), text);
  data.uTimeout = timeoutMs;
  data.dwInfoFlags = NIIF_NONE;
  Shell_NotifyIconW(NIM_MODIFY, &data);
}

void TTrayIcon::Recreate() {
  if (!Added) return;
  Added = false;
  Show();
}

UINT TTrayIcon::TaskbarCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

}  // namespace lirrin
