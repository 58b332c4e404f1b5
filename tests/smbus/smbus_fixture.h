#pragma once
// The SMBus engine over a simulated board. The board is reached through a
// transport that records every write the engine makes (ports, configuration
// space, memory), in order, so that tests can see what went over the
// controller's registers: the address byte, the command codes, the clears of
// the status register.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hw/board_context.h"
#include "hw/driver_model.h"
#include "hw/read_write.h"
#include "interp/interpreter.h"
#include "sim/boards.h"
#include "sim/firmware.h"
#include "smbus/smbus.h"

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace lirrin::testing {

struct TWrite {
  enum class TKind { Port, Config, Memory } Kind;
  u64 Where;  // port, packed bus/device/function << 16 | offset, or address
  u32 Value;
};

class TTracingTransport final : public TTransport {
 public:
  explicit TTracingTransport(std::shared_ptr<sim::TSimBoard> board) : Board(std::move(board)) {}

  bool ReadPort(u16 port, TAccessWidth width, u32& value) override { return Board->ReadPort(port, width, value); }
  bool WritePort(u16 port, TAccessWidth width, u32 value) override {
    Writes.push_back({TWrite::TKind::Port, port, value});
    return Board->WritePort(port, width, value);
  }
  bool ReadPciConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32& value) override {
    return Board->ReadPciConfig(bus, device, function, offset, width, value);
  }
  bool WritePciConfig(u8 bus, u8 device, u8 function, u16 offset, TAccessWidth width, u32 value) override {
    Writes.push_back({TWrite::TKind::Config, u64{MakePciAddress(bus, device, function)} << 16 | offset, value});
    return Board->WritePciConfig(bus, device, function, offset, width, value);
  }
  bool ReadMemory(u64 address, void* buffer, u32 length, u32 unit) override {
    return Board->ReadMemory(address, buffer, length, unit);
  }
  bool WriteMemory(u64 address, const void* buffer, u32 length, u32 unit) override {
    Writes.push_back({TWrite::TKind::Memory, address, length >= 4 ? *static_cast<const u32*>(buffer) : 0});
    return Board->WriteMemory(address, buffer, length, unit);
  }
  bool ReadMsr(u32 index, u64& value) override { return Board->ReadMsr(index, value); }
  bool WriteMsr(u32 index, u64 value) override { return Board->WriteMsr(index, value); }
  bool ReadCr(u32 index, u64& value) override { return Board->ReadCr(index, value); }
  bool WriteCr(u32 index, u64 value) override { return Board->WriteCr(index, value); }
  bool ReadTsc(u64& value) override { return Board->ReadTsc(value); }
  bool ReadPmc(u32 counter, u64& value) override { return Board->ReadPmc(counter, value); }
  u32 ProcessorCount() override { return Board->ProcessorCount(); }
  bool SetAffinity(u64 mask) override { return Board->SetAffinity(mask); }

  // The values written to one port, in order.
  std::vector<u32> PortWrites(u16 port) const {
    std::vector<u32> values;
    for (const TWrite& write : Writes) {
      if (write.Kind == TWrite::TKind::Port && write.Where == port) values.push_back(write.Value);
    }
    return values;
  }

  std::shared_ptr<sim::TSimBoard> Board;
  std::vector<TWrite> Writes;
};

// A lock name no other test process uses, so that parallel runs do not wait
// for each other.
inline std::string UniqueLockName() {
#ifdef _WIN32
  return "Local\\lirrin-smbus-test-" + std::to_string(_getpid());
#else
  return "lirrin-smbus-test-" + std::to_string(getpid());
#endif
}

class SMBusTest : public ::testing::Test {
 protected:
  void TearDown() override {
    Engine.reset();
    Context.reset();
#ifndef _WIN32
    // The POSIX lock is a file named after the lock under /run/lock.
    std::remove(("/run/lock/" + UniqueLockName() + ".lock").c_str());
#endif
  }

  // Builds the named board (sim:N with switches), connects the I/O layer
  // singleton to it through the tracing transport, and creates the engine,
  // which detects the controller. `debug` switches the debug console on.
  void UseBoard(const std::string& name, const std::string& stateFile = {}, bool debug = false) {
    std::string error;
    UseBoard(sim::MakeBoard(name, stateFile, error), debug);
    ASSERT_TRUE(Board) << error;
  }
  // The same board behind the Windows driver's request handling, as the
  // program reaches it on Windows (hw/driver_model.h).
  void UseBoardThroughDriver(const std::string& name, const std::string& stateFile) {
    std::string error;
    UseBoard(sim::MakeBoard(name, stateFile, error), false, true);
    ASSERT_TRUE(Board) << error;
  }
  void UseBoard(std::shared_ptr<sim::TSimBoard> board, bool debug = false, bool throughDriver = false) {
    Engine.reset();
    Context.reset();
    Board = std::move(board);
    if (!Board) return;
    Trace = std::make_shared<TTracingTransport>(Board);
    std::shared_ptr<TTransport> transport = Trace;
    if (throughDriver) transport = MakeDriverModelTransport(Trace, {.SystemRam = sim::OsManagedRam(*Board)});
    Context.emplace(TBoardSeams{.Transport = transport, .Clock = &Board->Clock(), .Debug = debug});
    Engine = std::make_unique<TSMBus>(UniqueLockName());
  }

  // Starts recording afresh: request counts and the write trace.
  void ResetTrace() {
    Board->ResetRequestCounts();
    Trace->Writes.clear();
  }

  // The controller's base port as the detected family's own texts find it,
  // by a side run that restores what it enabled.
  u16 BasePort(const TText& baseText) {
    TInterpreter probe;
    const TSMBusCfg& family = Engine->Controller();
    for (const TText* text : {&family.Detect, &family.Init, &baseText}) probe.RunScript(*text);
    const u16 base = static_cast<u16>(probe.Local(0));
    probe.RunScript(family.Restore);
    return base;
  }

  bool WriteWord(u8 address, u8 command, u16 word) {
    const std::array<u8, 2> bytes{static_cast<u8>(word), static_cast<u8>(word >> 8)};
    return Engine->WriteWords(address, command, bytes.data(), 1);
  }

  std::shared_ptr<sim::TSimBoard> Board;
  std::shared_ptr<TTracingTransport> Trace;
  std::optional<TBoardContext> Context;
  std::unique_ptr<TSMBus> Engine;
};

// The built-in families in key order, as the simulated boards number them
// (sim:N carries family N).
inline const std::array<const char16_t*, 19> kFamilyNames = {
    nullptr,
    u"ATI SB400/SB600/SB700/SB800/Hudson",
    u"Intel ICH7/ICH8/ICH9/ICH10",
    u"Intel ICHx",
    u"Intel PCH/P67/Z77",
    u"Intel SCH",
    u"ServerWorks OSB4/CSB5",
    u"SiS 962/963",
    u"SiS 964",
    u"SiS 965/966",
    u"SiS 968",
    u"ULI M1563",
    u"ULI M1573",
    u"ULI M1575",
    u"VIA 8235/8237/8237A/8251",
    u"VIA VX900",
    u"nVidia MCP2",
    u"nVidia MCPxx",
    u"nVidia nForce3/CK804",
};

inline std::string BoardName(int family, const char* switches = "") {
  return "sim:" + std::to_string(family) + switches;
}

}  // namespace lirrin::testing
