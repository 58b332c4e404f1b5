// Test helper: plays another program that holds one of the SMBus locks.
//
//   lirrin_hold_mutex mutex|semaphore NAME READY_EVENT RELEASE_EVENT
//
// Creates or opens the named mutex (as hardware-monitoring tools do) or the
// named semaphore (count 1, as the engine does), takes it, signals
// READY_EVENT and holds it until RELEASE_EVENT is signalled. Killed while
// holding, it leaves a mutex abandoned.
#include <windows.h>

#include <cstring>

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const bool mutex = std::strcmp(argv[1], "mutex") == 0;
  HANDLE object = mutex ? CreateMutexA(nullptr, FALSE, argv[2]) : CreateSemaphoreA(nullptr, 1, 1, argv[2]);
  if (object == nullptr) return 3;
  const DWORD taken = WaitForSingleObject(object, 10000);
  if (taken != WAIT_OBJECT_0 && taken != WAIT_ABANDONED) return 4;
  HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]);
  HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, argv[4]);
  if (ready == nullptr || release == nullptr) return 5;
  SetEvent(ready);
  WaitForSingleObject(release, INFINITE);
  if (mutex) {
    ReleaseMutex(object);
  } else {
    ReleaseSemaphore(object, 1, nullptr);
  }
  CloseHandle(object);
  return 0;
}
