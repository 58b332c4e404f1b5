#pragma once
// The SMBus engine: finds which host-controller family of the built-in table
// the machine has, and runs word-data transactions on it by running that
// family's scripts in a fixed order, under the system-wide lock. Every
// transaction is self-contained: it recognises, enables and finds the
// controller again on a fresh interpreter and restores its registers before
// it lets the lock go.

#include <memory>
#include <string>

#include "hw/io_object.h"
#include "smbus/smbus_config.h"
#include "smbus/system_lock.h"

namespace lirrin {

class TInterpreter;

// Why the last transaction returned false.
enum class TSMBusFailure {
  None,
  NoController,   // no family of the table was detected
  LockNotHad,     // the system-wide lock was not had within kLockTimeoutMs
  NoAcknowledge,  // the controller reported a device error and is idle again
  NeverFinished,  // the controller stayed busy: not ready to start, or still busy after the wait
  Forbidden,      // the bus rule (smbus_rule.h) forbids the transaction; nothing reached the bus
};

// A one-line description of `failure` for messages.
const char* FailureText(TSMBusFailure failure);

class TSMBus : public TIoObject {
 public:
  // The name of the lock shared by every process that drives the SMBus.
  static constexpr const char* kDefaultLockName = "Global\\NORVIK_SMBUS_CONTROLLER";
  // How long a transaction waits for the lock.
  static constexpr u32 kLockTimeoutMs = 3000;

  static TSMBus* Instance();
  static void FreeInstance();

  // Detects the controller once, on the current I/O layer.
  explicit TSMBus(const std::string& lockName = kDefaultLockName);
  ~TSMBus() override;

  // Word-data transactions. `address` is the 8-bit slave address; the engine
  // sets the read/write bit. Words are two buffer bytes each, low byte first.
  // Reads step the command per word; writes send every word to `command`.
  // Writes go to the amplifier only, and nothing goes to the addresses the
  // bus rule keeps free of our transactions (smbus_rule.h).
  bool ReadWords(u8 address, u8* buffer, u8 command, i32 count);
  bool ReadWordsAt(u8 address, u8* buffer, u8 command, i32 count, const TText& baseText);
  bool WriteWords(u8 address, u8 command, const u8* buffer, i32 count);

  // Why the last ReadWords, ReadWordsAt or WriteWords returned false; None
  // after one that returned true.
  TSMBusFailure LastFailure() const { return Failure; }
  // With LockNotHad: the lock's own one-line reason, naming its file where
  // the platform has one; may be empty.
  const std::string& LockProblem() const { return Lock.Problem(); }
  // From any thread: transactions from now on, and one waiting now, take
  // the lock only when it is free at once (TSystemLock::StopWaiting); the
  // others fail with LockNotHad.
  void StopWaitingForTheLock() { Lock.StopWaiting(); }

  // The detected family; a reset record when none matched.
  const TSMBusCfg& Controller() const { return Detected; }
  bool HasController() const { return Matched != nullptr; }

 private:
  class TTransaction;

  void DetectController();
  template <typename TWordStep>
  bool Transact(const TText& baseText, i32 count, TWordStep step);

  TSMBusConfig* Table;
  const TSMBusCfg* Matched = nullptr;
  TSystemLock Lock;
  TSMBusCfg Detected;
  TSMBusFailure Failure = TSMBusFailure::None;
};

}  // namespace lirrin
