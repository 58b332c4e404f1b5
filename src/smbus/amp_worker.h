#pragma once
// TAmpWorker: the one thread that talks to the amplifier.
//
// An SMBus transaction can take long: every controller script's wait for a
// word starts with a 40 ms delay, and while another program holds the
// system-wide SMBus lock a transaction waits up to 3 s for it. The panel
// must keep answering meanwhile, so it never runs a transaction itself: it
// posts what it wants here and learns the outcome later, in order, through
// TakeResults after the `resultsReady` call (which comes on the worker's
// thread; the panel turns it into a window message).
//
// Requests run in the order they were posted, with one exception: a volume
// word posted while an earlier volume word still waits its turn replaces
// it, so that a held key or a fast drag leaves no backlog and the newest
// wanted word is the one that lands. A mute toggle is never merged: it
// works on the word the amplifier holds after everything posted before it.
// Two toggles with nothing between them cancel, though, while the first
// has not reached the bus: the second takes the first out of the queue, or,
// when the first is being tried against a lock held elsewhere, takes it
// out once that try has failed, so that clicks made while the bus is held
// do not all flap the amplifier later.
//
// Another program may hold the system-wide SMBus lock for longer than a
// transaction waits for it (monitoring tools do). A request that failed
// only for that is tried again, unless a newer volume word has replaced
// it, so the word lands once the lock is free; a probe that failed for it
// tells nothing and reports nothing. Once the lock has kept every attempt
// from the bus for a while (kHeldTooLong), one probe result says so: the
// amplifier is out of reach as a silent one is, for that reason; the next
// result that reached the bus ends that state.
//
// Once per probe interval, when no request is waiting, the worker probes
// the amplifier with a read and, when it answers, writes the remembered
// word again: the amplifier loses its register when the board's power
// dips, and another program may have changed it. The remembered word is
// the one it was given at the start, replaced by every word written
// successfully since.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "support/types.h"

namespace lirrin {

class TSMBus;

// The amplifier's register as the worker reaches it.
class TAmpPort {
 public:
  virtual ~TAmpPort() = default;
  // A failed read leaves `word` untouched.
  virtual bool Read(u16& word) = 0;
  virtual bool Write(u16 word) = 0;
  // The last Read or Write failed only because another program held the
  // SMBus lock all the while it waited.
  virtual bool HeldElsewhere() = 0;
  // From another thread: from now on, a wait for the lock under way
  // included, a Read or Write takes the lock only when it is free at once.
  virtual void StopWaitingForTheLock() = 0;
};

// Through an SMBus engine that `engine` gives on the worker's thread, so
// that an engine made on demand is made there, by its only user.
class TSMBusAmpPort final : public TAmpPort {
 public:
  explicit TSMBusAmpPort(std::function<TSMBus&()> engine) : Engine(std::move(engine)) {}
  bool Read(u16& word) override;
  bool Write(u16 word) override;
  bool HeldElsewhere() override;
  void StopWaitingForTheLock() override;

 private:
  // The engine, made on first use; once waiting has stopped, told so.
  TSMBus& Made();

  std::function<TSMBus&()> Engine;
  std::atomic<TSMBus*> MadeEngine{nullptr};
  std::atomic<bool> WaitingStopped{false};
};

struct TAmpResult {
  enum class TKind {
    Written,      // a volume word: Word is the word; Answered when it was written
    MuteToggled,  // Word is the toggled word (from 0 when the read failed); Answered when it was written
    Read,         // Word is the word read, 0 when the read failed
    Probed,       // Word is the remembered word; Answered when the probe read succeeded
  };
  TKind Kind;
  bool Answered;
  u16 Word;
  // The newest request this result accounts for (Post's serial numbers
  // start at 1; a probe before any request carries 0). A probe result
  // whose serial is older than the newest request posted tells of a state
  // that is about to change.
  u32 Serial;
  // A probe result not answered because another program has held the
  // SMBus lock all along, for longer than kHeldTooLong.
  bool HeldElsewhere = false;

  bool operator==(const TAmpResult&) const = default;
};

class TAmpWorker {
 public:
  static constexpr std::chrono::milliseconds kHeldTooLong{5000};

  TAmpWorker(TAmpPort& port, u16 remembered, std::chrono::milliseconds probeInterval,
             std::function<void()> resultsReady, std::chrono::milliseconds heldTooLong = kHeldTooLong);
  // Stop, unless it ran.
  ~TAmpWorker();
  TAmpWorker(const TAmpWorker&) = delete;
  TAmpWorker& operator=(const TAmpWorker&) = delete;

  // Each returns the request's serial number at once; none waits for the
  // bus. A toggle that cancels a waiting one returns the serial of the
  // newest request still to come, or of the last one served (what the
  // next results carry).
  u32 Write(u16 word);
  u32 ToggleMute();
  u32 Read();

  // The results since the last call, oldest first.
  std::vector<TAmpResult> TakeResults();

  // Finishes the requests already posted (without further probes) and ends
  // the thread; their results stay for TakeResults. Nothing may be posted
  // after it. A program that is ending stops waiting for the lock first
  // (TAmpPort::StopWaitingForTheLock): then a request the lock keeps from
  // the bus fails at once and is reported unanswered, not tried again.
  void Stop();

 private:
  struct TRequest {
    TAmpResult::TKind Kind;
    u16 Word;
    u32 Serial;
    // A toggle posted while the toggle before it was on the bus: it cancels
    // that one if its try fails for the lock.
    bool CancelsInFlight = false;
  };

  u32 Post(TAmpResult::TKind kind, u16 word);
  void Run();
  // Nothing when the request must be tried again.
  std::optional<TAmpResult> Serve(const TRequest& request);
  std::optional<TAmpResult> Probe(u32 serial);
  // The same behind the worker's exception barrier: an exception fails the
  // request or the probe.
  std::optional<TAmpResult> ServeOrFail(const TRequest& request);
  std::optional<TAmpResult> ProbeOrFail(u32 serial);
  // After an attempt that began at `start`: the lock kept it from the bus,
  // or it was had.
  using TSteady = std::chrono::steady_clock;
  void LockKept(TSteady::time_point start, u32 serial, std::unique_lock<std::mutex>& lock);
  void LockHad();
  void Retry(const TRequest& request);
  void Deliver(const TAmpResult& result, std::unique_lock<std::mutex>& lock);

  TAmpPort& Port;
  const std::chrono::milliseconds ProbeInterval;
  const std::function<void()> ResultsReady;
  const std::chrono::milliseconds HeldTooLong;
  // The worker's thread only:
  u16 Remembered;
  std::optional<TSteady::time_point> HeldSince;  // the first of the attempts in a row the lock kept from the bus
  bool HeldReported = false;

  std::mutex Mutex;
  std::condition_variable Wake;
  std::deque<TRequest> Requests;
  std::optional<TRequest> InFlight;  // the request the worker is serving now
  u32 LastServed = 0;  // the serial of the last request served (or cancelled); probes carry it
  std::vector<TAmpResult> Results;
  u32 LastSerial = 0;
  bool Stopping = false;
  std::thread Thread;  // last: it starts once everything above exists
};

}  // namespace lirrin
