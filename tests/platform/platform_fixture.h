#pragma once
// Platform identification over a simulated board: a board context makes the
// board the transport of the I/O layer singleton, records the error boxes,
// and frees every process-wide object of platform identification when the
// board changes and after each test.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hw/board_context.h"
#include "platform/acpi_base.h"
#include "platform/initializer.h"
#include "platform/nvk_bios_info.h"
#include "platform/platform_check.h"
#include "platform/smbios_base.h"
#include "sim/board.h"
#include "sim/firmware.h"
#include "smbus/smbus.h"
#include "support/message_box.h"

namespace lirrin::testing {

// The debug lines are part of what is tested: the debug console of these
// tests is on, writing to standard error (no colours while captured). The
// Windows console is a window of its own, so there it stays off.
#ifdef _WIN32
constexpr bool kDebugLines = false;
#else
constexpr bool kDebugLines = true;
#endif

// RAM below 640 KiB and from 1 MiB to 256 MiB, the firmware area, and an
// ECAM window; no PCI functions unless a test adds them.
inline sim::TBoardDescription PlainBoard() {
  sim::TBoardDescription board;
  board.Name = "plain";
  board.Memory = {
      {sim::TMemoryDescription::Kind::Ram, 0x00000000, 0x000A0000, {}},
      {sim::TMemoryDescription::Kind::Rom, 0x000E0000, 0x00020000, {}},
      {sim::TMemoryDescription::Kind::Ram, 0x00100000, 0x10000000 - 0x00100000, {}},
  };
  board.EcamBase = 0xF0000000;
  board.EcamBuses = 64;
  return board;
}

// A PCI function whose subsystem vendor is `vendor`.
inline sim::TPciFunctionDescription FunctionWith(u8 bus, u8 device, u8 function, u16 vendor, u8 header = 0x00) {
  return {bus, device, function, 0x12348086, 0x088000, 0x00, header, u32{0x5000} << 16 | vendor, {}};
}

class PlatformTest : public ::testing::Test {
 protected:
  void TearDown() override { Context.reset(); }

  void Use(const sim::TBoardDescription& description) {
    Context.reset();
    Board = std::make_shared<sim::TSimBoard>(description);
    Context.emplace(TBoardSeams{
        .Transport = Board,
        .Clock = &Board->Clock(),
        .MessageBoxes = [this](const TMessageBox& box) { Boxes.push_back(box); },
        .Debug = kDebugLines,
    });
  }

  // Writes firmware bytes into the built board (RAM or ROM).
  void Place(u64 address, const std::vector<u8>& bytes) {
    ASSERT_TRUE(Board->Poke(address, bytes.data(), static_cast<u32>(bytes.size()))) << std::hex << address;
  }

  std::shared_ptr<sim::TSimBoard> Board;
  std::optional<TBoardContext> Context;
  std::vector<TMessageBox> Boxes;
};

}  // namespace lirrin::testing
