// The program's whole start-up identification on the simulated board: the
// platform check (firmware marker, PCI subsystem scan), the SMBIOS and ACPI
// readers, and the SMBus controller detection.
#include <benchmark/benchmark.h>

#include "hw/board_context.h"
#include "platform/initializer.h"
#include "sim/boards.h"

namespace lirrin {
namespace {

void BM_StartUpIdentification(benchmark::State& state) {
  std::string error;
  const std::shared_ptr<sim::TSimBoard> board = sim::MakeBoard("sim", "", error);
  const TBoardContext context({.Transport = board, .Clock = &board->Clock()});
  bool supported = false;
  for (auto _ : state) {
    supported = TInitializer::Instance()->Supported();
    TInitializer::FreeInstance();
  }
  state.counters["requests/call"] =
      benchmark::Counter(static_cast<double>(board->TotalRequests()) / static_cast<double>(state.iterations()));
  if (!supported) state.SkipWithError("the simulated board was not identified as supported");
}
BENCHMARK(BM_StartUpIdentification)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace lirrin
