#include "smbus/amp_worker.h"

#include <utility>

#include "smbus/amp_word.h"

namespace lirrin {

bool TSMBusAmpPort::Read(u16& word) { return amp::ReadWord(Engine(), word); }

bool TSMBusAmpPort::Write(u16 word) { return amp::WriteWord(Engine(), word); }

TAmpWorker::TAmpWorker(TAmpPort& port, u16 remembered, std::chrono::milliseconds probeInterval,
                       std::function<void()> resultsReady)
    : Port(port),
      ProbeInterval(probeInterval),
      ResultsReady(std::move(resultsReady)),
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
  if (kind == TAmpResult::TKind::Written && !Requests.empty() && Requests.back().Kind == kind) {
    Requests.back() = {kind, word, serial};  // the newest wanted word wins
  } else {
    Requests.push_back({kind, word, serial});
    Wake.notify_one();
  }
  return serial;
}

std::vector<TAmpResult> TAmpWorker::TakeResults() {
  std::lock_guard lock(Mutex);
  return std::exchange(Results, {});
}

void TAmpWorker::Run() {
  using TSteady = std::chrono::steady_clock;
  auto nextProbe = TSteady::now() + ProbeInterval;
  u32 served = 0;
  std::unique_lock lock(Mutex);
  for (;;) {
    Wake.wait_until(lock, nextProbe, [this] { return Stopping || !Requests.empty(); });
    if (!Requests.empty()) {
      const TRequest request = Requests.front();
      Requests.pop_front();
      lock.unlock();
      const TAmpResult result = Serve(request);
      served = request.Serial;
      lock.lock();
      Deliver(result, lock);
    } else if (Stopping) {
      return;
    } else if (TSteady::now() >= nextProbe) {
      lock.unlock();
      const TAmpResult result = Probe(served);
      nextProbe = TSteady::now() + ProbeInterval;
      lock.lock();
      Deliver(result, lock);
    }
  }
}

TAmpResult TAmpWorker::Serve(const TRequest& request) {
  TAmpResult result{request.Kind, false, request.Word, request.Serial};
  switch (request.Kind) {
    case TAmpResult::TKind::Written:
      result.Answered = Port.Write(request.Word);
      break;
    case TAmpResult::TKind::MuteToggled: {
      u16 word = 0;  // a failed read toggles the word 0
      Port.Read(word);
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
  if (result.Answered && request.Kind != TAmpResult::TKind::Read) Remembered = result.Word;
  return result;
}

TAmpResult TAmpWorker::Probe(u32 serial) {
  u16 scratch = 0;
  const bool answered = Port.Read(scratch);
  if (answered) Port.Write(Remembered);
  return {TAmpResult::TKind::Probed, answered, Remembered, serial};
}

void TAmpWorker::Deliver(const TAmpResult& result, std::unique_lock<std::mutex>& lock) {
  Results.push_back(result);
  lock.unlock();
  ResultsReady();
  lock.lock();
}

}  // namespace lirrin
