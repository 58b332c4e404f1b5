#pragma once
// The interpreter's failure texts (and the two DMEM appendices), built in one
// place each. Scripts and users compare these texts, so they are exact to the
// character. The status line of a command that succeeds is built by the
// command itself, next to the values it shows.

#include <string_view>

#include "support/text.h"
#include "support/types.h"

namespace lirrin {

TText CommandErrorMessage();      // a command statement without an argument
TText UnknownCommandMessage();
TText ParameterErrorMessage();    // fewer arguments than the command needs
TText OperandFormatMessage();     // neither a number nor a local
TText LocalIndexMessage();        // a local index that is not 0..F
TText OperandRangeMessage(u32 max);
TText CommandBreakMessage();
// A CMDS, WAIT or LOOP block without its closing brace; `keyword` is the
// block's word without the brace ("WAIT").
TText MissingBraceMessage(std::u16string_view keyword);
TText DivisionByZeroMessage();
TText CommandFailMessage();       // the processor refused a register access
TText SingleCpuMessage();
TText SwitchCpuMessage();
TText StepLimitMessage(u64 limit);
TText AllocateBufferMessage();    // appended to the DMEM printout
TText SaveFileMessage();          // appended to the DMEM printout

}  // namespace lirrin
