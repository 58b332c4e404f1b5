#include "app/ui/tray_icon.h"

#include <shellapi.h>

#include <cwchar>

namespace lirrin {

namespace {

constexpr UINT kIconId = 1;

void CopyText(wchar_t* target, std::size_t capacity, const std::wstring& text) {
  std::wcsncpy(target, text.c_str(), capacity - 1);
  target[capacity - 1] = L'\0';
}

// Lets `message` reach `window` from processes of a lower integrity level.
// Looked up at run time: Windows 7 has the per-window filter, Vista only
// the per-process one, and XP, without such levels, neither.
void AllowFromLowerIntegrity(HWND window, UINT message) {
  constexpr DWORD kAllow = 1;  // MSGFLT_ALLOW, and MSGFLT_ADD of the older call
  const HMODULE user32 = GetModuleHandleW(L"user32.dll");
  using TPerWindow = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
  using TPerProcess = BOOL(WINAPI*)(UINT, DWORD);
  const auto lookUp = [user32](const char* name) { return reinterpret_cast<void*>(GetProcAddress(user32, name)); };
  if (const auto perWindow = reinterpret_cast<TPerWindow>(lookUp("ChangeWindowMessageFilterEx"))) {
    perWindow(window, message, kAllow, nullptr);
  } else if (const auto perProcess = reinterpret_cast<TPerProcess>(lookUp("ChangeWindowMessageFilter"))) {
    perProcess(message, kAllow);
  }
}

}  // namespace

TTrayIcon::TTrayIcon(HWND owner, UINT callbackMessage, HICON icon, const std::wstring& tip)
    : Owner(owner), CallbackMessage(callbackMessage), Icon(icon), Tip(tip) {
  AllowFromLowerIntegrity(owner, TaskbarCreatedMessage());
}

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

bool TTrayIcon::Show() {
  Wanted = true;
  if (Added) return true;
  NOTIFYICONDATAW data = Data();
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = CallbackMessage;
  data.hIcon = Icon;
  CopyText(data.szTip, std::size(data.szTip), Tip);
  // A tray that restarted may still hold an icon of ours from before.
  Added = Shell_NotifyIconW(NIM_ADD, &data) != FALSE || Shell_NotifyIconW(NIM_MODIFY, &data) != FALSE;
  if (Added) {
    // The version 3 behaviour (XP has it): the icon takes the keyboard, and
    // Enter or Space on it reports NIN_KEYSELECT.
    NOTIFYICONDATAW version = Data();
    version.uVersion = NOTIFYICON_VERSION;
    Shell_NotifyIconW(NIM_SETVERSION, &version);
  }
  return Added;
}

void TTrayIcon::Hide() {
  Wanted = false;
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

void TTrayIcon::Retry() {
  if (Wanted && !Added) Show();
}

void TTrayIcon::Recreate() {
  if (!Wanted) return;
  Added = false;
  Show();
}

std::optional<RECT> TTrayIcon::ScreenRect() const {
  // NOTIFYICONIDENTIFIER, declared here: older headers lack it as XP does.
  struct TIdentifier {
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    GUID guidItem;
  };
  using TGetRect = HRESULT(WINAPI*)(const TIdentifier*, RECT*);
  static const auto getRect = reinterpret_cast<TGetRect>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"shell32.dll"), "Shell_NotifyIconGetRect")));
  if (getRect == nullptr || !Added) return std::nullopt;
  const TIdentifier identifier{sizeof identifier, Owner, kIconId, {}};
  RECT rect;
  if (FAILED(getRect(&identifier, &rect)) || IsRectEmpty(&rect)) return std::nullopt;
  return rect;
}

void TTrayIcon::GiveFocusBack() {
  if (!Added) return;
  NOTIFYICONDATAW data = Data();
  Shell_NotifyIconW(NIM_SETFOCUS, &data);
}

UINT TTrayIcon::TaskbarCreatedMessage() {
  static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
  return message;
}

}  // namespace lirrin
