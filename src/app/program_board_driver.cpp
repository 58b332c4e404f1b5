// Lirrin.exe: the real board, through the I/O layer's platform transport.
#include "app/program_board.h"

#include "hw/board_context.h"

namespace lirrin {

namespace {

class TDriverBoard final : public TProgramBoard {
 public:
  explicit TDriverBoard(bool debug) : Context(TBoardSeams{.Debug = debug}) {}

 private:
  TBoardContext Context;
};

}  // namespace

std::unique_ptr<TProgramBoard> ConnectProgramBoard(bool debug) { return std::make_unique<TDriverBoard>(debug); }

}  // namespace lirrin
