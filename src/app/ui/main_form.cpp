#include "app/ui/main_form.h"

#include <commctrl.h>

#include <chrono>
#include <stdexcept>

#include "app/system/auto_run.h"
#include "app/system/instance_check.h"
#include "app/system/requests.h"
#include "app/system/stored_value.h"
#include "app/ui/dpi.h"
#include "app/ui/panel_placement.h"
#include "app/ui/resource_ids.h"
#include "app/ui/window_entry.h"
#include "platform/initializer.h"
#include "smbus/amp_word.h"
#include "smbus/smbus.h"
#include "support/debug_console.h"
#include "support/message_box.h"
#include "support/module_info.h"

namespace lirrin {

namespace {

constexpr const wchar_t* kClassName = L"TMainForm";
constexpr UINT_PTR kTimerId = 1;       // tmrDisable
constexpr UINT kTimerIntervalMs = 1000;
constexpr UINT kTrayMessage = WM_APP + 1;
constexpr UINT kAmpResultsMessage = WM_APP + 2;  // the worker has results
constexpr auto kProbeInterval = std::chrono::milliseconds(1000);
constexpr UINT kExitCommand = 1;       // Exit1
constexpr UINT kBalloonTimeoutMs = 10000;
#ifndef WM_DPICHANGED
constexpr UINT WM_DPICHANGED = 0x02E0;
#endif

// The designed layout at 96 DPI.
constexpr SIZE kDesignedClient{75, 233};
constexpr SIZE kOuterSize{71, 253};
constexpr RECT kVolumeBarRect{17, 8, 17 + 25, 8 + 169};
constexpr RECT kImgVolRect{16, 183, 16 + 33, 183 + 33};
constexpr RECT kVersionRect{8, 224, 8 + 60, 224 + 13};
constexpr int kFontHeight = 11;
constexpr const wchar_t* kBusHeldText = L"another program is using the SMBus";

// A dialog frame whose caption is empty and carries no buttons, above
// every ordinary window, and no task bar entry of its own (the application
// window is its owner).
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_TOPMOST;

void RegisterFormClass(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_MAINICON));
  windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = kClassName;
  if (RegisterClassExW(&windowClass) == 0) throw std::runtime_error("The panel's window class cannot be registered");
}

RECT MoveRect(const RECT& rect, UINT dpi) {
  return {Scaled(rect.left, dpi), Scaled(rect.top, dpi), Scaled(rect.right, dpi), Scaled(rect.bottom, dpi)};
}

}  // namespace

// --- Construction and creation ----------------------------------------------------------

TMainForm::TMainForm(TApplication& application)
    : Application(application),
      ImgNOMute(application.Instance(), IDP_NOT_MUTED),
      ImgMute(application.Instance(), IDP_MUTED) {
  const HINSTANCE instance = Application.Instance();
  RegisterFormClass(instance, WindowEntry<TMainForm>);
  Dpi = MonitorDpi(MonitorFromWindow(Application.Handle(), MONITOR_DEFAULTTOPRIMARY));
  RECT frame{0, 0, Scaled(kDesignedClient.cx, Dpi), Scaled(kDesignedClient.cy, Dpi)};
  AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
  Window = CreateWindowExW(kExStyle, kClassName, L"", kStyle, 0, 0, frame.right - frame.left,
                           frame.bottom - frame.top, Application.Handle(), nullptr, instance, this);
  if (Window == nullptr) throw std::runtime_error("The panel cannot be created");

  VolumeBar.Create(Window, instance);
  VolumeBar.SetOnChange([this] { VolumeBarChange(); });
  ImgVol.Create(Window, instance);
  ImgVol.SetOnClick([this] { ImgVolClick(); });
  lblVersion = CreateWindowExW(0, WC_STATICW, L"v1.0.0.0", WS_CHILD, 0, 0, 0, 0, Window, nullptr, instance, nullptr);
  // The tooltip covers the whole panel: a disabled control passes the
  // mouse to the panel, so it shows over the controls too. The version 1
  // layout is the one every system takes.
  BusTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, 0, 0, 0,
                           0, Window, nullptr, instance, nullptr);
  TTTOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V1_SIZE;
  tool.uFlags = TTF_SUBCLASS | TTF_IDISHWND;  // the panel's whole client area, whatever its size
  tool.hwnd = Window;
  tool.uId = reinterpret_cast<UINT_PTR>(Window);
  tool.lpszText = const_cast<wchar_t*>(kBusHeldText);
  SendMessageW(BusTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  SendMessageW(BusTip, TTM_ACTIVATE, FALSE, 0);
  PopupMenu.reset(CreatePopupMenu());
  AppendMenuW(PopupMenu.get(), MF_STRING, kExitCommand, L"Exit");
  Layout();

  const bool debug = ParseInstanceSwitches(GetCommandLineA()).Debug;
  TDebugConsole::Instance(debug)->Log("TMainForm::TMainForm", "start", kColorYellow);
  FormCreate();
}

void TMainForm::FormCreate() {
  Supported = TInitializer::Instance()->Supported();
  SetWindowTextW(lblVersion, (L"Version:" + ModuleVersion()).c_str());
  LoadValue();
  SetTimer(Window, kTimerId, kTimerIntervalMs, nullptr);
  if (!Supported) return;
  AmpPort = std::make_unique<TSMBusAmpPort>([]() -> TSMBus& { return *TSMBus::Instance(); });
  Amp = std::make_unique<TAmpWorker>(*AmpPort, StoredWord, kProbeInterval,
                                     [window = Window] { PostMessageW(window, kAmpResultsMessage, 0, 0); });
  NewestRequest = Amp->Write(StoredWord);
  const HICON icon =
      static_cast<HICON>(LoadImageW(Application.Instance(), MAKEINTRESOURCEW(IDI_MAINICON), IMAGE_ICON,
                                    GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  TrayIcon = std::make_unique<TTrayIcon>(Window, kTrayMessage, icon, Application.Title());
  TrayWheel = std::make_unique<TTrayWheel>(Window, *TrayIcon, [this](int steps) {
    if (IsWindowEnabled(VolumeBar.Handle())) VolumeBar.SetPosition(VolumeBar.Position() + steps);
  });
  Clicker = std::make_unique<TMouseClicker>();
  PendingMinimize = true;
  SetAutoRun(true);
}

// The words posted last still go out while the bus is free; the program
// waits for no other program's lock on its way out, so that it ends at
// once. What the user chose last is the word kept, reached or not: the
// newest volume word, and each mute click not yet made flips the mute of
// the word before it. The next start applies it. The tray icon goes last,
// when the program really ends.
TMainForm::~TMainForm() {
  if (Amp) {
    AmpPort->StopWaitingForTheLock();
    Amp->Stop();
    for (const TAmpResult& result : Amp->TakeResults()) {
      switch (result.Kind) {
        case TAmpResult::TKind::Written: StoredWord = result.Word; break;
        case TAmpResult::TKind::MuteToggled:
          StoredWord = result.Answered ? result.Word : amp::MuteToggled(StoredWord);
          break;
        case TAmpResult::TKind::Read:
        case TAmpResult::TKind::Probed: break;
      }
    }
    Amp.reset();
  }
  SaveValue();  // on the way out (a logoff among them) a failure is only logged
  TrayWheel.reset();
  TrayIcon.reset();
  if (Window != nullptr) DestroyWindow(Window);
}

// --- Showing -----------------------------------------------------------------------------

void TMainForm::Show() {
  FormShow();
  if (Closing) return;
  // Centred on the desktop at its first showing, in the size FormShow gave it.
  RECT rect;
  GetWindowRect(Window, &rect);
  const int width = rect.right - rect.left, height = rect.bottom - rect.top;
  SetWindowPos(Window, nullptr, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(Application.Handle(), SW_SHOWNORMAL);
  ShowWindow(Window, SW_SHOW);
  SetForegroundWindow(Window);
}

void TMainForm::FormShow() {
  if (!Supported) {
    Close();
    return;
  }
  SizeFor(Dpi);
  NewestRequest = Amp->Read();  // the result shows the word; a failed read shows 0
}

void TMainForm::SizeFor(UINT dpi) {
  Dpi = dpi;
  SetWindowPos(Window, nullptr, 0, 0, Scaled(kOuterSize.cx, Dpi), Scaled(kOuterSize.cy, Dpi),
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  Layout();
}

void TMainForm::Layout() {
  // The controls let go of the old font before it is deleted.
  TFont font(CreateFontW(-Scaled(kFontHeight, Dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                         OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                         L"Tahoma"));
  const struct {
    HWND Control;
    RECT Designed;
  } controls[] = {{VolumeBar.Handle(), kVolumeBarRect}, {ImgVol.Handle(), kImgVolRect}, {lblVersion, kVersionRect}};
  for (const auto& control : controls) {
    const RECT rect = MoveRect(control.Designed, Dpi);
    SetWindowPos(control.Control, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(control.Control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), FALSE);
  }
  Font = std::move(font);
}

void TMainForm::ShowPicture(bool muted) { ImgVol.Show(muted ? &ImgMute : &ImgNOMute, muted); }

// --- The amplifier -------------------------------------------------------------------------

void TMainForm::VolumeBarChange() {
  NewestRequest = Amp->Write(amp::WordForVolume(static_cast<u32>(VolumeBar.Position())));
}

// The mute button works on the word the amplifier holds when the worker
// gets to it. Its picture flips at once, so a click while the bus is busy
// or held shows; it follows the amplifier again with the result of the
// newest request (a second click before the first reached the bus cancels
// both, and flips the picture back).
void TMainForm::ImgVolClick() {
  ShowPicture(!ImgVol.Checked());
  NewestRequest = Amp->ToggleMute();
}

void TMainForm::AmpResults() {
  if (!Amp) return;
  for (const TAmpResult& result : Amp->TakeResults()) AmpResult(result);
}

// A written word is the word to keep, saved at once, so that neither a
// crash nor a kill loses a volume or a mute click. The slider and the
// picture follow what the amplifier holds, except while a newer request is
// on its way: the user's latest move stays shown.
void TMainForm::AmpResult(const TAmpResult& result) {
  const bool newest = result.Serial == NewestRequest;
  switch (result.Kind) {
    case TAmpResult::TKind::Written:
    case TAmpResult::TKind::MuteToggled:
      if (result.Answered) {
        StoredWord = result.Word;
        if (newest) ShowWord(result.Word);
      }
      if (result.Answered || result.Kind == TAmpResult::TKind::Written) {
        const TSaveOutcome saved = SaveValue();
        TellSaveFailure(saved);
        if (saved == TSaveOutcome::NoKey) Close();
      }
      break;
    case TAmpResult::TKind::Read:
      if (newest) ShowWord(result.Word);
      break;
    case TAmpResult::TKind::Probed:
      // Controls that would only talk to a silent amplifier take no input;
      // nor do they while another program keeps the bus for long.
      EnableWindow(ImgVol.Handle(), result.Answered);
      EnableWindow(VolumeBar.Handle(), result.Answered);
      ShowBusHeld(result.HeldElsewhere);
      if (result.Answered && newest) ShowWord(result.Word);
      break;
  }
}

void TMainForm::ShowBusHeld(bool held) {
  if (BusTip == nullptr || held == BusHeldShown) return;
  BusHeldShown = held;
  SendMessageW(BusTip, TTM_ACTIVATE, held, 0);
  TDebugConsole::Instance(false)->Log("TMainForm::ShowBusHeld", held ? "held elsewhere" : "free again",
                                      held ? kColorRed : kColorGreen);
}

void TMainForm::ShowWord(u16 word) {
  VolumeBar.ShowPosition(static_cast<int>(amp::Volume(word)));
  ShowPicture(amp::IsMuted(word));
}

// Once a second: the first tick moves the panel to the tray; later ticks
// add the icon again while the tray refuses it (a start at logon before
// the task bar is ready). The probe of the amplifier runs on the worker.
void TMainForm::tmrDisableTimer() {
  if (PendingMinimize) {
    MinimizeToTray();
    PendingMinimize = false;
  } else if (TrayIcon) {
    TrayIcon->Retry();
  }
}

// --- Tray ----------------------------------------------------------------------------------

void TMainForm::MinimizeToTray() {
  TrayIcon->Show();
  TrayIcon->ShowBalloon(Application.Title(), kBalloonTimeoutMs);
  SendMessageW(Window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ShowWindow(Application.Handle(), SW_HIDE);
  ShowWindow(Window, SW_HIDE);
}

POINT TMainForm::TrayAnchor() const {
  POINT cursor;
  GetCursorPos(&cursor);
  const std::optional<RECT> icon = TrayIcon ? TrayIcon->ScreenRect() : std::nullopt;
  if (!icon || PtInRect(&*icon, cursor)) return cursor;
  return {(icon->left + icon->right) / 2, (icon->top + icon->bottom) / 2};
}

// Opens the panel above `at`, inside the work area of the monitor there
// (panel_placement.h), in the size that monitor's DPI gives it: placed
// with the size of another monitor's, it would overlap the edge once the
// system rescaled it.
void TMainForm::TrayIconClick(POINT cursor) {
  const HMONITOR target = MonitorFromPoint(cursor, MONITOR_DEFAULTTONEAREST);
  if (const UINT dpi = MonitorDpi(target); dpi != Dpi) SizeFor(dpi);
  RECT rect;
  GetWindowRect(Window, &rect);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!GetMonitorInfoW(target, &monitor)) {
    SetRect(&monitor.rcWork, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  }
  const RECT& work = monitor.rcWork;
  const TPanelPoint at = PanelPosition({cursor.x, cursor.y}, rect.right - rect.left, rect.bottom - rect.top,
                                       {work.left, work.top, work.right, work.bottom});
  ShowWindow(Window, SW_SHOW);
  SetWindowPos(Window, nullptr, at.X, at.Y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ActivateByClick();
  SetFocus(VolumeBar.Handle());
}

// A shown window is not yet the active one; a click on it makes it so, and
// only then does losing activation hide it again.
void TMainForm::ActivateByClick() {
  if (!Clicker) return;
  RECT rect;
  GetWindowRect(Window, &rect);
  Clicker->Click(Window, TMouseClicker::kLeft, true, rect.left + 5, rect.top + 5);
}

void TMainForm::TrayIconMenu() {
  const POINT at = TrayAnchor();
  SetForegroundWindow(Window);
  const UINT command = static_cast<UINT>(
      TrackPopupMenu(PopupMenu.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, Window, nullptr));
  // Lets the menu close properly when the user clicks elsewhere.
  PostMessageW(Window, WM_NULL, 0, 0);
  if (command == kExitCommand && !Closing) Exit1Click();
}

void TMainForm::RestoreFromTray() {
  EndMenu();  // an open tray menu would keep the panel from the foreground
  Application.Restore();
  ShowWindow(Window, SW_SHOW);
  SetForegroundWindow(Window);
}

// The application window goes first: shown by a restore request, it would
// otherwise take the activation the panel gives up, and a close gesture
// meant for the panel (Alt+F4) would then end the program.
void TMainForm::PutAway() {
  ShowWindow(Application.Handle(), SW_HIDE);
  ShowWindow(Window, SW_HIDE);
}

void TMainForm::PutAwayByKey() {
  PutAway();
  if (TrayIcon) TrayIcon->GiveFocusBack();
}

// --- Ending --------------------------------------------------------------------------------

void TMainForm::Exit1Click() {
  TellSaveFailure(SaveValue());
  Close();
}

// Every close ends the program: FormClose, then the message loop stops and
// the window is destroyed with the program (which saves the word).
void TMainForm::Close() {
  if (Closing) return;
  Closing = true;
  EndingNow();
  EndMenu();  // a tray menu open now ends with the program
  FormClose();
  KillTimer(Window, kTimerId);
  ShowWindow(Window, SW_HIDE);
  Application.Terminate();
}

void TMainForm::FormClose() {
  SetAutoRun(false);
  Clicker.reset();
}

void TMainForm::SetAutoRun(bool on) {
  const std::wstring taskName = ModuleStemName();
  if (on) {
    TAutoRun::Instance().Register(taskName);
  } else {
    TAutoRun::Instance().Remove(taskName);
  }
}

// --- Persistence ---------------------------------------------------------------------------

void TMainForm::LoadValue() {
  const std::optional<u32> value = LoadStoredValue();
  if (!value) return;
  StoredWord = static_cast<u16>(*value);
  StoredUpperBits = static_cast<u16>(*value >> 16);
}

// A failure goes to the debug console with the system's reason.
TSaveOutcome TMainForm::SaveValue() {
  const TSaveResult result = SaveStoredValue(u32{StoredUpperBits} << 16 | StoredWord);
  if (result.Outcome != TSaveOutcome::Saved) {
    TDebugConsole* console = TDebugConsole::Instance(false);
    console->Log("TMainForm::SaveValue",
                 result.Outcome == TSaveOutcome::NoKey ? "the key can be neither opened nor created"
                                                       : "the value cannot be written",
                 kColorRed);
    SetLastError(static_cast<DWORD>(result.Error));
    console->LogLastError(kColorRed);
  }
  return result.Outcome;
}

// The user's setting is lost when the registry does not take it, so the
// first failure of a run is told in a box (later ones only in the console,
// so that every slider step does not bring another).
void TMainForm::TellSaveFailure(TSaveOutcome outcome) {
  if (outcome == TSaveOutcome::Saved || SaveFailureTold) return;
  SaveFailureTold = true;
  ShowErrorBox({u"The volume setting cannot be saved in the registry.", u"Norvik Lirrin", false});
}

// --- Messages ------------------------------------------------------------------------------

bool TMainForm::ApplicationRequest(UINT request) {
  switch (request) {
    case kCloseRequest:
      Close();
      return true;
    case kRestoreRequest:
      if (!Closing) RestoreFromTray();
      return true;
    case kRemoveLogonRequest:
      SetAutoRun(false);
      return false;
    default:
      return false;
  }
}

// Escape on the panel, whichever control has the keys, puts it away; Tab
// moves the keys between the controls. The panel goes on the press of
// Escape or Alt+F4, so the key's release reaches another window; a repeat
// of either key (bit 30: the key was down before) that arrives once the
// panel is back is no new request to put it away.
bool TMainForm::ApplicationEventsMessage(const MSG& message) {
  if (message.hwnd == nullptr || GetAncestor(message.hwnd, GA_ROOT) != Window) return false;
  constexpr LPARAM kPreviouslyDown = LPARAM{1} << 30;
  const bool escape = message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE;
  const bool altF4 = message.message == WM_SYSKEYDOWN && message.wParam == VK_F4;
  if ((escape || altF4) && (message.lParam & kPreviouslyDown) != 0) return true;
  if (escape) {
    PutAwayByKey();
    return true;
  }
  // Tab between the slider and the mute button, as in a dialog.
  return IsDialogMessageW(Window, const_cast<MSG*>(&message)) != FALSE;
}

LRESULT TMainForm::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // Until CreateWindowEx has returned, the panel is not yet built.
  if (Window == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  switch (message) {
    case WM_TIMER:
      if (wParam == kTimerId) tmrDisableTimer();
      return 0;
    case kAmpResultsMessage:
      AmpResults();
      return 0;
    case WM_INPUT:
      if (TrayWheel) TrayWheel->RawInput(lParam);
      break;  // the system cleans up after the input
    case WM_VSCROLL:
      if (reinterpret_cast<HWND>(lParam) == VolumeBar.Handle()) VolumeBar.Scrolled();
      return 0;
    case WM_ACTIVATE:
      // Losing activation hides the panel: a click anywhere else puts it
      // away. Gaining it gives the slider the keys.
      if (LOWORD(wParam) == WA_INACTIVE) {
        PutAway();
      } else {
        SetFocus(VolumeBar.Handle());
      }
      return 0;
    case WM_SYSCOMMAND:
      // The panel minimises as the program: through the application window.
      if ((wParam & 0xFFF0) == SC_MINIMIZE) {
        Application.Minimize();
        return 0;
      }
      break;
    case WM_CLOSE:
      // Alt+F4 and every other close of the panel only put it away: the
      // program ends by Exit, the close request or "/UNINSTALL" alone. The
      // panel has no close button, so the close came from the keyboard.
      PutAwayByKey();
      return 0;
    case kTrayMessage:
      switch (LOWORD(lParam)) {
        case WM_LBUTTONUP:
        case WM_LBUTTONDBLCLK: {
          POINT cursor;
          GetCursorPos(&cursor);
          TrayIconClick(cursor);
          break;
        }
        case NIN_KEYSELECT:
          // Enter or Space on the icon (Enter may come twice): the panel
          // opens once, at the icon.
          if (!IsWindowVisible(Window)) TrayIconClick(TrayAnchor());
          break;
        case WM_CONTEXTMENU:
          // A right click (after its WM_RBUTTONUP), Shift+F10 or the menu
          // key on the icon: the tray sends it to icons of version 3.
          TrayIconMenu();
          break;
        case WM_MOUSEMOVE:
          if (TrayWheel) TrayWheel->Hovered();
          break;
        default:
          break;
      }
      return 0;
    case WM_DPICHANGED: {
      // A panel sized for the new monitor before it was placed there keeps
      // its size and place; the system's suggestion would scale it twice.
      if (HIWORD(wParam) == Dpi) return 0;
      Dpi = HIWORD(wParam);
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(Window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      Layout();
      return 0;
    }
    default:
      if (message == TTrayIcon::TaskbarCreatedMessage() && TrayIcon) TrayIcon->Recreate();
      break;
  }
  return DefWindowProcW(Window, message, wParam, lParam);
}

}  // namespace lirrin
