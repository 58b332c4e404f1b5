#pragma once
// SMBus host-controller models, one per register interface. Each is a
// register file decoded at an I/O window that the chipset side places (see
// chipset.h); a start bit turns the latched registers into one SMBus
// transaction on the bus. Every model follows the silicon as Linux's drivers
// and QEMU document it, and each names the sources it follows.
//
// Timing: the controller latches its registers when the transaction starts,
// but the bytes move on the bus only when it completes, after one status read
// has seen the controller busy, as QEMU's pm_smbus.c shows it (the first
// status read after START returns "busy"). A transaction killed or never
// observed to the end writes nothing. Completion never depends on wall-clock
// time.

#include <array>
#include <optional>

#include "sim/board.h"
#include "sim/smbus/bus.h"

namespace lirrin::sim {

class TSMBusHost : public TPortHandler {
 public:
  TSMBusHost(TSimBoard& board, TSMBusBus& bus, u16 windowSize);
  ~TSMBusHost() override;
  TSMBusHost(const TSMBusHost&) = delete;
  TSMBusHost& operator=(const TSMBusHost&) = delete;

  // Where the chipset decodes the register window; nowhere while `decoded`
  // is false or the base is 0.
  void Decode(u16 base, bool decoded);
  // The chipset's host-enable bit: a disabled host ignores start requests.
  void EnableHost(bool enabled) { HostEnabled = enabled; }
  // Fault switch: the controller is stuck busy. It never becomes idle and
  // start requests do nothing.
  bool Stuck = false;

  u32 ReadPort(u16 port, TAccessWidth width) override;
  void WritePort(u16 port, TAccessWidth width, u32 value) override;

  // The transaction that a protocol field selects, in the numbering most of
  // these controllers share (0 quick, 1 byte, 2 byte data, 3 word data;
  // nullopt for the rest), from an address byte with R/W in bit 0.
  static std::optional<TSMBusRequest> Request(unsigned protocol, u8 addressByte, u8 command,
                                              std::array<u8, 2> data);

 protected:
  enum class TOutcome { Done, NoAcknowledge, Unsupported };
  struct TCompletion {
    TOutcome Outcome;
    std::array<u8, 2> Data;  // bytes read, low first
  };

  virtual u8 ReadRegister(u8 offset) = 0;
  virtual void WriteRegister(u8 offset, u8 value) = 0;


  // Starts `request` (nullopt: a protocol this model does not implement)
  // unless the host is disabled, stuck or already busy; false when nothing
  // started. The request reaches the bus when Observe completes it.
  bool Launch(const std::optional<TSMBusRequest>& request);
  // A read of a register that shows progress: the completion, once, when the
  // running transaction finishes at this read.
  std::optional<TCompletion> Observe();
  // For the register-file models whose status has a done and an error bit:
  // when the running transaction finishes at this status read, sets
  // `doneBit` (and takes the bytes read into `data` when `addressByte` asked
  // for a read) or, without an acknowledge, `errorBit`.
  void LatchOutcome(u8& status, u8 doneBit, u8 errorBit, u8 addressByte, std::array<u8, 2>& data);
  bool Busy() const { return Stuck || Running.has_value(); }
  // Abandons the running transaction (the kill bit); false when none ran.
  bool Abort();

 private:
  struct TRunning {
    std::optional<TSMBusRequest> Request;
    unsigned BusyReads;
  };

  TSimBoard& Board;
  TSMBusBus& Bus;
  u16 WindowSize;
  u16 Base = 0;
  bool HostEnabled = true;
  std::optional<TRunning> Running;
};

// PIIX4 and its descendants (ATI/AMD SB, ServerWorks, VIA): i2c-piix4.c,
// i2c-viapro.c and QEMU pm_smbus.c. +0 status (0x01 busy, 0x02 interrupt,
// 0x04 device error, 0x08 collision, 0x10 failed; all but busy write-1-to-
// clear, an idle controller reads exactly 0), +2 control (bits 4:2 protocol,
// 0x40 start reading back 0, 0x02 kill, 0x01 interrupt enable), +3 command,
// +4 address with R/W in bit 0, +5/+6 data low/high, +7 block data.
class TPiix4Host : public TSMBusHost {
 public:
  TPiix4Host(TSimBoard& board, TSMBusBus& bus, u16 windowSize = 16) : TSMBusHost(board, bus, windowSize) {}

 protected:
  u8 ReadRegister(u8 offset) override;
  void WriteRegister(u8 offset, u8 value) override;

 private:
  u8 Status = 0, Control = 0, Command = 0, Address = 0, Block = 0;
  std::array<u8, 2> Data{};
};

// Intel ICH/PCH (i2c-i801.c, QEMU smbus_ich9.c): the PIIX4 register set in a
// 32-byte window plus +8 PEC, +0Ch auxiliary status (bit 0 CRC error, W1C)
// and +0Dh auxiliary control (bit 0 hardware PEC, bit 1 32-byte buffer).
class TI801Host final : public TPiix4Host {
 public:
  TI801Host(TSimBoard& board, TSMBusBus& bus) : TPiix4Host(board, bus, 32) {}

 protected:
  u8 ReadRegister(u8 offset) override;
  void WriteRegister(u8 offset, u8 value) override;

 private:
  u8 Pec = 0, AuxControl = 0;
};

// Intel SCH (i2c-isch.c): +0 control (bits 2:0 protocol, 0x10 start), +1
// status (0x08 busy, 0x04 collision, 0x02 device error, 0x01 done; W1C),
// +2/+3 clock divider, +4 address, +5 command, +6/+7 data, +20h..+3Fh block.
class TSchHost final : public TSMBusHost {
 public:
  TSchHost(TSimBoard& board, TSMBusBus& bus) : TSMBusHost(board, bus, 64) {}

 protected:
  u8 ReadRegister(u8 offset) override;
  void WriteRegister(u8 offset, u8 value) override;

 private:
  u8 Control = 0, Status = 0, Address = 0, Command = 0;
  std::array<u8, 2> Clock{}, Data{};
  std::array<u8, 32> Block{};
};

// SiS 96x (i2c-sis96x.c, i2c-sis630.c): +0 status (0x08 done, 0x02 device
// error, 0x04 collision, 0x10 byte done; W1C; no busy bit), +1 status
// enable, +2 control (bits 1:0 busy, read-only), +3 host control (0x10
// start, 0x20 kill, bits 2:0 protocol), +4 address, +5 command, +6/+7 counts,
// +8..+0Fh byte array, +10h..+13h slave registers. `dataOffset` is where the
// data low/high bytes sit: +8 on the parts the drivers know.
class TSisHost final : public TSMBusHost {
 public:
  TSisHost(TSimBoard& board, TSMBusBus& bus, u8 dataOffset) : TSMBusHost(board, bus, 32), DataOffset(dataOffset) {}

 protected:
  u8 ReadRegister(u8 offset) override;
  void WriteRegister(u8 offset, u8 value) override;

 private:
  u8 DataOffset;
  std::array<u8, 32> Registers{};  // the plain registers, by offset
};

// ALi/ULi M1563 (i2c-ali1563.c): i801-like status at +0 (0x01 busy, 0x02
// interrupt, 0x04 device error, 0x08 bus error, 0x10 failed, 0x80 byte done;
// W1C), +1 control 1, +2 control 2 (bits 5:3 protocol, 0x40 start, 0x04
// kill), +3 command, +4 address, +5/+6 data (send byte takes its byte from
// +5), +7 block data.
class TUliHost final : public TSMBusHost {
 public:
  TUliHost(TSimBoard& board, TSMBusBus& bus) : TSMBusHost(board, bus, 16) {}

 protected:
  u8 ReadRegister(u8 offset) override;
  void WriteRegister(u8 offset, u8 value) override;

 private:
  u8 Status = 0, Control1 = 0, Control2 = 0, Command = 0, Address = 0, Block = 0;
  std::array<u8, 2> Data{};
};

// nVidia nForce/MCP (i2c-nforce2.c; register model of ACPI's SMBus host
// controller as sbshc.c drives it): +0 protocol (writing it starts; bit 0
// read, bit 7 PEC), +1 status (0x80 done | ACPI status code in bits 4:0),
// +2 address without R/W bit, +3 command, +4..+23h data, +24h count,
// +3Ch abort status, +3Eh control.
class TNforceHost final : public TSMBusHost {
 public:
  TNforceHost(TSimBoard& board, TSMBusBus& bus) : TSMBusHost(board, bus, 64) {}

 protected:
  u8 ReadRegister(u8 offset) override;
  void WriteRegister(u8 offset, u8 value) override;

 private:
  std::array<u8, 64> Registers{};  // the plain registers, by offset
};

}  // namespace lirrin::sim
