// HANDLEs: the functions that create them fail with null (CreateSemaphore,
// CreateMutex) or with INVALID_HANDLE_VALUE (CreateFile); both hold nothing.
#include <windows.h>

#include "support/os_handle.h"

namespace lirrin {

TOsHandle::TOsHandle(TNative native) : Native_(native == INVALID_HANDLE_VALUE ? kNone : native) {}

void TOsHandle::Close() {
  if (Valid()) CloseHandle(Native_);
  Native_ = kNone;
}

}  // namespace lirrin
