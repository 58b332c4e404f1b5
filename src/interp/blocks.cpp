// The block loop of a script: plain statement runs and the CMDS, WAIT and
// LOOP blocks between them, and DELAY. Blocks do not nest: the first "}"
// ends a block, and a block keyword inside a block is no block.
#include <algorithm>

#include "interp/interpreter.h"
#include "interp/messages.h"
#include "interp/value_format.h"
#include "support/clock.h"

namespace lirrin {

namespace {

constexpr TTextView kCmds = u"CMDS{";
constexpr TTextView kWait = u"WAIT{";
constexpr TTextView kLoop = u"LOOP{";

std::size_t NearestBlock(TTextView text) {
  return std::min({text.find(kCmds), text.find(kWait), text.find(kLoop)});
}

}  // namespace

bool TInterpreter::RunBlocks(TTextView text) {
  while (!text.empty()) {
    bool ok;
    if (text.starts_with(kCmds)) {
      ok = RunCmdsBlock(text);
    } else if (text.starts_with(kWait)) {
      ok = RunWaitBlock(text);
    } else if (text.starts_with(kLoop)) {
      ok = RunLoopBlock(text);
    } else {
      // A break in a plain run ends only that run; the script goes on with
      // the next block.
      const std::size_t block = NearestBlock(text);
      const TTextView plain = text.substr(0, block);
      text = block == TTextView::npos ? TTextView() : text.substr(block);
      ok = RunStatements(Trim(plain));
    }
    if (!ok) return false;
  }
  return true;
}

// The operand before the first space of `text` (the caller has made sure
// there is one); `text` moves past it.
bool TInterpreter::TakeOperand(TTextView& text, u32& slot) {
  const std::size_t space = text.find(u' ');
  const TTextView operand = text.substr(0, space);
  text = Trim(text.substr(space + 1));
  return ParseOperand(operand, slot);
}

bool TInterpreter::TakeBlockBody(TTextView keyword, TTextView& text, TTextView& body) {
  const std::size_t brace = text.find(u'}');
  if (brace == TTextView::npos) return Fail(MissingBraceMessage(keyword));
  body = Trim(text.substr(0, brace));
  text = Trim(text.substr(brace + 1));
  return true;
}

// A break inside the block skips the block's remaining statements and the
// script goes on after the block. The break condition is tested again once
// the block has run, with the flags of the last statement that ran, which
// may be one before the block when its body runs nothing.
bool TInterpreter::RunCmdsBlock(TTextView& text) {
  text = text.substr(kCmds.size());
  TTextView body;
  if (!TakeBlockBody(u"CMDS", text, body) || !RunStatements(body)) return false;
  if (BreakCondition()) Message = CommandBreakMessage();
  return true;
}

// A busy poll: the passes follow each other without a pause until the
// result equals the expected value, a break, or the count runs out. An
// exhausted count ends the block quietly; the caller tells a timeout from
// success by the result the last pass left.
bool TInterpreter::RunWaitBlock(TTextView& text) {
  text = Trim(text.substr(kWait.size()));
  if (text.find(u' ') == TTextView::npos) return Fail(ParameterErrorMessage());
  if (!TakeOperand(text, WaitValue)) return false;
  // A count that no space follows fails the run without a message of its own.
  if (text.find(u' ') == TTextView::npos) return false;
  if (!TakeOperand(text, RepeatCount)) return false;
  Endless = RepeatCount == 0;
  TTextView body;
  if (!TakeBlockBody(u"WAIT", text, body)) return false;
  while (Endless || RepeatCount != 0) {
    // Each pass is a step against the step limit, so that even a pass
    // without statements cannot loop for ever under a limit.
    if (!CountSteps(1) || !RunStatements(body)) return false;
    if (BreakCondition()) {
      Message = CommandBreakMessage();
      break;
    }
    if (*ResultVariable == WaitValue) break;
    --RepeatCount;
  }
  return true;
}

// A LOOP without its "}" fails with the message WAIT and CMDS give in the
// same case: "LOOP miss '}'".
bool TInterpreter::RunLoopBlock(TTextView& text) {
  text = Trim(text.substr(kLoop.size()));
  if (text.find(u' ') == TTextView::npos) return Fail(ParameterErrorMessage());
  if (!TakeOperand(text, RepeatCount)) return false;
  Endless = RepeatCount == 0;
  TTextView body;
  if (!TakeBlockBody(u"LOOP", text, body)) return false;
  while (Endless || RepeatCount != 0) {
    if (!CountSteps(1) || !RunStatements(body)) return false;
    if (BreakCondition()) {
      Message = CommandBreakMessage();
      break;
    }
    --RepeatCount;
  }
  return true;
}

// Sleeps through the installed clock: the system's, or a simulated board's
// virtual clock on which a delay costs no real time.
bool TInterpreter::RunDelay(u32) {
  if (!FetchParams(1)) return false;
  TClock::Current().Sleep(Params[0]);
  SetMessage(u"Delay ", UnsignedDecimal(Params[0]), u" ms");
  return true;
}

}  // namespace lirrin
