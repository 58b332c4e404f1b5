#include "smbus/amp_worker.h"

#include <utility>

#include "smbus/amp_word.h"
#include "smbus/smbus.h"

namespace lirrin {

namespace {

// Between a transaction that found the SMBus lock held elsewhere and the
// next try. A held lock has made the transaction wait already (3 s); this
// only keeps a lock that fails at once from spinning the worker.
constexpr auto kRetryPause = std::chrono::milliseconds(50);

}  // namespace

// The engine is published before the flag is read, and StopWaitingForTheLock
// sets the flag before it reads the engine: one of the two sides always
// sees the other, so no wait begun after the stop can last.
TSMBus& TSMBusAmpPort::Made() {
  TSMBus& engine = Engine();
  MadeEngine = &engine;
  if (WaitingStopped) engine.StopWaitingForTheLock();
  return engine;
}

bool TSMBusAmpPort::Read(u16& word) { return amp::ReadWord(Made(), word); }

bool TSMBusAmpPort::Write(u16 word) { return amp::WriteWord(Made(), word); }

bool TSMBusAmpPort::HeldElsewhere() { return Made().LastFailure() == TSMBusFailure::LockNotHad; }

void TSMBusAmpPort::StopWaitingForTheLock() {
  WaitingStopped = true;
  if (TSMBus* engine = MadeEngine) engine->StopWaitingForTheLock();
}

TAmpWorker::TAmpWorker(TAmpPort& port, u16 remembered, std::chrono::milliseconds probeInterval,
                       std::function<void()> resultsReady, std::chrono::milliseconds heldTooLong)
    : Port(port),
      ProbeInterval(probeInterval),
      ResultsReady(std::move(resultsReady)),
      HeldTooLong(heldTooLong),
      Remembered(remembered),
      Thread([this] { Run(); }) {}

TAmpWorker::~TAmpWorker() { Stop(); }

void TAmpWorker::Stop() {
  if (!Thread.joinable()) return;
  {
    std::lock_guard lock(Mutex);
    Stopping = true;
  }
  Wake.notify_one();
  Thread.join();
}

u32 TAmpWorker::Write(u16 word) { return Post(TAmpResult::TKind::Written, word); }

u32 TAmpWorker::ToggleMute() { return Post(TAmpResult::TKind::MuteToggled, 0); }

u32 TAmpWorker::Read() { return Post(TAmpResult::TKind::Read, 0); }

u32 TAmpWorker::Post(TAmpResult::TKind kind, u16 word) {
  std::lock_guard lock(Mutex);
  const u32 serial = ++LastSerial;
  const bool toggle = kind == TAmpResult::TKind::MuteToggled;
  if (kind == TAmpResult::TKind::Written && !Requests.empty() && Requests.back().Kind == kind) {
    Requests.back() = {kind, word, serial};  // the newest wanted word wins
  } else if (toggle && !Requests.empty() && Requests.back().Kind == kind) {
    Requests.pop_back();  // two waiting toggles cancel
    return !Requests.empty() ? Requests.back().Serial : InFlight ? InFlight->Serial : LastServed;
  } else {
    const bool afterToggleOnTheBus = toggle && Requests.empty() && InFlight && InFlight->Kind == kind;
    Requests.push_back({kind, word, serial, afterToggleOnTheBus});
    Wake.notify_one();
  }
  return serial;
}

std::vector<TAmpResult> TAmpWorker::TakeResults() {
  std::lock_guard lock(Mutex);
  return std::exchange(Results, {});
}

void TAmpWorker::Run() {
  auto nextProbe = TSteady::now() + ProbeInterval;
  std::unique_lock lock(Mutex);
  for (;;) {
    Wake.wait_until(lock, nextProbe, [this] { return Stopping || !Requests.empty(); });
    if (!Requests.empty()) {
      const TRequest request = Requests.front();
      Requests.pop_front();
      InFlight = request;
      lock.unlock();
      const TSteady::time_point start = TSteady::now();
      const std::optional<TAmpResult> result = ServeOrFail(request);
      lock.lock();
      InFlight.reset();
      if (!result && !Stopping) {
        LockKept(start, request.Serial, lock);
        if (!Requests.empty() && Requests.front().CancelsInFlight) {
          // The toggle after this one cancels it: neither reaches the bus,
          // and results from now on account for both.
          LastServed = Requests.front().Serial;
          Requests.pop_front();
        } else {
          Retry(request);
        }
        // A lock that cannot even be made fails at once: no busy loop.
        Wake.wait_for(lock, kRetryPause, [this] { return Stopping; });
        continue;
      }
      LastServed = request.Serial;
      if (result) LockHad();
      Deliver(result.value_or(TAmpResult{request.Kind, false, request.Word, request.Serial}), lock);
    } else if (Stopping) {
      return;
    } else if (TSteady::now() >= nextProbe) {
      const u32 served = LastServed;
      lock.unlock();
      const TSteady::time_point start = TSteady::now();
      const std::optional<TAmpResult> result = ProbeOrFail(served);
      nextProbe = TSteady::now() + ProbeInterval;
      lock.lock();
      if (result) {
        LockHad();
        Deliver(*result, lock);
      } else {
        LockKept(start, served, lock);
      }
    }
  }
}

// With the lock held: back to the front of the queue, unless a newer
// volume word waits there already.
void TAmpWorker::Retry(const TRequest& request) {
  if (request.Kind == TAmpResult::TKind::Written && !Requests.empty() && Requests.front().Kind == request.Kind) return;
  Requests.push_front(request);
}

// An exception from the bus (a script the interpreter cannot run, memory
// that runs out) fails the request it came from and nothing else: the
// worker lives on, and so does the program, which would otherwise end
// without saving.
std::optional<TAmpResult> TAmpWorker::ServeOrFail(const TRequest& request) {
  try {
    return Serve(request);
  } catch (...) {
    return TAmpResult{request.Kind, false, request.Word, request.Serial};
  }
}

std::optional<TAmpResult> TAmpWorker::ProbeOrFail(u32 serial) {
  try {
    return Probe(serial);
  } catch (...) {
    return TAmpResult{TAmpResult::TKind::Probed, false, Remembered, serial};
  }
}

// The lock held elsewhere is told once, when it has kept the bus from every
// attempt for HeldTooLong; a result that reached the bus ends it.
void TAmpWorker::LockKept(TSteady::time_point start, u32 serial, std::unique_lock<std::mutex>& lock) {
  if (!HeldSince) HeldSince = start;
  if (HeldReported || TSteady::now() - *HeldSince < HeldTooLong) return;
  HeldReported = true;
  Deliver(TAmpResult{TAmpResult::TKind::Probed, false, Remembered, serial, true}, lock);
}

void TAmpWorker::LockHad() {
  HeldSince.reset();
  HeldReported = false;
}

std::optional<TAmpResult> TAmpWorker::Serve(const TRequest& request) {
  TAmpResult result{request.Kind, false, request.Word, request.Serial};
  switch (request.Kind) {
    case TAmpResult::TKind::Written:
      result.Answered = Port.Write(request.Word);
      break;
    case TAmpResult::TKind::MuteToggled: {
      u16 word = 0;  // a silent amplifier toggles the word 0
      if (!Port.Read(word) && Port.HeldElsewhere()) return std::nullopt;
      result.Word = amp::MuteToggled(word);
      result.Answered = Port.Write(result.Word);
      break;
    }
    case TAmpResult::TKind::Read:
      result.Answered = Port.Read(result.Word);
      break;
    case TAmpResult::TKind::Probed:
      break;  // never posted
  }
  if (!result.Answered && Port.HeldElsewhere()) return std::nullopt;
  if (result.Answered && request.Kind != TAmpResult::TKind::Read) Remembered = result.Word;
  return result;
}

std::optional<TAmpResult> TAmpWorker::Probe(u32 serial) {
  u16 scratch = 0;
  const bool answered = Port.Read(scratch);
  if (!answered && Port.HeldElsewhere()) return std::nullopt;
  if (answered) Port.Write(Remembered);
  return TAmpResult{TAmpResult::TKind::Probed, answered, Remembered, serial};
}

void TAmpWorker::Deliver(const TAmpResult& result, std::unique_lock<std::mutex>& lock) {
  Results.push_back(result);
  lock.unlock();
  ResultsReady();
  lock.lock();
}

}  // namespace lirrin
