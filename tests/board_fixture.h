#pragma once
// A simulated board and an I/O layer over it, for tests of everything that
// sits on TReadWrite.

#include <gtest/gtest.h>

#include <memory>

#include "hw/read_write.h"
#include "sim/board.h"

namespace lirrin::testing {

class BoardTest : public ::testing::Test {
 protected:
  void Use(const sim::TBoardDescription& description) {
    Board = std::make_shared<sim::TSimBoard>(description);
    Io = std::make_unique<TReadWrite>(Board);
  }

  u64 Requests(sim::TRequestKind kind) const { return Board->Requests(kind); }

  std::shared_ptr<sim::TSimBoard> Board;
  std::unique_ptr<TReadWrite> Io;
};

}  // namespace lirrin::testing
