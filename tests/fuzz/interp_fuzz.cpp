// libFuzzer target: any script text through RunScript on the simulated
// board, under a step limit so that endless WAIT and LOOP blocks end.
// Run it from a scratch directory: LOGFILE and DMEM may create files.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "hw/board_context.h"
#include "interp/interpreter.h"
#include "sim/boards.h"
#include "support/text.h"

namespace {

constexpr lirrin::u64 kStepLimit = 20000;

std::shared_ptr<lirrin::sim::TSimBoard> MakeFuzzBoard() {
  std::string error;
  return lirrin::sim::MakeBoard("sim", "", error);
}

// The board and its context last for the whole run, as in the program.
struct TFuzzBoard {
  std::shared_ptr<lirrin::sim::TSimBoard> Board = MakeFuzzBoard();
  lirrin::TBoardContext Context{{.Transport = Board, .Clock = &Board->Clock()}};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static TFuzzBoard fuzzBoard;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  lirrin::TInterpreter interpreter;
  interpreter.SetStepLimit(kStepLimit);
  lirrin::u32 result = 0;
  interpreter.RunScript(lirrin::FromUtf8(bytes), result);
  return 0;
}
