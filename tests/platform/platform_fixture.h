#pragma once
// Platform identification over a simulated board: the board becomes the
// transport of the I/O layer singleton, and every process-wide object of
// platform identification is freed after each test.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hw/read_write.h"
#include "platform/acpi_base.h"
#include "platform/initializer.h"
#include "platform/nvk_bios_info.h"
#include "platform/platform_check.h"
#include "platform/smbios_base.h"
#include "sim/board.h"
#include "sim/firmware.h"
#include "smbus/smbus.h"
#include "support/clock.h"
#include "support/debug_console.h"
#include "support/message_box.h"

namespace lirrin::testing {

#ifndef _WIN32
// The debug lines are part of what is tested: the debug console of these
// tests is on, writing to standard error (no colours while captured).
inline TDebugConsole* const kDebugConsole = TDebugConsole::Instance(true);
#endif

// RAM below 640 KiB and from 1 MiB to 256 MiB, the firmware area, and an
// ECAM window; no PCI functions unless a test adds them.
inline sim::TBoardDescription PlainBoard() {
  sim::TBoardDescription board;
  board.Name = "plain";
  board.Memory = {
      {sim::TMemorySpec::Kind::Ram, 0x00000000, 0x000A0000, {}},
      {sim::TMemorySpec::Kind::Rom, 0x000E0000, 0x00020000, {}},
      {sim::TMemorySpec::Kind::Ram, 0x00100000, 0x10000000 - 0x00100000, {}},
  };
  board.EcamBase = 0xF0000000;
  board.EcamBuses = 64;
  return board;
}

// A PCI function whose subsystem vendor is `vendor`.
inline sim::TPciFunctionSpec FunctionWith(u8 bus, u8 device, u8 function, u16 vendor, u8 header = 0x00) {
  return {bus, device, function, 0x12348086, 0x088000, 0x00, header, u32{0x5000} << 16 | vendor, {}};
}

class PlatformTest : public ::testing::Test {
 protected:
  void TearDown() override {
    FreeAll();
    TReadWrite::SetTransportFactory({});
    TClock::Install(nullptr);
    SetMessageBoxRecorder({});
  }

  static void FreeAll() {
    TInitializer::FreeInstance();
    TNvkSpec::FreeInstance();
    TAcpiBase::FreeInstance();
    TNvkBiosInfo::FreeInstance();
    TSmbiosBase::FreeInstance();
    TSMBus::FreeInstance();
    TReadWrite::FreeInstance();
  }

  void Use(const sim::TBoardDescription& description) {
    FreeAll();
    Board = std::make_shared<sim::TSimBoard>(description);
    TReadWrite::SetTransportFactory([board = Board] { return board; });
    TClock::Install(&Board->Clock());
  }

  // Writes firmware bytes into the built board (RAM or ROM).
  void Place(u64 address, const std::vector<u8>& bytes) {
    ASSERT_TRUE(Board->Poke(address, bytes.data(), static_cast<u32>(bytes.size()))) << std::hex << address;
  }

  void RecordMessageBoxes() {
    SetMessageBoxRecorder([this](const TMessageBox& box) { Boxes.push_back(box); });
  }

  std::shared_ptr<sim::TSimBoard> Board;
  std::vector<TMessageBox> Boxes;
};

}  // namespace lirrin::testing
