#include "interp/messages.h"

#include <string>

#include "interp/value_format.h"

namespace lirrin {

TText CommandErrorMessage() { return u"Command error!"; }
TText UnknownCommandMessage() { return u"Unknown command!"; }
TText ParameterErrorMessage() { return u"parameter error!"; }
TText OperandFormatMessage() { return u"Operand format error."; }

TText LocalIndexMessage() {
  return TText(u"Support ") + u"16" + u" local variables only, i.e. Local# where # is in hex from 0 to " + u"0F";
}

TText OperandRangeMessage(u32 max) { return u"Operand range is 0 to " + HexShort(max) + u"!"; }
TText CommandBreakMessage() { return u"Command break"; }
TText MissingBraceMessage(std::u16string_view keyword) { return TText(keyword) + u" miss '}'"; }
TText DivisionByZeroMessage() { return u"Division by zero!"; }
TText CommandFailMessage() { return u"Command fail!"; }
TText SingleCpuMessage() { return u"Error: single CPU system!"; }
TText SwitchCpuMessage() { return u"Error to switch CPU!"; }

TText StepLimitMessage(u64 limit) {
  return u"Step limit of " + Widen(std::to_string(limit)) + u" reached!";
}

TText AllocateBufferMessage() { return u" - Allocate buffer error"; }
TText SaveFileMessage() { return u" - Write file error"; }

}  // namespace lirrin
