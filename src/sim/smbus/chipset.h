#pragma once
// The configuration side of the SMBus controllers: where each family's
// south bridge keeps the controller's base address, which bits enable its
// I/O decode and its host interface, and which bit hides the SMBus function.
// A family is described as data (TSMBusFamily, see families.cpp); the
// chipset object re-decodes the controller after every configuration write,
// so firmware values and later changes by drivers or scripts take effect the
// way the silicon applies them.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/board.h"
#include "sim/smbus/bus.h"
#include "sim/smbus/host.h"

namespace lirrin::sim {

// The function of the south bridge a register lives in: the bridge (LPC/ISA
// or the function the family is recognised by) or a separate SMBus function.
enum class TUnit { Bridge, Controller };

// Bits of one configuration byte; "set" when all of them read 1.
struct TConfigBits {
  TUnit Unit;
  u16 Offset;
  u8 Mask;
};

// A base-address word: (word & Mask) + Add.
struct TBaseRegister {
  TUnit Unit;
  u16 Offset;
  u16 Mask;
  u16 Add = 0;
};

// An I/O base register decoding `Size` bytes: bit 0 reads 1 (I/O space
// indicator), the bits below the size read 0, the upper 16 bits are
// writable.
struct TIoBar {
  TUnit Unit;
  u16 Offset;
  u16 Size;
};

enum class TRegisterInterface { Piix4, I801, Sch, Sis, Uli, Nforce };

// Intel ICH power-management block: the ACPI base in the LPC bridge and the
// TCO registers at ACPI base + 60h.
struct TIchPowerManagement {
  TBaseRegister Base;
  TConfigBits Enable;
};

struct TSMBusFamily {
  int Number = 0;  // position in the controller table, 0: none the table knows
  std::string Chipset;
  TRegisterInterface Interface = TRegisterInterface::Piix4;
  std::vector<TPciFunctionDescription> Platform;  // the rest of the board's functions
  TPciFunctionDescription Bridge;
  std::optional<TPciFunctionDescription> Controller;
  std::vector<TBaseRegister> Channels;  // one host controller per channel
  std::vector<TIoBar> Bars;
  std::vector<TConfigBits> Decode;  // the I/O windows decode while all are set
  std::optional<TConfigBits> HostEnable;
  std::optional<TConfigBits> Hide;  // the SMBus function reads as absent while set
  std::optional<TIchPowerManagement> PowerManagement;
  bool RootComplexFunctionDisable = false;  // ICH6-10: RCBA + 3418h bit 3 hides the SMBus function
  u8 SisDataOffset = 8;
  // SB800 and Hudson: the controller's base and enable are power-management
  // registers 2Ch/2Dh (bit 0 enable, base in bits 15:5), not configuration
  // space; the model shows them in the AcpiMmio window at FED80300h + index
  // [unverified that SB800 decodes that window, i2c-piix4.c uses 0CD6h/0CD7h].
  // The first channel's base and decode come from there.
  bool PowerManagementBase = false;
};

// The family table: index 0 is a board whose controller no family knows,
// 1..18 follow the order of the controller table.
const std::vector<TSMBusFamily>& SMBusFamilies();

// Parts of families 1 and 3 whose firmware paths differ from the boards of
// the table: an SB800 (family 1's memory-mapped base) and an ICH6 (family 3,
// hidden through the root complex instead of LPC config F2h).
const TSMBusFamily& Sb800Family();
const TSMBusFamily& Ich6Family();

struct TSMBusSwitches {
  bool AmplifierAbsent = false;  // noamp
  bool Stuck = false;            // stuck
  std::string StateFile;         // empty: slave state in memory
};

// Replaces the bridge and controller functions of `board` (if it has them)
// by the family's models, adds its other functions and attaches the buses.
void AttachSMBus(TBoardDescription& board, const TSMBusFamily& family, const TSMBusSwitches& switches);

}  // namespace lirrin::sim
