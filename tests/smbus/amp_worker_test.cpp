// The amplifier's worker thread: requests run in order on the worker, a
// volume word waiting its turn gives way to a newer one, results come back
// in order, and the probe puts the remembered word back. The bus is the
// simulated board's amplifier, seen through a port that records every
// transaction and can hold the worker inside one, as a slow bus or a held
// SMBus lock would.
#include "smbus/amp_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "sim/smbus/bus.h"
#include "smbus/amp_word.h"
#include "smbus/system_lock.h"
#include "smbus_fixture.h"

namespace lirrin {
namespace {

using namespace std::chrono_literals;
using testing::BoardName;
using TKind = TAmpResult::TKind;

// Forwards to the engine and records "R" and "W xxxx" per transaction; while
// held, a transaction waits at its start.
class TRecordingPort final : public TAmpPort {
 public:
  explicit TRecordingPort(TAmpPort& bus) : Bus(bus) {}

  bool Read(u16& word) override {
    Enter("R");
    return Bus.Read(word);
  }
  bool Write(u16 word) override {
    char text[8];
    std::snprintf(text, sizeof text, "W %04X", word);
    Enter(text);
    return Bus.Write(word);
  }
  bool HeldElsewhere() override { return Bus.HeldElsewhere(); }
  void StopWaitingForTheLock() override { Bus.StopWaitingForTheLock(); }

  void Hold() {
    std::lock_guard lock(Mutex);
    Held = true;
  }
  void Release() {
    {
      std::lock_guard lock(Mutex);
      Held = false;
    }
    Changed.notify_all();
  }
  // Waits until `count` transactions have started.
  bool WaitForStarted(std::size_t count) {
    std::unique_lock lock(Mutex);
    return Changed.wait_for(lock, 10s, [&] { return Log.size() >= count; });
  }
  std::vector<std::string> Transactions() {
    std::lock_guard lock(Mutex);
    return Log;
  }

 private:
  void Enter(const std::string& what) {
    std::unique_lock lock(Mutex);
    Log.push_back(what);
    Changed.notify_all();
    Changed.wait(lock, [&] { return !Held; });
  }

  TAmpPort& Bus;
  std::mutex Mutex;
  std::condition_variable Changed;
  bool Held = false;
  std::vector<std::string> Log;
};

class AmpWorkerTest : public testing::SMBusTest {
 protected:
  void SetUp() override {
    Path = ::testing::TempDir() + "amp_worker_" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::remove(Path.c_str());
    UseBoard(BoardName(2), Path);
  }
  void TearDown() override {
    Worker.reset();
    SMBusTest::TearDown();
    std::remove(Path.c_str());
  }

  void Start(u16 remembered, std::chrono::milliseconds probeInterval = 1h,
             std::chrono::milliseconds heldTooLong = 1h) {
    Worker = std::make_unique<TAmpWorker>(
        Port, remembered, probeInterval,
        [this] {
          std::lock_guard lock(ResultsMutex);
          ++Notices;
          ResultsChanged.notify_all();
        },
        heldTooLong);
  }
  // Collects results until `count` have come, or a bound passes.
  std::vector<TAmpResult> WaitForResults(std::size_t count) {
    for (auto deadline = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < deadline;) {
      std::unique_lock lock(ResultsMutex);
      ResultsChanged.wait_for(lock, 50ms);
      lock.unlock();
      for (const TAmpResult& result : Worker->TakeResults()) Collected.push_back(result);
      if (Collected.size() >= count) break;
    }
    return Collected;
  }
  u16 AmplifierWord() const {
    std::ifstream file(Path);
    std::stringstream text;
    text << file.rdbuf();
    return sim::ParseSlaveState(text.str()).value_or(sim::TSlaveState{}).AmplifierWord;
  }

  std::string Path;
  TSMBusAmpPort EnginePort{[this]() -> TSMBus& { return *Engine; }};
  TRecordingPort Port{EnginePort};
  std::mutex ResultsMutex;
  std::condition_variable ResultsChanged;
  int Notices = 0;
  std::vector<TAmpResult> Collected;
  std::unique_ptr<TAmpWorker> Worker;
};

// What one user action sends, in the order posted: the start's write and
// read, then a volume and the mute button (a read, then the toggled word).
TEST_F(AmpWorkerTest, RequestsReachTheBusInOrder) {
  Start(0x8A8A);
  const u32 first = Worker->Write(0x8A8A);
  Worker->Read();
  Worker->Write(0x0505);
  Worker->ToggleMute();
  Worker->Read();
  const u32 last = Worker->ToggleMute();
  const std::vector<TAmpResult> results = WaitForResults(6);
  EXPECT_EQ(Port.Transactions(),
            (std::vector<std::string>{"W 8A8A", "R", "W 0505", "R", "W 8585", "R", "R", "W 0505"}));
  EXPECT_EQ(results, (std::vector<TAmpResult>{{TKind::Written, true, 0x8A8A, first},
                                              {TKind::Read, true, 0x8A8A, first + 1},
                                              {TKind::Written, true, 0x0505, first + 2},
                                              {TKind::MuteToggled, true, 0x8585, first + 3},
                                              {TKind::Read, true, 0x8585, first + 4},
                                              {TKind::MuteToggled, true, 0x0505, last}}));
  EXPECT_EQ(AmplifierWord(), 0x0505);
}

// A worker held inside a transaction (a slow bus, a lock held elsewhere):
// the volume words posted meanwhile leave one write, the newest; a mute
// toggle between them is kept in its place, and words around it are not
// merged across it.
TEST_F(AmpWorkerTest, NewestVolumeWordWinsWhileTheBusIsBusy) {
  Start(0);
  Port.Hold();
  Worker->Write(0x0101);
  ASSERT_TRUE(Port.WaitForStarted(1));
  for (u16 v = 2; v <= 40; ++v) Worker->Write(amp::WordForVolume(v));
  const u32 toggle = Worker->ToggleMute();
  Worker->Write(0x2A2A);
  const u32 newest = Worker->Write(0x2B2B);
  Port.Release();
  const std::vector<TAmpResult> results = WaitForResults(4);
  EXPECT_EQ(Port.Transactions(), (std::vector<std::string>{"W 0101", "W 2828", "R", "W A8A8", "W 2B2B"}));
  ASSERT_EQ(results.size(), 4u);
  EXPECT_EQ(results[1], (TAmpResult{TKind::Written, true, 0x2828, toggle - 1}));
  EXPECT_EQ(results[2], (TAmpResult{TKind::MuteToggled, true, 0xA8A8, toggle}));
  EXPECT_EQ(results[3], (TAmpResult{TKind::Written, true, 0x2B2B, newest}));
  EXPECT_EQ(AmplifierWord(), 0x2B2B);
}

// Posting never waits for the bus: a hundred requests return while the
// worker is stuck in its first transaction.
TEST_F(AmpWorkerTest, PostingDoesNotWaitForTheBus) {
  Start(0);
  Port.Hold();
  Worker->Write(0x0101);
  ASSERT_TRUE(Port.WaitForStarted(1));
  for (int i = 0; i < 100; ++i) {
    Worker->Write(static_cast<u16>(i));
    Worker->Read();
  }
  EXPECT_EQ(Port.Transactions().size(), 1u);
  EXPECT_TRUE(Worker->TakeResults().empty());
  Port.Release();
}

// The probe: a read, and when it answers the remembered word again, which
// is the word given at the start until a write succeeds. It tells the
// serial of the newest request served.
TEST_F(AmpWorkerTest, ProbePutsTheRememberedWordBack) {
  Start(0x8A8A, 20ms);
  std::vector<TAmpResult> results = WaitForResults(1);
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results[0], (TAmpResult{TKind::Probed, true, 0x8A8A, 0}));
  EXPECT_EQ(AmplifierWord(), 0x8A8A);
  const u32 serial = Worker->Write(0x1111);
  const auto probedAfterWrite = [&] {
    return results.back().Kind == TKind::Probed && results.back().Serial == serial;
  };
  for (int i = 0; i < 20 && !probedAfterWrite(); ++i) results = WaitForResults(Collected.size() + 1);
  ASSERT_TRUE(probedAfterWrite());
  EXPECT_EQ(results.back().Word, 0x1111);
  Worker.reset();
  const std::vector<std::string> transactions = Port.Transactions();
  ASSERT_GE(transactions.size(), 2u);
  EXPECT_EQ(transactions[0], "R");
  EXPECT_EQ(transactions[1], "W 8A8A");
}

// An amplifier that does not answer: the probe says so and writes nothing,
// a failed write leaves the remembered word as it was, a failed read shows
// 0, and the mute button then toggles the word 0.
TEST_F(AmpWorkerTest, SilentAmplifierIsReportedAndChangesNothing) {
  UseBoard(BoardName(2, "+noamp"), Path);
  Start(0x0707, 20ms);
  const u32 write = Worker->Write(0x0909);
  Worker->Read();
  Worker->ToggleMute();
  std::vector<TAmpResult> results = WaitForResults(3);
  ASSERT_GE(results.size(), 3u);
  std::erase_if(results, [](const TAmpResult& r) { return r.Kind == TKind::Probed; });
  EXPECT_EQ(results, (std::vector<TAmpResult>{{TKind::Written, false, 0x0909, write},
                                              {TKind::Read, false, 0x0000, write + 1},
                                              {TKind::MuteToggled, false, 0x8080, write + 2}}));
  Collected.clear();
  results = WaitForResults(1);
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results[0], (TAmpResult{TKind::Probed, false, 0x0707, write + 2}));
  Worker.reset();
  for (const std::string& transaction : Port.Transactions()) EXPECT_NE(transaction, "W 0707");
}

// Another program holds the SMBus lock longer than a transaction waits for
// it: the newest wanted word is tried again until the lock is free, and
// then lands; the probe reports nothing meanwhile (the amplifier is not
// silent, only out of reach), and the mute button waits for a word it
// could read.
TEST_F(AmpWorkerTest, WordLandsAfterALockHeldElsewhereIsReleased) {
  Start(0x0101, 100ms);
  auto lock = std::make_unique<TSystemLock>(testing::UniqueLockName());
  ASSERT_TRUE(lock->Acquire(0));
  Worker->Write(0x0505);
  ASSERT_TRUE(Port.WaitForStarted(1));
  const u32 newest = Worker->Write(0x0606);
  const u32 toggle = Worker->ToggleMute();
  // The first attempt of 0x0606 gave up after the lock's whole wait, and it
  // is being tried again.
  ASSERT_TRUE(Port.WaitForStarted(3));
  EXPECT_TRUE(Worker->TakeResults().empty());
  lock->Release();
  std::vector<TAmpResult> results = WaitForResults(2);
  ASSERT_GE(results.size(), 2u);
  results.resize(2);  // probes follow once the lock is free
  EXPECT_EQ(results, (std::vector<TAmpResult>{{TKind::Written, true, 0x0606, newest},
                                              {TKind::MuteToggled, true, 0x8686, toggle}}));
  Worker.reset();
  const std::vector<std::string> transactions = Port.Transactions();
  ASSERT_GE(transactions.size(), 5u);
  EXPECT_EQ(transactions[0], "W 0505");
  const auto lastTry = std::find(transactions.rbegin(), transactions.rend(), "W 0606").base();
  ASSERT_LE(lastTry + 2, transactions.end());
  EXPECT_EQ(std::vector<std::string>(lastTry, lastTry + 2), (std::vector<std::string>{"R", "W 8686"}));
  EXPECT_EQ(AmplifierWord(), 0x8686);
}

// A lock held elsewhere for longer than the worker lets pass is told once,
// as an amplifier out of reach for that reason; the first result that
// reaches the bus once the lock is free ends it.
TEST_F(AmpWorkerTest, ALockHeldTooLongIsToldOnceUntilTheBusIsHad) {
  Start(0x0101, 100ms, 1ms);
  auto lock = std::make_unique<TSystemLock>(testing::UniqueLockName());
  ASSERT_TRUE(lock->Acquire(0));
  const u32 write = Worker->Write(0x0505);
  EXPECT_EQ(WaitForResults(1), (std::vector<TAmpResult>{{TKind::Probed, false, 0x0101, write, true}}));
  ASSERT_TRUE(Port.WaitForStarted(3));  // two more attempts have failed meanwhile
  EXPECT_TRUE(Worker->TakeResults().empty());
  lock->Release();
  std::vector<TAmpResult> results = WaitForResults(3);
  ASSERT_GE(results.size(), 3u);
  EXPECT_EQ(results[1], (TAmpResult{TKind::Written, true, 0x0505, write}));
  EXPECT_EQ(results[2], (TAmpResult{TKind::Probed, true, 0x0505, write}));
}

// Two mute clicks with nothing between them cancel while the first has not
// reached the bus: waiting behind another request, or being tried against
// a lock held elsewhere. What the worker reports from then on accounts for
// both, and the amplifier never flaps.
TEST_F(AmpWorkerTest, TwoWaitingTogglesCancel) {
  Start(0x0101, 100ms);
  Port.Hold();
  const u32 write = Worker->Write(0x0202);
  ASSERT_TRUE(Port.WaitForStarted(1));
  Worker->ToggleMute();
  EXPECT_EQ(Worker->ToggleMute(), write);  // the write, still on the bus, is the newest to come
  Port.Release();
  const std::vector<TAmpResult> results = WaitForResults(2);
  ASSERT_GE(results.size(), 2u);
  EXPECT_EQ(results[0], (TAmpResult{TKind::Written, true, 0x0202, write}));
  EXPECT_EQ(results[1], (TAmpResult{TKind::Probed, true, 0x0202, write}));
  const std::vector<std::string> transactions = Port.Transactions();
  EXPECT_EQ(transactions[0], "W 0202");
  EXPECT_EQ(std::count(transactions.begin(), transactions.end(), "W 8282"), 0);
}

TEST_F(AmpWorkerTest, ASecondToggleCancelsOneTheHeldLockKeepsFromTheBus) {
  Start(0x0101, 100ms);
  auto lock = std::make_unique<TSystemLock>(testing::UniqueLockName());
  ASSERT_TRUE(lock->Acquire(0));
  Worker->ToggleMute();
  ASSERT_TRUE(Port.WaitForStarted(1));  // its read waits for the lock
  const u32 second = Worker->ToggleMute();
  ASSERT_TRUE(Port.WaitForStarted(2));  // the failed try was not repeated: this is a probe
  lock->Release();
  std::vector<TAmpResult> results = WaitForResults(1);
  ASSERT_FALSE(results.empty());
  EXPECT_EQ(results[0], (TAmpResult{TKind::Probed, true, 0x0101, second}));
  EXPECT_EQ(AmplifierWord(), 0x0101);
}

// A lock that fails at once (it could not even be made) is tried again at
// a bounded pace, not in a busy loop, until it can be had.
class TUnreachableLockPort final : public TAmpPort {
 public:
  bool Read(u16&) override { return Attempt(); }
  bool Write(u16) override { return Attempt(); }
  bool HeldElsewhere() override { return true; }
  void StopWaitingForTheLock() override {}
  int Attempts() const { return Count.load(); }

 private:
  bool Attempt() {
    ++Count;
    return false;
  }
  std::atomic<int> Count{0};
};

TEST(AmpWorker, LockFailingAtOnceIsNotABusyLoop) {
  TUnreachableLockPort port;
  {
    TAmpWorker worker(port, 0, 1h, [] {});
    worker.Write(0x0101);
    std::this_thread::sleep_for(500ms);
  }
  EXPECT_GE(port.Attempts(), 2);   // tried again
  EXPECT_LE(port.Attempts(), 20);  // 50 ms apart, not thousands of times
}

// Ending the worker finishes what was posted, so the last word the user
// chose reaches the amplifier.
TEST_F(AmpWorkerTest, EndingFinishesPostedRequests) {
  Start(0);
  Port.Hold();
  Worker->Write(0x0101);
  ASSERT_TRUE(Port.WaitForStarted(1));
  Worker->Write(0x3F3F);
  Worker->ToggleMute();
  Port.Release();
  Worker.reset();
  EXPECT_EQ(Port.Transactions(), (std::vector<std::string>{"W 0101", "W 3F3F", "R", "W BFBF"}));
  EXPECT_EQ(AmplifierWord(), 0xBFBF);
  EXPECT_GE(Notices, 3);
}

// A program that ends while another one holds the SMBus lock stops waiting
// for it: what was posted is reported unanswered at once, not tried again,
// and nothing reaches the amplifier.
TEST_F(AmpWorkerTest, EndingWhileTheLockIsHeldElsewhereReportsPostedRequestsUnanswered) {
  Start(0x0101);
  TSystemLock other(testing::UniqueLockName());
  ASSERT_TRUE(other.Acquire(0));
  const u32 write = Worker->Write(0x0505);
  ASSERT_TRUE(Port.WaitForStarted(1));
  const u32 toggle = Worker->ToggleMute();
  Port.StopWaitingForTheLock();
  Worker->Stop();
  EXPECT_EQ(Worker->TakeResults(), (std::vector<TAmpResult>{{TKind::Written, false, 0x0505, write},
                                                            {TKind::MuteToggled, false, 0, toggle}}));
  other.Release();
  EXPECT_EQ(AmplifierWord(), 0);
}

// A bus that throws fails the one request it threw in; the worker goes on
// serving the next ones (an exception escaping its thread would end the
// program without saving).
class TThrowingOncePort final : public TAmpPort {
 public:
  bool Read(u16& word) override {
    word = Word;
    return true;
  }
  bool Write(u16 word) override {
    if (!Thrown.exchange(true)) throw std::runtime_error("the script cannot run");
    Word = word;
    return true;
  }
  bool HeldElsewhere() override { return false; }
  void StopWaitingForTheLock() override {}

 private:
  std::atomic<bool> Thrown{false};
  u16 Word = 0;
};

TEST(AmpWorker, AnExceptionFailsItsRequestAndTheWorkerGoesOn) {
  TThrowingOncePort port;
  TAmpWorker worker(port, 0, 1h, [] {});
  const u32 thrown = worker.Write(0x0101);
  const u32 read = worker.Read();
  const u32 written = worker.Write(0x0202);
  worker.Stop();
  EXPECT_EQ(worker.TakeResults(), (std::vector<TAmpResult>{{TKind::Written, false, 0x0101, thrown},
                                                           {TKind::Read, true, 0, read},
                                                           {TKind::Written, true, 0x0202, written}}));
}

}  // namespace
}  // namespace lirrin
