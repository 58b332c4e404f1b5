#include "interp/interpreter.h"

#include <unordered_map>

#include "interp/command_variants.h"
#include "interp/messages.h"
#include "interp/value_format.h"

namespace lirrin {

// LastResult and ScriptResult start at 0, like the locals, so a break test
// or a WAIT comparison before any value-producing statement reads 0.
TInterpreter::TInterpreter() = default;

// The log file closes with its stream.
TInterpreter::~TInterpreter() = default;

const TInterpreter::TCommand* TInterpreter::FindCommand(TTextView word) {
  static const std::unordered_map<TTextView, TCommand> commands = {
      {u"ADD", {&TInterpreter::RunArithmetic, kOpAdd}},
      {u"SUB", {&TInterpreter::RunArithmetic, kOpSub}},
      {u"MUL", {&TInterpreter::RunArithmetic, kOpMul}},
      {u"DIV", {&TInterpreter::RunArithmetic, kOpDiv}},
      {u"MOD", {&TInterpreter::RunArithmetic, kOpMod}},
      {u"AND", {&TInterpreter::RunArithmetic, kOpAnd}},
      {u"OR", {&TInterpreter::RunArithmetic, kOpOr}},
      {u"XOR", {&TInterpreter::RunArithmetic, kOpXor}},
      {u"NOT", {&TInterpreter::RunArithmetic, kOpNot}},
      {u"SHR", {&TInterpreter::RunArithmetic, kOpShr}},
      {u"SHL", {&TInterpreter::RunArithmetic, kOpShl}},
      {u"CMZ", {&TInterpreter::RunArithmetic, kOpCmz}},
      {u"DELAY", {&TInterpreter::RunDelay, 0}},
      {u"I", {&TInterpreter::RunPortIn, 1}},
      {u"I16", {&TInterpreter::RunPortIn, 2}},
      {u"I32", {&TInterpreter::RunPortIn, 4}},
      {u"O", {&TInterpreter::RunPortOut, 1}},
      {u"O16", {&TInterpreter::RunPortOut, 2}},
      {u"O32", {&TInterpreter::RunPortOut, 4}},
      {u"IID", {&TInterpreter::RunIndexDataIn, 1}},
      {u"IID16", {&TInterpreter::RunIndexDataIn, 2}},
      {u"IID32", {&TInterpreter::RunIndexDataIn, 4}},
      {u"OID", {&TInterpreter::RunIndexDataOut, 1}},
      {u"OID16", {&TInterpreter::RunIndexDataOut, 2}},
      {u"OID32", {&TInterpreter::RunIndexDataOut, 4}},
      {u"RPCI", {&TInterpreter::RunPciRead, 1}},
      {u"RPCI16", {&TInterpreter::RunPciRead, 2}},
      {u"RPCI32", {&TInterpreter::RunPciRead, 4}},
      {u"RPCIE", {&TInterpreter::RunPciRead, kPcieForm | 1}},
      {u"RPCIE16", {&TInterpreter::RunPciRead, kPcieForm | 2}},
      {u"RPCIE32", {&TInterpreter::RunPciRead, kPcieForm | 4}},
      {u"WPCI", {&TInterpreter::RunPciWrite, 1}},
      {u"WPCI16", {&TInterpreter::RunPciWrite, 2}},
      {u"WPCI32", {&TInterpreter::RunPciWrite, 4}},
      {u"WPCIE", {&TInterpreter::RunPciWrite, kPcieForm | 1}},
      {u"WPCIE16", {&TInterpreter::RunPciWrite, kPcieForm | 2}},
      {u"WPCIE32", {&TInterpreter::RunPciWrite, kPcieForm | 4}},
      {u"ERPCI", {&TInterpreter::RunPackedPciRead, 1}},
      {u"ERPCI16", {&TInterpreter::RunPackedPciRead, 2}},
      {u"ERPCI32", {&TInterpreter::RunPackedPciRead, 4}},
      {u"ERPCIE", {&TInterpreter::RunPackedPciRead, kPcieForm | 1}},
      {u"ERPCIE16", {&TInterpreter::RunPackedPciRead, kPcieForm | 2}},
      {u"ERPCIE32", {&TInterpreter::RunPackedPciRead, kPcieForm | 4}},
      {u"EWPCI", {&TInterpreter::RunPackedPciWrite, 1}},
      {u"EWPCI16", {&TInterpreter::RunPackedPciWrite, 2}},
      {u"EWPCI32", {&TInterpreter::RunPackedPciWrite, 4}},
      {u"EWPCIE", {&TInterpreter::RunPackedPciWrite, kPcieForm | 1}},
      {u"EWPCIE16", {&TInterpreter::RunPackedPciWrite, kPcieForm | 2}},
      {u"EWPCIE32", {&TInterpreter::RunPackedPciWrite, kPcieForm | 4}},
      {u"FPCI", {&TInterpreter::RunFindPci, 0}},
      {u"FPCICLASS", {&TInterpreter::RunFindPci, 1}},
      {u"R", {&TInterpreter::RunMemRead, 1}},
      {u"R16", {&TInterpreter::RunMemRead, 2}},
      {u"R32", {&TInterpreter::RunMemRead, 4}},
      {u"W", {&TInterpreter::RunMemWrite, 1}},
      {u"W16", {&TInterpreter::RunMemWrite, 2}},
      {u"W32", {&TInterpreter::RunMemWrite, 4}},
      {u"DMEM", {&TInterpreter::RunDmem, 0}},
      {u"FMEM", {&TInterpreter::RunFmem, 0}},
      {u"CPU", {&TInterpreter::RunCpu, 0}},
      {u"RDMSR", {&TInterpreter::RunRdmsr, 0}},
      {u"WRMSR", {&TInterpreter::RunWrmsr, 0}},
      {u"RDPMC", {&TInterpreter::RunRdpmc, 0}},
      {u"RDCR", {&TInterpreter::RunRdcr, 0}},
      {u"WRCR", {&TInterpreter::RunWrcr, 0}},
      {u"CPUID", {&TInterpreter::RunCpuid, 0}},
      {u"LOGFILE", {&TInterpreter::RunLogFile, 0}},
  };
  const auto found = commands.find(word);
  return found == commands.end() ? nullptr : &found->second;
}

bool TInterpreter::RunScript(TTextView script) { return RunScript(script, ScriptResultValue); }

bool TInterpreter::RunScript(TTextView script, u32& result) {
  Lines.clear();
  Steps = 0;
  ResultVariable = &result;
  return RunBlocks(NormaliseScript(script));
}

// Leading spaces and ";" start no statement, so a list of nothing but
// separators runs nothing; an empty statement between two ";" further on is
// run and fails as a command without an argument.
bool TInterpreter::RunStatements(TTextView text) {
  text = text.substr(std::min(text.find_first_not_of(u" ;"), text.size()));
  while (!text.empty()) {
    const std::size_t end = text.find(u';');
    const TTextView statement = Trim(text.substr(0, end));
    text = end == TTextView::npos ? TTextView() : Trim(text.substr(end + 1));
    if (!RunStatement(statement)) return false;
    if (BreakCondition()) {
      Message = CommandBreakMessage();
      return true;
    }
  }
  return true;
}

bool TInterpreter::RunStatement(TTextView statement) {
  if (!CountSteps(1)) return false;
  Target = kLastResultSlot;
  BreakIfZero = BreakIfNonZero = false;
  if (statement.starts_with(u"LOCAL")) {
    unsigned index = 0;
    if (!ParseLocalIndex(statement, index)) return false;
    Target = index;
    const std::size_t equals = statement.find(u'=');
    if (equals != TTextView::npos) statement = Trim(statement.substr(equals + 1));
    if (statement.empty()) {
      // "LocalX=" hands the local to the result; its printout names the
      // local with two digits, unlike the assignment below.
      *ResultVariable = Slots[index];
      SetMessage(u"Local", HexDigits(index, 2), u" = ", HexDec(Slots[index]));
      return true;
    }
    if (ParseOperand(statement, Slots[index])) {
      SetMessage(u"Local", HexDigits(index, 1), u" = ", HexDec(Slots[index]));
      return true;
    }
    return RunCommand(statement);
  }
  if (statement.starts_with(u"BKIF0") || statement.starts_with(u"BKIF1")) {
    (statement[4] == u'0' ? BreakIfZero : BreakIfNonZero) = true;
    return RunCommand(Trim(statement.substr(5)));
  }
  if (statement == u"RESULT") {
    *ResultVariable = LastResult();
    SetMessage(u"Last result = ", HexDword(LastResult()));
    return true;
  }
  if (statement == u"RWEXIT") return true;
  if (statement.starts_with(u"RDTSC")) return RunRdtsc();
  if (statement == u"LOGFILE") return CancelLogFile();
  return RunCommand(statement);
}

bool TInterpreter::RunCommand(TTextView statement) {
  const std::size_t space = statement.find(u' ');
  if (space == TTextView::npos) return Fail(CommandErrorMessage());
  Tokens.Split(Trim(statement.substr(space + 1)));
  NextToken = 0;
  const TCommand* command = FindCommand(statement.substr(0, space));
  if (command == nullptr) return Fail(UnknownCommandMessage());
  return (this->*command->Run)(command->Variant);
}

bool TInterpreter::BreakCondition() const {
  return (BreakIfZero && *ResultVariable == 0) || (BreakIfNonZero && *ResultVariable != 0);
}

bool TInterpreter::CountSteps(u64 count) {
  Steps += count;
  if (StepLimit == 0 || Steps <= StepLimit) return true;
  return Fail(StepLimitMessage(StepLimit));
}

bool TInterpreter::Fail(TText message) {
  Message = std::move(message);
  return false;
}

void TInterpreter::StoreValue(u32 value) {
  Slots[Target] = value;
  *ResultVariable = value;
}

// Surplus arguments are no error: they stay for optional parameters and are
// otherwise ignored.
bool TInterpreter::FetchParams(unsigned count) {
  if (Tokens.Count() - NextToken < count) return Fail(ParameterErrorMessage());
  for (unsigned i = 0; i < count; ++i) {
    if (!ParseOperand(Tokens.At(NextToken++), Params[i])) return false;
  }
  return true;
}

// An argument that is no operand stays for a text parameter (DMEM's file
// name may follow the address directly).
void TInterpreter::FetchOptionalParam(unsigned index, u32 fallback) {
  if (NextToken < Tokens.Count() && ParseOperand(Tokens.At(NextToken), Params[index])) {
    ++NextToken;
  } else {
    Params[index] = fallback;
  }
}

bool TInterpreter::FetchTextParams(unsigned count) {
  if (Tokens.Count() - NextToken < count) return Fail(ParameterErrorMessage());
  for (unsigned i = 0; i < count; ++i) TextParams[i] = TText(Tokens.At(NextToken++));
  return true;
}

bool TInterpreter::HasFlagWord(TTextView word) const {
  for (std::size_t i = NextToken; i < Tokens.Count(); ++i) {
    if (Tokens.At(i) == word) return true;
  }
  return false;
}

bool TInterpreter::ParseOperand(TTextView text, u32& slot) {
  if (text.starts_with(u"LOCAL")) {
    unsigned index = 0;
    if (!ParseLocalIndex(text, index)) return false;
    slot = Slots[index];
    return true;
  }
  u32 value = 0;
  if (!ParseNumber(text, value)) return Fail(OperandFormatMessage());
  slot = value;
  return true;
}

// The index is the hexadecimal number between "LOCAL" and the first "=";
// leading zeros are allowed ("LOCAL0A"), spaces are not ("LOCAL 1").
bool TInterpreter::ParseLocalIndex(TTextView text, unsigned& index) {
  TTextView digits = text.substr(5);
  digits = digits.substr(0, digits.find(u'='));
  unsigned value = 0;
  for (char16_t c : digits) {
    unsigned digit;
    if (c >= u'0' && c <= u'9') {
      digit = c - u'0';
    } else if (c >= u'A' && c <= u'F') {
      digit = c - u'A' + 10;
    } else {
      return Fail(LocalIndexMessage());
    }
    value = std::min(value * 16 + digit, kLocalCount);
  }
  if (digits.empty() || value >= kLocalCount) return Fail(LocalIndexMessage());
  index = value;
  return true;
}

bool TInterpreter::CheckRange(u32 value, u32 max) { return value <= max || Fail(OperandRangeMessage(max)); }

}  // namespace lirrin
