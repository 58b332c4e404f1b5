// Lirrin-sim.exe: the simulated board named by the environment.
#include <windows.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "app/program_board.h"
#include "hw/board_context.h"
#include "sim/boards.h"

namespace lirrin {

namespace {

std::string Environment(const char* name, const std::string& fallback) {
  char value[1024];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  if (length == 0 || length >= sizeof value) return fallback;
  return std::string(value, length);
}

// Lirrin-sim.state in the program's folder.
std::string DefaultStateFile() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  folder.erase(folder.find_last_of('\\') + 1);
  return folder + "Lirrin-sim.state";
}

class TSimulatedBoard final : public TProgramBoard {
 public:
  explicit TSimulatedBoard(bool debug) {
    const std::string name = Environment("LIRRIN_SIM_BOARD", "sim");
    std::string error;
    Board = sim::MakeBoard(name, Environment("LIRRIN_SIM_STATE", DefaultStateFile()), error);
    if (!Board) throw std::runtime_error("LIRRIN_SIM_BOARD: " + error);
    if (Environment("LIRRIN_SIM_REALTIME", "0") == "1") Board->Clock().RunInRealTime();
    Context.emplace(TBoardSeams{.Transport = Board, .Clock = &Board->Clock(), .Debug = debug});
  }

 private:
  std::shared_ptr<sim::TSimBoard> Board;
  std::optional<TBoardContext> Context;  // ends before the board it points at
};

}  // namespace

std::unique_ptr<TProgramBoard> ConnectProgramBoard(bool debug) { return std::make_unique<TSimulatedBoard>(debug); }

}  // namespace lirrin
