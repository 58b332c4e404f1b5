#include <windows.h>

#include <mutex>

#include "support/interrupts.h"

namespace lirrin {

namespace {

// The count and the event change together under the lock, so the event is
// set exactly while no one holds, whatever the threads' interleaving.
std::mutex gHoldersLock;
int gHolders = 0;
HANDLE gNoHolders = nullptr;  // manual-reset event, set while no one holds
std::once_flag gInstalled;

// Returning FALSE hands the event on: the default handler ends the process.
BOOL WINAPI WaitForTheHolders(DWORD) {
  WaitForSingleObject(gNoHolders, 5000);
  return FALSE;
}

}  // namespace

TInterruptsHeldOff::TInterruptsHeldOff() {
  std::call_once(gInstalled, [] {
    gNoHolders = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    SetConsoleCtrlHandler(WaitForTheHolders, TRUE);
  });
  const std::lock_guard<std::mutex> lock(gHoldersLock);
  if (gHolders++ == 0) ResetEvent(gNoHolders);
}

TInterruptsHeldOff::~TInterruptsHeldOff() {
  const std::lock_guard<std::mutex> lock(gHoldersLock);
  if (--gHolders == 0) SetEvent(gNoHolders);
}

}  // namespace lirrin
