// The tray program's entry: one copy per session, then the application
// window, the board and the panel, and the message loop until the panel
// closes. Every road ends with exit code 0.
#include <windows.h>

#include <commctrl.h>

#include <exception>
#include <memory>

#include "app/program_board.h"
#include "app/system/instance_check.h"
#include "app/system/requests.h"
#include "app/ui/application.h"
#include "app/ui/main_form.h"
#include "app/ui/png_picture.h"
#include "support/debug_console.h"
#include "support/message_box.h"
#include "support/text.h"

namespace {

constexpr const wchar_t* kTitle = L"Norvik Lirrin";

void ShowException(const char* what) {
  lirrin::ShowErrorBox({lirrin::Widen(what), u"Norvik Lirrin", false});
}

void RunProgram(HINSTANCE instance) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  lirrin::TGdiplusSession gdiplus;
  lirrin::TApplication application(instance);
  application.Initialize(kTitle);
  lirrin::AnswerGlobalCloseRequest(application.Handle());
  // A close request that comes while the board is connected or the panel
  // is built (an error box may be open then) ends the boxes at once and the
  // program as soon as the panel exists, through the panel's close. The
  // panel goes before the board: its amplifier worker uses the board to the
  // last.
  std::unique_ptr<lirrin::TProgramBoard> board;
  std::unique_ptr<lirrin::TMainForm> form;
  bool closeRequested = false;
  application.SetRequestHandler([&](UINT request) {
    if (form) return form->ApplicationRequest(request);
    if (request != lirrin::kCloseRequest) return false;
    closeRequested = true;
    application.Terminate();
    return true;
  });
  board = lirrin::ConnectProgramBoard(lirrin::TDebugConsole::Instance(false)->Enabled());
  form = std::make_unique<lirrin::TMainForm>(application);
  if (closeRequested) form->ApplicationRequest(lirrin::kCloseRequest);
  application.SetMessageHook([&form](const MSG& message) { return form->ApplicationEventsMessage(message); });
  // At logoff or shutdown only the destruction runs: it saves the word.
  application.SetEndSessionHandler([&form] { form.reset(); });
  form->Show();
  application.Run();
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  if (!lirrin::RunInstanceCheck(kTitle)) return 0;
  try {
    RunProgram(instance);
  } catch (const std::exception& error) {
    ShowException(error.what());
  } catch (...) {
    ShowException("");
  }
  return 0;
}
