// Descriptors: every negative value holds nothing, 0 and up are closed.
#include <unistd.h>

#include "support/os_handle.h"

namespace lirrin {

TOsHandle::TOsHandle(TNative native) : Native_(native < 0 ? kNone : native) {}

void TOsHandle::Close() {
  if (Valid()) close(Native_);
  Native_ = kNone;
}

}  // namespace lirrin
