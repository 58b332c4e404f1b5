// Cost of the interpreter per statement on the simulated board. A simple
// statement such as "Local1=Add(Local0,1)" should stay well below 1 us; a
// WAIT poll pass adds the port read of the status register.
#include <benchmark/benchmark.h>

#include <memory>

#include "hw/board_context.h"
#include "interp/interpreter.h"
#include "sim/boards.h"

namespace lirrin {
namespace {

// A status port that never reports completion, so a poll runs its full count.
class BusyStatus final : public sim::TPortHandler {
 public:
  u32 ReadPort(u16, TAccessWidth) override { return 0x01; }
  void WritePort(u16, TAccessWidth, u32) override {}
};

struct Setup {
  Setup() {
    Board->MapPorts(0x400, 0x10, &Status);
    Interp = std::make_unique<TInterpreter>();
  }

  std::shared_ptr<sim::TSimBoard> Board = std::make_shared<sim::TSimBoard>(sim::DesktopIch10Board());
  TBoardContext Context{{.Transport = Board, .Clock = &Board->Clock()}};
  BusyStatus Status;
  std::unique_ptr<TInterpreter> Interp;
};

// One whole RunScript of one statement: normalisation, the block loop and
// the statement.
void BM_RunScriptOneStatement(benchmark::State& state) {
  Setup s;
  u32 result = 0;
  for (auto _ : state) benchmark::DoNotOptimize(s.Interp->RunScript(u"Local1=Add(Local0,1)", result));
}
BENCHMARK(BM_RunScriptOneStatement);

// The statement alone: 1000 statements per run, time per statement.
void BM_StatementInLoop(benchmark::State& state) {
  Setup s;
  u32 result = 0;
  for (auto _ : state) benchmark::DoNotOptimize(s.Interp->RunScript(u"Loop{1000,Local1=Add(Local0,1)}", result));
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_StatementInLoop)->Unit(benchmark::kMicrosecond);

void BM_AssignmentInLoop(benchmark::State& state) {
  Setup s;
  u32 result = 0;
  for (auto _ : state) benchmark::DoNotOptimize(s.Interp->RunScript(u"Loop{1000,Local1=0x1234}", result));
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_AssignmentInLoop)->Unit(benchmark::kMicrosecond);

// The SMBus completion poll with a status that never changes: 0x8000 passes
// of a port read, a break test and a mask.
void BM_WaitPollPass(benchmark::State& state) {
  Setup s;
  u32 result = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(s.Interp->RunScript(
        u"Local0=0x400; Wait{2,0x8000,Local1=i(Local0); BkIf1(And(Local1,4)); And(Local1,2)}", result));
  }
  state.SetItemsProcessed(state.iterations() * 0x8000);
  state.counters["port requests/pass"] = benchmark::Counter(
      static_cast<double>(s.Board->Requests(sim::TRequestKind::Port)) / (static_cast<double>(state.iterations()) * 0x8000));
}
BENCHMARK(BM_WaitPollPass)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lirrin
