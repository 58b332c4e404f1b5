#pragma once
// A simulated SMBus segment and its slaves, in the shape of Linux's
// i2c-stub: slaves are register files that answer the bus conditions a host
// controller produces (start with the address byte, bytes written, bytes
// read, stop). Host-controller models turn their register writes into one
// SMBus protocol at a time (TSMBusRequest); the bus plays it on the wire the
// way SMBus 2.0 defines it and reports whether the slave acknowledged.
//
// The slaves' registers (TSlaveState) can live in a state file: each
// transaction then loads them, runs and saves them under an exclusive lock,
// so several processes sharing one file behave like one bus.

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "smbus/amp_word.h"
#include "support/types.h"

namespace lirrin::sim {

// 7-bit address of the EEPROM this board carries beside the amplifier.
constexpr u8 kEepromAddress = 0x50;  // A0h in the 8-bit form

// Everything the slaves remember; what the state file holds.
struct TSlaveState {
  u16 AmplifierWord = 0;
  std::array<u8, 256> Eeprom{};

  bool operator==(const TSlaveState&) const = default;
};

// The contents of a serial-presence-detect EEPROM of a DDR2 module as a
// fresh board has it.
TSlaveState DefaultSlaveState();
std::string FormatSlaveState(const TSlaveState& state);
std::optional<TSlaveState> ParseSlaveState(const std::string& text);

// One slave on the wire. A transfer is Start, then bytes in one direction,
// then (for combined formats) a repeated Start, then Stop.
class TSMBusSlave {
 public:
  virtual ~TSMBusSlave() = default;
  virtual u8 Address() const = 0;
  // The slave's acknowledge of its address byte.
  virtual bool Start(bool read) = 0;
  // The slave's acknowledge of a byte the host wrote.
  virtual bool Write(u8 byte) = 0;
  virtual u8 Read() = 0;
};

// The amplifier: one 16-bit register (amp_word.h) whose every bit is kept as
// written, low byte first on the wire. Other commands are not acknowledged.
// Absent (the noamp switch), it acknowledges nothing.
class TAmplifier final : public TSMBusSlave {
 public:
  explicit TAmplifier(TSlaveState& state) : State(state) {}
  bool Present = true;

  u8 Address() const override { return amp::kSlaveAddress; }
  bool Start(bool read) override;
  bool Write(u8 byte) override;
  u8 Read() override;

 private:
  TSlaveState& State;
  std::optional<u8> Pointer;  // command byte of the current write
  unsigned ByteIndex = 0;     // 0: low byte next, 1: high byte next
};

// A 256-byte SPD-like EEPROM: the first byte written sets the address
// pointer, later bytes are stored at the pointer, which advances and wraps;
// reads return the byte at the pointer and advance it.
class TEeprom final : public TSMBusSlave {
 public:
  explicit TEeprom(TSlaveState& state) : State(state) {}

  u8 Address() const override { return kEepromAddress; }
  bool Start(bool read) override;
  bool Write(u8 byte) override;
  u8 Read() override;

 private:
  TSlaveState& State;
  u8 Pointer = 0;
  bool PointerSet = false;
};

enum class TSMBusProtocol { Quick, Byte, ByteData, WordData };

// One SMBus transaction as a host controller issues it.
struct TSMBusRequest {
  u8 Address = 0;  // 7-bit
  bool Read = false;
  TSMBusProtocol Protocol = TSMBusProtocol::Quick;
  u8 Command = 0;
  std::array<u8, 2> Data{};  // bytes written, low byte first
};

struct TSMBusReply {
  bool Acknowledged = false;  // false: a byte was not acknowledged (device error)
  std::array<u8, 2> Data{};   // bytes read, low byte first
};

class TSMBusBus {
 public:
  // An empty `stateFile` keeps the slaves' state in memory only.
  explicit TSMBusBus(std::string stateFile = {});

  // The registers the slaves keep. With a state file they are loaded from
  // it before and saved to it after each transfer.
  TSlaveState& SlaveState() { return State; }
  void Attach(std::unique_ptr<TSMBusSlave> slave);
  TSMBusReply Transfer(const TSMBusRequest& request);

 private:
  TSMBusReply Play(const TSMBusRequest& request);
  TSMBusSlave* Slave(u8 address) const;

  std::string StateFile;
  TSlaveState State;
  std::vector<std::unique_ptr<TSMBusSlave>> Slaves;
};

// A bus with the amplifier and the EEPROM attached.
std::unique_ptr<TSMBusBus> MakeBoardBus(const std::string& stateFile, bool amplifierPresent);

}  // namespace lirrin::sim
