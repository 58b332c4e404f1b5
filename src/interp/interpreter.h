#pragma once
// TInterpreter runs scripts of the command language in which every hardware
// sequence of the program is written: find a controller, enable it, read its
// base port, start a transfer, poll for completion.
//
// A script is a ';'-separated list of statements, with CMDS{..}, WAIT{..}
// and LOOP{..} blocks between them. A statement is one command word with
// flat arguments (parentheses and commas are only separators), optionally
// prefixed by an assignment "LocalX=" or a break condition "BKIF0"/"BKIF1".
// Each statement reports in LastMessage; some add lines to Output.
//
// The sixteen locals keep their values from one RunScript to the next on the
// same object: the SMBus engine leaves a controller's base port in Local0
// with one script and uses it in the next.

#include <array>
#include <vector>

#include "hw/io_object.h"
#include "interp/log_file.h"
#include "interp/output_format.h"
#include "interp/script_text.h"

namespace lirrin {

class TInterpreter : public TIoObject {
 public:
  static constexpr unsigned kLocalCount = 16;

  TInterpreter();
  ~TInterpreter() override;

  // Runs the script; every value-producing statement writes its value into
  // `result`, which the run never initialises. False when a statement failed
  // (the reason is in LastMessage); a break or an exhausted WAIT is not a
  // failure.
  bool RunScript(TTextView script, u32& result);
  // The same with ScriptResult as the result variable.
  bool RunScript(TTextView script);

  const TText& LastMessage() const { return Message; }
  const TLines& Output() const { return Lines; }
  u32 Local(unsigned index) const { return Slots[index]; }
  // Receives the value of a command that has no "LocalX=" target.
  u32 LastResult() const { return Slots[kLastResultSlot]; }
  u32 ScriptResult() const { return ScriptResultValue; }

  // Step limit: at most `limit` steps per RunScript (every statement and
  // every pass of a WAIT or LOOP block is a step), so that an endless block
  // cannot hang a tool that runs untrusted scripts. 0, the default, means no
  // limit; the program's own scripts run without one.
  void SetStepLimit(u64 limit) { StepLimit = limit; }

 private:
  static constexpr unsigned kLastResultSlot = 16;
  static constexpr unsigned kMaxParams = 5;

  using THandler = bool (TInterpreter::*)(u32 variant);
  struct TCommand {
    THandler Run;
    u32 Variant;  // the width, operation or address form the handler serves
  };
  static const TCommand* FindCommand(TTextView word);

  // Script core (interpreter.cpp).
  bool RunStatements(TTextView text);
  bool RunStatement(TTextView statement);
  bool RunCommand(TTextView statement);
  bool BreakCondition() const;
  // Charges `count` steps against the step limit; false (with the message) past
  // it. Statements and block passes cost one step; commands whose work grows
  // with their arguments cost by that work (a dump per row and saved line, a
  // device search per bus, a memory search per 256 bytes), so that the limit
  // bounds the time a run takes, not just its statements.
  bool CountSteps(u64 count);
  bool Fail(TText message);
  // Sets LastMessage from its parts in its own storage: every statement
  // prints, and a fresh text per statement was a large share of its cost.
  template <typename... TParts>
  void SetMessage(const TParts&... parts) {
    Message.clear();
    (Message += ... += parts);
  }
  void StoreValue(u32 value);
  bool FetchParams(unsigned count);
  void FetchOptionalParam(unsigned index, u32 fallback);
  bool FetchTextParams(unsigned count);
  bool HasFlagWord(TTextView word) const;
  bool ParseOperand(TTextView text, u32& slot);
  bool ParseLocalIndex(TTextView text, unsigned& index);
  bool CheckRange(u32 value, u32 max);

  // Blocks and DELAY (blocks.cpp).
  bool RunBlocks(TTextView text);
  bool RunCmdsBlock(TTextView& text);
  bool RunWaitBlock(TTextView& text);
  bool RunLoopBlock(TTextView& text);
  bool TakeOperand(TTextView& text, u32& slot);
  bool TakeBlockBody(TTextView keyword, TTextView& text, TTextView& body);
  bool RunDelay(u32);

  // Arithmetic and logic (arithmetic.cpp).
  bool RunArithmetic(u32 operation);

  // Hardware (hardware_commands.cpp).
  bool RunPortIn(u32 width);
  bool RunPortOut(u32 width);
  bool RunIndexDataIn(u32 width);
  bool RunIndexDataOut(u32 width);
  bool RunPciRead(u32 form);
  bool RunPciWrite(u32 form);
  bool RunPackedPciRead(u32 form);
  bool RunPackedPciWrite(u32 form);
  bool RunFindPci(u32 byClass);
  bool RunMemRead(u32 width);
  bool RunMemWrite(u32 width);
  bool RunFmem(u32);
  bool RunCpu(u32);
  bool RunRdmsr(u32);
  bool RunWrmsr(u32);
  bool RunRdpmc(u32);
  bool RunRdcr(u32);
  bool RunWrcr(u32);
  bool RunCpuid(u32);
  bool RunRdtsc();
  void SplitValue64();
  void CopyRegsToLocals();

  // Dump and log file (output_commands.cpp).
  bool RunDmem(u32);
  bool RunLogFile(u32);
  bool CancelLogFile();

  TText Message;
  TLines Lines;
  TLogFile LogFile;
  std::array<u32, kLocalCount + 1> Slots{};  // Local0..LocalF, then LastResult
  unsigned Target = kLastResultSlot;
  std::array<u32, kMaxParams> Params{};
  std::array<TText, kMaxParams> TextParams;
  u32 ScriptResultValue = 0;
  u64 Value64 = 0;
  CpuRegisters Regs;
  u32 WaitValue = 0;
  u32 RepeatCount = 0;
  bool Endless = false;
  bool BreakIfZero = false;
  bool BreakIfNonZero = false;
  TArgumentList Tokens;
  std::size_t NextToken = 0;  // first token not yet taken by a Fetch
  u32* ResultVariable = nullptr;  // the running RunScript's result variable
  u64 StepLimit = 0;
  u64 Steps = 0;
};

}  // namespace lirrin
