#pragma once
// TBoardContext: the one owner of the process-wide seams for a session on one
// board. It connects the transport that the I/O layer will use, installs the
// clock that delays and waits sleep on, routes error boxes to a recorder and
// switches the debug console; when it ends it frees every process-wide object
// built over that board (newest first) and puts each seam back as it found
// it. The CLI, the test fixtures, the benchmarks and the fuzz target all
// reach a board through it, so no object outlives the board it was built on.
//
// One context at a time: a new board means ending the old context first.

#include <memory>

#include "hw/transport.h"
#include "support/clock.h"
#include "support/message_box.h"

namespace lirrin {

struct TBoardSeams {
  std::shared_ptr<TTransport> Transport = nullptr;  // null: the platform's own
  TClock* Clock = nullptr;                          // not owned; null: the system clock
  TMessageBoxRecorder MessageBoxes = nullptr;       // empty: the platform's boxes
  bool Debug = false;                               // the debug console's lines
};

class TBoardContext {
 public:
  explicit TBoardContext(TBoardSeams seams);
  ~TBoardContext();
  TBoardContext(const TBoardContext&) = delete;
  TBoardContext& operator=(const TBoardContext&) = delete;

 private:
  bool DebugBefore;
};

}  // namespace lirrin
