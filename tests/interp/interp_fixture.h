#pragma once
// An interpreter over a simulated board: a board context makes the board the
// transport of the I/O layer singleton that TInterpreter takes, and its
// virtual clock the clock that DELAY sleeps on.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hw/board_context.h"
#include "interp/interpreter.h"
#include "sim/board.h"
#include "sim/boards.h"
#include "support/text.h"

namespace lirrin::testing {

// Ports that read back scripted values, one per read, the last one for ever
// after; every write is recorded.
class ScriptedPorts final : public sim::TPortHandler {
 public:
  explicit ScriptedPorts(std::vector<u32> reads) : Reads(std::move(reads)) {}
  u32 ReadPort(u16, TAccessWidth) override {
    const u32 value = Reads[std::min(ReadCount, Reads.size() - 1)];
    ++ReadCount;
    return value;
  }
  void WritePort(u16 port, TAccessWidth, u32 value) override { Writes.emplace_back(port, value); }

  std::vector<u32> Reads;
  std::size_t ReadCount = 0;
  std::vector<std::pair<u16, u32>> Writes;
};

class InterpreterTest : public ::testing::Test {
 protected:
  void SetUp() override { UseBoard(sim::DesktopIch10Board()); }

  void TearDown() override {
    Interp.reset();
    Context.reset();
  }

  void UseBoard(const sim::TBoardDescription& description) {
    Interp.reset();
    Context.reset();
    Board = std::make_shared<sim::TSimBoard>(description);
    Context.emplace(TBoardSeams{.Transport = Board, .Clock = &Board->Clock()});
    NewInterpreter();
  }

  // A fresh interpreter on the same board. Its step limit, far above what
  // any test script needs, turns a fault in the block loop into a failed
  // test rather than a hung one.
  void NewInterpreter() {
    Interp = std::make_unique<TInterpreter>();
    Interp->SetStepLimit(kTestStepLimit);
  }

  static constexpr u64 kTestStepLimit = 10'000'000;

  // Scripts in tests are ASCII.
  bool Run(std::string_view script) { return Interp->RunScript(Widen(script), Result); }

  std::string Message() const { return ToUtf8(Interp->LastMessage()); }

  std::vector<std::string> Output() const {
    std::vector<std::string> lines;
    for (const TText& line : Interp->Output()) lines.push_back(ToUtf8(line));
    return lines;
  }

  u32 Local(unsigned index) const { return Interp->Local(index); }
  u64 Requests(sim::TRequestKind kind) const { return Board->Requests(kind); }

  std::shared_ptr<sim::TSimBoard> Board;
  std::optional<TBoardContext> Context;
  std::unique_ptr<TInterpreter> Interp;
  u32 Result = 0;
};

}  // namespace lirrin::testing
