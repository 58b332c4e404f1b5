// Windows: our named semaphore (count 1), then the global SMBus mutex shared
// with hardware-monitoring and RGB tools.
#include <windows.h>

#include "smbus/system_lock.h"

namespace lirrin {

namespace {

// The name under which hardware-monitoring and RGB tools serialise SMBus
// access.
constexpr const char* kSharedSMBusMutex = "Global\\Access_SMBUS.HTP.Method";

// Creates the shared mutex with a DACL that grants everyone full access, so
// that tools running under other accounts can open it too; when it exists
// already and we may not create it, opening it for waiting is enough.
HANDLE OpenSharedMutex() {
  SECURITY_DESCRIPTOR descriptor;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, &descriptor, FALSE};
  if (InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
      SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE)) {
    if (HANDLE mutex = CreateMutexA(&attributes, FALSE, kSharedSMBusMutex)) return mutex;
  }
  return OpenMutexA(SYNCHRONIZE, FALSE, kSharedSMBusMutex);
}

// Waits for `object` or the stop event, whichever comes first; with both
// signalled the object wins (the lower index), so a free lock is still
// taken after StopWaiting.
DWORD WaitUnlessStopped(HANDLE object, HANDLE stopped, DWORD timeoutMs) {
  const HANDLE objects[] = {object, stopped};
  return WaitForMultipleObjects(2, objects, FALSE, timeoutMs);
}

}  // namespace

TSystemLock::TSystemLock(const std::string& name)
    : Handle(CreateSemaphoreA(nullptr, 1, 1, name.c_str())),
      SharedMutex(OpenSharedMutex()),
      WaitingStopped(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

bool TSystemLock::Acquire(u32 timeoutMs) {
  if (!Handle.Valid() || !SharedMutex.Valid() || !WaitingStopped.Valid()) return false;
  // GetTickCount, not GetTickCount64: Windows XP has only the 32-bit tick.
  const DWORD start = GetTickCount();
  if (WaitUnlessStopped(Handle.Native(), WaitingStopped.Native(), timeoutMs) != WAIT_OBJECT_0) return false;
  const DWORD remaining = RemainingWait(timeoutMs, start, GetTickCount());
  // WAIT_ABANDONED: the previous owner died while holding it; the mutex is
  // ours now, and the bus state it left is what every transaction resets.
  const DWORD shared = WaitUnlessStopped(SharedMutex.Native(), WaitingStopped.Native(), remaining);
  if (shared == WAIT_OBJECT_0 || shared == WAIT_ABANDONED) return true;
  ReleaseSemaphore(Handle.Native(), 1, nullptr);
  return false;
}

void TSystemLock::StopWaiting() {
  if (WaitingStopped.Valid()) SetEvent(WaitingStopped.Native());
}

void TSystemLock::Release() {
  ReleaseMutex(SharedMutex.Native());
  ReleaseSemaphore(Handle.Native(), 1, nullptr);
}

}  // namespace lirrin
