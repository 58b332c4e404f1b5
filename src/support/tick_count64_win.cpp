// GetTickCount64 for Windows XP. The C++ runtime's thread support
// (winpthreads) imports GetTickCount64, which XP's kernel32 lacks, so a
// program importing it does not start there. This object defines the
// import slot itself: the linker then resolves the runtime's calls here and
// no GetTickCount64 import remains. Newer systems get their own function,
// looked up at run time.
#include <windows.h>

#include "support/tick_count.h"

namespace lirrin {

namespace {

using TickCount64Fn = ULONGLONG(WINAPI*)();

ULONGLONG WINAPI TickCount64() {
  static const auto system = reinterpret_cast<TickCount64Fn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "GetTickCount64")));
  if (system != nullptr) return system();
  // The last reading, shared by every thread; updated with a 64-bit
  // compare-and-swap so that a wrap is counted once.
  static volatile u64 last = 0;
  u64 seen = last;
  for (;;) {
    const u64 extended = ExtendTickCount(GetTickCount(), seen);
    const u64 before = __sync_val_compare_and_swap(&last, seen, extended);
    if (before == seen) return extended;
    seen = before;
  }
}

}  // namespace

}  // namespace lirrin

// The import slot of kernel32's GetTickCount64 as the i686 linker names it.
extern "C" {
lirrin::TickCount64Fn lirrin_imp_GetTickCount64 __asm__("__imp__GetTickCount64@0") = &lirrin::TickCount64;
}
