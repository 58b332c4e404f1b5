// Cost of the I/O layer over the simulated transport. Each pair of benchmarks
// measures one primitive through TReadWrite and straight at the board; the
// difference is what the layer adds per request.
#include <benchmark/benchmark.h>

#include <memory>

#include "hw/read_write.h"
#include "sim/boards.h"

namespace lirrin {
namespace {

struct Setup {
  std::shared_ptr<sim::TSimBoard> Board = std::make_shared<sim::TSimBoard>(sim::DesktopIch10Board());
  TReadWrite Io{Board};
};

void ReportRequests(benchmark::State& state, const sim::TSimBoard& board) {
  state.counters["requests/call"] =
      benchmark::Counter(static_cast<double>(board.TotalRequests()) / static_cast<double>(state.iterations()));
}

void BM_DeviceSearchNothingFound(benchmark::State& state) {
  Setup s;
  for (auto _ : state) benchmark::DoNotOptimize(s.Io.FindPciDevice(0x12345678, 0));
  ReportRequests(state, *s.Board);
}
BENCHMARK(BM_DeviceSearchNothingFound)->Unit(benchmark::kMicrosecond);

void BM_FindMem128KiB(benchmark::State& state) {
  Setup s;
  const char pattern[] = "$NOTHERE";
  for (auto _ : state) benchmark::DoNotOptimize(s.Io.FindMem(128 * 1024, 1, 0x100000, 0, pattern, 8));
  ReportRequests(state, *s.Board);
}
BENCHMARK(BM_FindMem128KiB)->Unit(benchmark::kMicrosecond);

void BM_InByteThroughLayer(benchmark::State& state) {
  Setup s;
  for (auto _ : state) benchmark::DoNotOptimize(s.Io.InByte(0x80));
  ReportRequests(state, *s.Board);
}
BENCHMARK(BM_InByteThroughLayer);

void BM_InByteAtBoard(benchmark::State& state) {
  Setup s;
  u32 value = 0;
  for (auto _ : state) {
    s.Board->ReadPort(0x80, 1, value);
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_InByteAtBoard);

void BM_ReadPciDwordThroughLayer(benchmark::State& state) {
  Setup s;
  for (auto _ : state) benchmark::DoNotOptimize(s.Io.ReadPciDword(0, 0x1F, 3, 0x20));
  ReportRequests(state, *s.Board);
}
BENCHMARK(BM_ReadPciDwordThroughLayer);

void BM_ReadPciDwordAtBoard(benchmark::State& state) {
  Setup s;
  u32 value = 0;
  for (auto _ : state) {
    s.Board->ReadPciConfig(0, 0x1F, 3, 0x20, 4, value);
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_ReadPciDwordAtBoard);

void BM_ReadMemDwordThroughLayer(benchmark::State& state) {
  Setup s;
  for (auto _ : state) benchmark::DoNotOptimize(s.Io.ReadMemDword(0xF0000));
  ReportRequests(state, *s.Board);
}
BENCHMARK(BM_ReadMemDwordThroughLayer);

void BM_ReadMemDwordAtBoard(benchmark::State& state) {
  Setup s;
  u32 value = 0;
  for (auto _ : state) {
    s.Board->ReadMemory(0xF0000, &value, 4, kMemUnitDword);
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(BM_ReadMemDwordAtBoard);

}  // namespace
}  // namespace lirrin
