#pragma once
// Base of every object that touches hardware: it hands out the I/O layer and
// the debug console singletons. It owns neither. The I/O layer it takes is
// the one over the board of the context in force (see hw/board_context.h),
// so an object must not outlive its board context.

#include "hw/read_write.h"
#include "support/debug_console.h"

namespace lirrin {

class TIoObject {
 public:
  TIoObject() : ReadWrite(TReadWrite::Instance()), Console(TDebugConsole::Instance(false)) {}
  virtual ~TIoObject() = default;
  TIoObject(const TIoObject&) = delete;
  TIoObject& operator=(const TIoObject&) = delete;

 protected:
  TReadWrite* ReadWrite;
  TDebugConsole* Console;
};

}  // namespace lirrin
