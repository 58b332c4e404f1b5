// Error boxes on Windows: the system's message box without an owner window.
#include <windows.h>

#include "support/message_box.h"

namespace lirrin {

void ShowPlatformErrorBox(const TMessageBox& box) {
  const UINT flags = MB_OK | MB_ICONERROR | (box.SystemModal ? MB_SYSTEMMODAL : 0);
  MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(box.Text.c_str()),
              reinterpret_cast<const wchar_t*>(box.Caption.c_str()), flags);
}

}  // namespace lirrin
