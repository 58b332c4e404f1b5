// Cost of the SMBus engine on the simulated boards: one word write and one
// word read per controller family, and a full detection. The board's
// virtual clock makes each "Delay 40" of the wait texts free, so the times
// are the engine's and the interpreter's own CPU. Goal: under 100 us of CPU
// per word transaction. The lock is a private one, so that the figures do
// not depend on other processes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "hw/board_context.h"
#include "sim/boards.h"
#include "smbus/smbus.h"
#include "support/text.h"

namespace lirrin {
namespace {

constexpr u8 kAmplifier = 0x4A;
constexpr u8 kAmplifierCommand = 2;

struct Setup {
  explicit Setup(int family) {
    std::string error;
    Board = sim::MakeBoard("sim:" + std::to_string(family), "", error);
    Context.emplace(TBoardSeams{.Transport = Board, .Clock = &Board->Clock()});
    Engine = std::make_unique<TSMBus>(LockName());
  }
  ~Setup() {
    Engine.reset();
    Context.reset();
    std::remove(("/run/lock/" + LockName() + ".lock").c_str());
    std::remove(("/tmp/" + LockName() + ".lock").c_str());
  }
  static std::string LockName() { return "lirrin-smbus-bench-" + std::to_string(getpid()); }

  // Board requests per iteration, as a counter next to the time.
  void Count(benchmark::State& state, u64 requestsBefore) {
    state.counters["requests"] = benchmark::Counter(
        static_cast<double>(Board->TotalRequests() - requestsBefore) / static_cast<double>(state.iterations()));
  }

  std::shared_ptr<sim::TSimBoard> Board;
  std::optional<TBoardContext> Context;
  std::unique_ptr<TSMBus> Engine;
};

void BM_WriteWord(benchmark::State& state) {
  Setup s(static_cast<int>(state.range(0)));
  state.SetLabel(ToUtf8(s.Engine->Controller().Name));
  const std::array<u8, 2> word{0x28, 0x28};
  const u64 before = s.Board->TotalRequests();
  for (auto _ : state) {
    if (!s.Engine->WriteWords(kAmplifier, kAmplifierCommand, word.data(), 1)) state.SkipWithError("write failed");
  }
  s.Count(state, before);
}
BENCHMARK(BM_WriteWord)->DenseRange(1, 18)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

void BM_ReadWord(benchmark::State& state) {
  Setup s(static_cast<int>(state.range(0)));
  state.SetLabel(ToUtf8(s.Engine->Controller().Name));
  std::array<u8, 2> word{};
  const u64 before = s.Board->TotalRequests();
  for (auto _ : state) {
    if (!s.Engine->ReadWords(kAmplifier, word.data(), kAmplifierCommand, 1)) state.SkipWithError("read failed");
    benchmark::DoNotOptimize(word);
  }
  s.Count(state, before);
}
BENCHMARK(BM_ReadWord)->DenseRange(1, 18)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

// Detection walks the table until its family answers: sim:18 tries every
// family, sim:0 every family without a match. One engine at a time: an
// engine's destructor frees the table.
void BM_Detect(benchmark::State& state) {
  Setup s(static_cast<int>(state.range(0)));
  s.Engine.reset();
  const u64 before = s.Board->TotalRequests();
  for (auto _ : state) benchmark::DoNotOptimize(TSMBus(Setup::LockName()).HasController());
  s.Count(state, before);
}
BENCHMARK(BM_Detect)->Arg(0)->Arg(2)->Arg(18)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime();

}  // namespace
}  // namespace lirrin
