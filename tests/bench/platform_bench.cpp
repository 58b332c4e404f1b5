// The program's whole start-up identification on the simulated board: the
// platform check (firmware marker, PCI subsystem scan), the SMBIOS and ACPI
// readers, and the SMBus controller detection.
#include <benchmark/benchmark.h>

#include "hw/read_write.h"
#include "platform/initializer.h"
#include "sim/boards.h"
#include "support/clock.h"

namespace lirrin {
namespace {

void BM_StartUpIdentification(benchmark::State& state) {
  std::string error;
  const std::shared_ptr<sim::TSimBoard> board = sim::MakeBoard("sim", "", error);
  TReadWrite::SetTransportFactory([board] { return board; });
  TClock::Install(&board->Clock());
  bool supported = false;
  for (auto _ : state) {
    supported = TInitializer::Instance()->Supported();
    TInitializer::FreeInstance();
  }
  state.counters["requests/call"] =
      benchmark::Counter(static_cast<double>(board->TotalRequests()) / static_cast<double>(state.iterations()));
  if (!supported) state.SkipWithError("the simulated board was not identified as supported");
  TReadWrite::SetTransportFactory({});
  TClock::Install(nullptr);
}
BENCHMARK(BM_StartUpIdentification)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace lirrin
