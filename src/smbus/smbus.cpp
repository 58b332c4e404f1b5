#include "smbus/smbus.h"

#include "interp/interpreter.h"
#include "smbus_rule.h"
#include "support/interrupts.h"
#include "support/singletons.h"

namespace lirrin {

namespace {

TSMBus* instance = nullptr;

}  // namespace

const char* FailureText(TSMBusFailure failure) {
  switch (failure) {
    case TSMBusFailure::None: return "no failure";
    case TSMBusFailure::NoController: return "no SMBus controller";
    case TSMBusFailure::LockNotHad: return "the SMBus lock was not had";
    case TSMBusFailure::NoAcknowledge: return "no acknowledge";
    case TSMBusFailure::NeverFinished: return "the controller never finished";
    case TSMBusFailure::Forbidden: return "refused: " NVK_SMBUS_RULE_TEXT;
  }
  return "";
}

// One transaction's run of the controller's texts on a fresh interpreter,
// with the one result variable the whole transaction shares.
class TSMBus::TTransaction {
 public:
  explicit TTransaction(const TSMBusCfg& controller) : Controller(controller) {}

  void Run(const TText& text) { Interpreter.RunScript(text); }
  void Run(const TText& prefix, i32 operand) { Interpreter.RunScript(CompletePrefix(prefix, operand)); }
  u32 RunWithResult(const TText& text) {
    Interpreter.RunScript(text, Result);
    return Result;
  }

  bool Ready() { return static_cast<u8>(RunWithResult(Controller.Ready)) == Controller.ReadyValue; }

  // Waits for the started word; on a device error the controller is brought
  // back to ready (its status cleared) and the word has failed: a controller
  // that is idle again had no acknowledge, one still busy never finished.
  // (Texts whose Ready cannot see busy report a controller that never
  // finished as no acknowledge.)
  TSMBusFailure WordOutcome() {
    if ((RunWithResult(Controller.WaitWord) & Controller.ErrorMask) == 0) return TSMBusFailure::None;
    return Ready() ? TSMBusFailure::NoAcknowledge : TSMBusFailure::NeverFinished;
  }

  // Recognise, enable and find the controller; false (after Restore) when it
  // is not ready to start.
  bool Begin(const TText& baseText) {
    Run(Controller.Detect);
    Run(Controller.Init);
    Run(baseText);
    if (Ready()) return true;
    Run(Controller.Restore);
    return false;
  }

  void End() {
    Ready();
    Run(Controller.Restore);
  }

 private:
  const TSMBusCfg& Controller;
  TInterpreter Interpreter;
  u32 Result = 0;
};

TSMBus* TSMBus::Instance() {
  if (instance == nullptr) {
    instance = new TSMBus();
    EnlistSingleton(&TSMBus::FreeInstance);
  }
  return instance;
}

void TSMBus::FreeInstance() {
  delete instance;
  instance = nullptr;
}

TSMBus::TSMBus(const std::string& lockName) : Table(TSMBusConfig::Instance()), Lock(lockName) {
  DetectController();
}

TSMBus::~TSMBus() { TSMBusConfig::FreeInstance(); }

// Runs each family's Detect text in key order on one interpreter with one
// result variable for the whole walk; the first exact 0 wins. Detection only
// reads configuration space, so it runs without the lock.
void TSMBus::DetectController() {
  TInterpreter interpreter;
  u32 result = 0;
  for (const auto& [name, family] : Table->Families()) {
    interpreter.RunScript(family.Detect, result);
    if (result != 0) continue;
    Matched = &family;
    Detected = family;
    Console->LogW(u"Detect SMBus Name", name, kColorYellow);
    return;
  }
}

bool TSMBus::ReadWords(u8 address, u8* buffer, u8 command, i32 count) {
  Failure = TSMBusFailure::NoController;
  for (const TText* base : {&Detected.Base1, &Detected.Base2, &Detected.Base3, &Detected.Base4}) {
    if (base->empty()) continue;
    if (ReadWordsAt(address, buffer, command, count, *base)) return true;
  }
  return false;
}

// Every transaction has one shape, as a host driver's does: take the lock,
// begin (recognise, enable and find the controller), run one step per word
// after waiting for the controller to be ready, end (restore it), let the
// lock go. Reads and writes differ only in their step. The bool result
// keeps the engine's contract; the reason for a false is kept beside it.
// The user's interrupts wait from before the lock is taken until it is
// given back, so that Restore always follows Begin.
template <typename TWordStep>
bool TSMBus::Transact(const TText& baseText, i32 count, TWordStep step) {
  const TInterruptsHeldOff interruptsWait;
  const TSystemLock::THeld held(Lock, kLockTimeoutMs);
  if (!held) {
    Failure = TSMBusFailure::LockNotHad;
    return false;
  }
  TTransaction transaction(Detected);
  if (!transaction.Begin(baseText)) {
    Failure = TSMBusFailure::NeverFinished;
    return false;
  }
  Failure = TSMBusFailure::None;
  for (i32 i = 0; i < count && Failure == TSMBusFailure::None; ++i) {
    Failure = transaction.Ready() ? step(transaction, i) : TSMBusFailure::NeverFinished;
  }
  transaction.End();
  return Failure == TSMBusFailure::None;
}

bool TSMBus::ReadWordsAt(u8 address, u8* buffer, u8 command, i32 count, const TText& baseText) {
  if (!SMBusTransactionAllowed(address >> 1, false)) {
    Failure = TSMBusFailure::Forbidden;
    return false;
  }
  return Transact(baseText, count, [&](TTransaction& transaction, i32 i) {
    transaction.Run(Detected.SetAddress, address | 1);
    transaction.Run(Detected.SetCommand, command + i);  // 255 + 1 is sent as 256
    transaction.Run(Detected.StartWordRead);
    const TSMBusFailure outcome = transaction.WordOutcome();
    if (outcome != TSMBusFailure::None) return outcome;
    buffer[2 * i] = static_cast<u8>(transaction.RunWithResult(Detected.GetWordLow));
    buffer[2 * i + 1] = static_cast<u8>(transaction.RunWithResult(Detected.GetWordHigh));
    return TSMBusFailure::None;
  });
}

// Without a detected family every text is empty and the ready test would
// compare a value nothing set, so the write fails without running anything.
bool TSMBus::WriteWords(u8 address, u8 command, const u8* buffer, i32 count) {
  if (!SMBusTransactionAllowed(address >> 1, true)) {
    Failure = TSMBusFailure::Forbidden;
    return false;
  }
  if (!HasController()) {
    Failure = TSMBusFailure::NoController;
    return false;
  }
  return Transact(Detected.Base1, count, [&](TTransaction& transaction, i32 i) {
    transaction.Run(Detected.SetAddress, address & 0xFE);
    transaction.Run(Detected.SetCommand, command);
    transaction.Run(Detected.SetWordLow, buffer[2 * i]);
    transaction.Run(Detected.SetWordHigh, buffer[2 * i + 1]);
    transaction.Run(Detected.StartWordWrite);
    return transaction.WordOutcome();
  });
}

}  // namespace lirrin
