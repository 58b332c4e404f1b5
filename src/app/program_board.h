#pragma once
// The machine the program drives. Lirrin.exe reaches the board through the
// platform's own transport, its kernel driver. Lirrin-sim.exe is the same
// program on the simulated board: LIRRIN_SIM_BOARD names the board in
// lirrin-cli's --board syntax (default "sim"), and LIRRIN_SIM_STATE the file
// that keeps the amplifier's register (default "Lirrin-sim.state" beside
// the program), in lirrin-cli's --state format and under its lock, so that
// lirrin-cli reads what the panel wrote. LIRRIN_SIM_REALTIME=1 makes the
// board's delays take real time, as lirrin-cli's --realtime does, so that the
// program can be measured as a user of a real board would wait for it.
// Nothing else differs between the two programs.

#include <memory>

namespace lirrin {

class TProgramBoard {
 public:
  virtual ~TProgramBoard() = default;
};

// Connects the I/O layer, the clock and the debug console for the rest of
// the run; everything built over the board goes when the object does.
// Throws std::runtime_error with the reason when the board cannot be had.
std::unique_ptr<TProgramBoard> ConnectProgramBoard(bool debug);

}  // namespace lirrin
