// Arithmetic and logic: 32-bit unsigned, results modulo 2^32.
#include "interp/command_variants.h"
#include "interp/interpreter.h"
#include "interp/messages.h"
#include "interp/value_format.h"

namespace lirrin {

namespace {

// How a command prints its operands and value.
enum class TPrintout {
  Short,       // operands HexShort, value HexDword
  Dword,       // operands and value HexDword
  Complement,  // operand and value HexShort
};

struct TOperation {
  const char16_t* Name;
  unsigned Operands;
  TPrintout Printout;
};

// Indexed by TArithmeticOperation.
constexpr TOperation kOperations[] = {
    {u"Add", 2, TPrintout::Short},  {u"Sub", 2, TPrintout::Short},
    {u"Mul", 2, TPrintout::Short},  {u"Div", 2, TPrintout::Short},
    {u"Mod", 2, TPrintout::Short},  {u"And", 2, TPrintout::Short},
    {u"Or", 2, TPrintout::Dword},   {u"Xor", 2, TPrintout::Dword},
    {u"Not", 1, TPrintout::Dword},  {u"Shr", 2, TPrintout::Dword},
    {u"Shl", 2, TPrintout::Dword},  {u"Complement Zero", 1, TPrintout::Complement},
};

u32 Apply(u32 operation, u32 a, u32 b) {
  switch (operation) {
    case kOpAdd: return a + b;
    case kOpSub: return a - b;
    case kOpMul: return a * b;
    case kOpDiv: return a / b;
    case kOpMod: return a % b;
    case kOpAnd: return a & b;
    case kOpOr: return a | b;
    case kOpXor: return a ^ b;
    case kOpNot: return ~a;
    case kOpShr: return a >> (b % 32);
    case kOpShl: return a << (b % 32);
    default: return a == 0 ? 0xFFFFFFFFu : 0;  // CMZ: a zero becomes non-zero, anything else 0
  }
}

}  // namespace

bool TInterpreter::RunArithmetic(u32 operation) {
  const TOperation& op = kOperations[operation];
  if (!FetchParams(op.Operands)) return false;
  const u32 a = Params[0];
  const u32 b = Params[1];
  // A zero divisor has no value to give: the statement fails rather than
  // hand a made-up number to a script that compares it.
  if ((operation == kOpDiv || operation == kOpMod) && b == 0) return Fail(DivisionByZeroMessage());
  const u32 value = Apply(operation, a, b);
  StoreValue(value);
  switch (op.Printout) {
    case TPrintout::Short:
      SetMessage(op.Name, u" (", HexShort(a), u", ", HexShort(b), u") = ", HexDword(value));
      break;
    case TPrintout::Dword:
      if (op.Operands == 1) {
        SetMessage(op.Name, u" (", HexDword(a), u") = ", HexDword(value));
      } else {
        SetMessage(op.Name, u" (", HexDword(a), u", ", HexDword(b), u") = ", HexDword(value));
      }
      break;
    case TPrintout::Complement:
      SetMessage(op.Name, u" (", HexShort(a), u") = ", HexShort(value));
      break;
  }
  return true;
}

}  // namespace lirrin
