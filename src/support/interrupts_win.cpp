#include <windows.h>

#include <atomic>
#include <mutex>

#include "support/interrupts.h"

namespace lirrin {

namespace {

std::atomic<int> gHolders{0};
HANDLE gNoHolders = nullptr;  // manual-reset event, set while no one holds
std::once_flag gInstalled;

// Returning FALSE hands the event on: the default handler ends the process.
BOOL WINAPI WaitForTheHolders(DWORD) {
  if (gHolders.load() > 0) WaitForSingleObject(gNoHolders, 5000);
  return FALSE;
}

}  // namespace

TInterruptsHeldOff::TInterruptsHeldOff() {
  std::call_once(gInstalled, [] {
    gNoHolders = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    SetConsoleCtrlHandler(WaitForTheHolders, TRUE);
  });
  if (gHolders.fetch_add(1) == 0) ResetEvent(gNoHolders);
}

TInterruptsHeldOff::~TInterruptsHeldOff() {
  if (gHolders.fetch_sub(1) == 1) SetEvent(gNoHolders);
}

}  // namespace lirrin
