#pragma once
// The variant codes with which one command handler serves several command
// words (internal to the interpreter).

#include "support/types.h"

namespace lirrin {

enum TArithmeticOperation : u32 { kOpAdd, kOpSub, kOpMul, kOpDiv, kOpMod, kOpAnd, kOpOr, kOpXor, kOpNot, kOpShr, kOpShl, kOpCmz };

// PCI commands: the access width in bytes (1, 2, 4), plus this flag for the
// PCI Express forms.
constexpr u32 kPcieForm = 0x100;
constexpr u32 kWidthMask = 0x0FF;

}  // namespace lirrin
