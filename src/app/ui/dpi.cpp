#include "app/ui/dpi.h"

namespace lirrin {

UINT MonitorDpi(HMONITOR monitor) {
  // shcore.dll's GetDpiForMonitor, MDT_EFFECTIVE_DPI (8.1 and later).
  using TGetDpiForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
  static const auto getDpiForMonitor = [] {
    const HMODULE shcore = LoadLibraryW(L"shcore.dll");
    if (shcore == nullptr) return TGetDpiForMonitor{nullptr};
    return reinterpret_cast<TGetDpiForMonitor>(reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")));
  }();
  UINT x = 0, y = 0;
  if (getDpiForMonitor != nullptr && monitor != nullptr && getDpiForMonitor(monitor, 0, &x, &y) == S_OK && y != 0) {
    return y;
  }
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kDesignDpi;
}

}  // namespace lirrin
