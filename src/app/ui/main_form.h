#pragma once
// TMainForm: the panel, the program's only window and the only user of the
// amplifier. A narrow always-on-top window with the volume slider and the
// round mute button; it lives hidden behind the tray icon most of the time,
// opens above the cursor when the icon is clicked and hides when it loses
// activation.
//
// It owns the amplifier word: it writes the remembered word at start, reads
// the amplifier to show its state, writes a new word on every slider move
// or mute click, has the remembered word put back once a second, and keeps
// it per user in the registry. It never waits for the SMBus: every
// transaction runs on the amplifier's worker thread (smbus/amp_worker.h),
// and the panel shows what the results say the amplifier holds. It registers the start at logon on a supported
// board and removes it when it closes normally, and it answers three
// requests that other processes post to the application window
// (requests.h).

#include <windows.h>

#include <memory>

#include "app/system/stored_value.h"
#include "app/system/win_owned.h"
#include "app/ui/application.h"
#include "app/ui/mouse_clicker.h"
#include "app/ui/picture_button.h"
#include "app/ui/png_picture.h"
#include "app/ui/tray_icon.h"
#include "app/ui/tray_wheel.h"
#include "app/ui/volume_bar.h"
#include "smbus/amp_worker.h"
#include "support/types.h"

namespace lirrin {

class TMainForm {
 public:
  // Builds the window and its controls, then runs FormCreate: the platform
  // verdict, the stored word to the amplifier, the timer, the logon start.
  explicit TMainForm(TApplication& application);
  // Lets the worker finish what was posted, then saves the stored word,
  // also when the session ends.
  ~TMainForm();
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // The first showing: FormShow, then the panel centred on the desktop.
  void Show();
  // A request posted to the application window (requests.h); true marks
  // it handled.
  bool ApplicationRequest(UINT request);
  // The application's hook on posted messages; true marks one handled.
  bool ApplicationEventsMessage(const MSG& message);

 private:
  template <typename TWindow>
  friend LRESULT CALLBACK WindowEntry(HWND, UINT, WPARAM, LPARAM);
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  void FormCreate();
  void FormShow();
  void VolumeBarChange();
  void ImgVolClick();
  void tmrDisableTimer();
  void MinimizeToTray();
  // Opens the panel above `at`, inside the work area of the monitor there.
  void TrayIconClick(POINT at);
  void TrayIconMenu();
  // Where a panel or menu opened from the icon goes: the cursor when it is
  // on the icon (or the icon's place is unknown), else the icon's centre, as
  // when the keyboard opened it.
  POINT TrayAnchor() const;
  void ActivateByClick();
  void Exit1Click();
  void Close();
  void FormClose();
  void RestoreFromTray();
  // Puts the panel away, as a click elsewhere does.
  void PutAway();
  // Puts it away for a key (Escape, Alt+F4): the keyboard goes back to the
  // notification area.
  void PutAwayByKey();
  void SetAutoRun(bool on);
  void LoadValue();
  TSaveOutcome SaveValue();
  void TellSaveFailure(TSaveOutcome outcome);

  // The worker's results, oldest first; `result` as it changes the panel,
  // the stored word and the registry.
  void AmpResults();
  void AmpResult(const TAmpResult& result);
  // The panel shows `word`: the slider's volume (without a change event)
  // and the picture.
  void ShowWord(u16 word);
  // The panel's tooltip names the cause while the lock keeps the amplifier
  // out of reach.
  void ShowBusHeld(bool held);

  // The panel's designed size at `dpi`, its controls laid out for it.
  void SizeFor(UINT dpi);
  void Layout();
  void ShowPicture(bool muted);

  TApplication& Application;
  HWND Window = nullptr;
  UINT Dpi = 96;
  TFont Font;
  TVolumeBar VolumeBar;
  TPictureButton ImgVol;
  HWND lblVersion = nullptr;
  HWND BusTip = nullptr;  // the panel's tooltip while another program keeps the SMBus
  TPngPicture ImgNOMute;
  TPngPicture ImgMute;
  std::unique_ptr<TTrayIcon> TrayIcon;
  std::unique_ptr<TTrayWheel> TrayWheel;  // the wheel over the icon
  TMenu PopupMenu;

  // The amplifier's worker; only on a supported board, so that nothing
  // reaches the SMBus of a board that was not recognised.
  std::unique_ptr<TSMBusAmpPort> AmpPort;
  std::unique_ptr<TAmpWorker> Amp;
  u32 NewestRequest = 0;  // the serial of the newest request posted to Amp

  bool Supported = false;
  u16 StoredWord = 0;
  u16 StoredUpperBits = 0;  // the registry value's upper half, saved back unchanged
  bool PendingMinimize = false;
  bool BusHeldShown = false;
  bool SaveFailureTold = false;
  bool Closing = false;
  std::unique_ptr<TMouseClicker> Clicker;
};

}  // namespace lirrin
