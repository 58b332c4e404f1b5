// A program that imports, on purpose and without the XP runtime shim, one
// function that came with Vista (GetTickCount64) and one that came with
// Windows 8 (GetSystemTimePreciseAsFileTime): the import check must name
// both against XP SP3 and only the second against Windows 7 SP1.
#define _WIN32_WINNT 0x0602
#include <windows.h>

int main() {
  FILETIME now{};
  GetSystemTimePreciseAsFileTime(&now);
  return GetTickCount64() == 0 && now.dwHighDateTime == 0 ? 1 : 0;
}
