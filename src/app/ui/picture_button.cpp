#include "app/ui/picture_button.h"

#include <oleacc.h>

#include "app/system/win_owned.h"
#include "app/ui/accessible_value.h"
#include "app/ui/window_entry.h"

namespace lirrin {

namespace {

constexpr const wchar_t* kClassName = L"LirrinPictureButton";

}  // namespace

void TPictureButton::Create(HWND parent, HINSTANCE instance) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  if (!GetClassInfoExW(instance, kClassName, &windowClass)) {
    windowClass.lpfnWndProc = WindowEntry<TPictureButton>;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND));
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass);
  }
  // The text is the button's name for screen readers.
  Window = CreateWindowExW(0, kClassName, L"Mute", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 0, 0, parent, nullptr,
                           instance, this);
}

void TPictureButton::Show(const TPngPicture* picture, bool checked) {
  if (picture != Picture) {
    Picture = picture;
    InvalidateRect(Window, nullptr, FALSE);
  }
  if (checked != Checked_) {
    Checked_ = checked;
    NotifyWinEvent(EVENT_OBJECT_STATECHANGE, Window, OBJID_CLIENT, CHILDID_SELF);
  }
}

// Drawn off screen first, so that the picture never flickers over its
// background.
void TPictureButton::Paint() {
  PAINTSTRUCT paint;
  const HDC dc = BeginPaint(Window, &paint);
  RECT client;
  GetClientRect(Window, &client);
  const TMemoryDC memory(CreateCompatibleDC(dc));
  const TBitmap bitmap(CreateCompatibleBitmap(dc, client.right, client.bottom));
  const HGDIOBJ old = SelectObject(memory.get(), bitmap.get());
  FillRect(memory.get(), &client, GetSysColorBrush(COLOR_BTNFACE));
  if (Picture != nullptr) Picture->Draw(memory.get(), client);
  HIGHCONTRASTW contrast{};
  contrast.cbSize = sizeof contrast;
  if (SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof contrast, &contrast, 0) &&
      (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0) {
    // The black button vanishes on a dark high-contrast face: its outline
    // in the scheme's text colour keeps it in sight.
    const TPen pen(CreatePen(PS_SOLID, 2, GetSysColor(COLOR_BTNTEXT)));
    const HGDIOBJ oldPen = SelectObject(memory.get(), pen.get());
    const HGDIOBJ oldBrush = SelectObject(memory.get(), GetStockObject(NULL_BRUSH));
    Ellipse(memory.get(), client.left + 1, client.top + 1, client.right - 1, client.bottom - 1);
    SelectObject(memory.get(), oldBrush);
    SelectObject(memory.get(), oldPen);
  }
  if (GetFocus() == Window) {
    RECT focus = client;
    InflateRect(&focus, -1, -1);
    DrawFocusRect(memory.get(), &focus);
  }
  BitBlt(dc, 0, 0, client.right, client.bottom, memory.get(), 0, 0, SRCCOPY);
  SelectObject(memory.get(), old);
  EndPaint(Window, &paint);
}

LRESULT TPictureButton::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      InvalidateRect(window, nullptr, FALSE);  // the focus rectangle
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTCHARS;  // Space is the button's, Tab and the arrows move on
    case WM_KEYUP:
      // Space toggles as a click does, when it is let go.
      if (wParam == VK_SPACE && IsWindowEnabled(window) && OnClick) OnClick();
      return 0;
    case WM_LBUTTONDOWN:
      SetFocus(window);
      Pressed = true;
      SetCapture(window);
      return 0;
    case WM_LBUTTONUP: {
      if (!Pressed) return 0;
      Pressed = false;
      ReleaseCapture();
      RECT client;
      GetClientRect(window, &client);
      const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      if (PtInRect(&client, at) && OnClick) OnClick();
      return 0;
    }
    case WM_CAPTURECHANGED:
      Pressed = false;
      return 0;
    case WM_GETOBJECT: {
      TAccessibleAnswers answers;
      answers.Role = ROLE_SYSTEM_CHECKBUTTON;
      answers.State = [this] { return Checked_ ? long{STATE_SYSTEM_CHECKED} : 0L; };
      if (const LRESULT answer = AccessibleWith(window, wParam, lParam, std::move(answers))) return answer;
      return DefWindowProcW(window, message, wParam, lParam);
    }
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace lirrin
