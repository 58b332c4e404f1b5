// The system-wide lock between processes: a transaction that cannot have it
// within 3 s fails without a single hardware request, and a holder that dies
// does not keep it. On Windows the same holds for the global mutex through
// which hardware-monitoring and RGB tools share the bus.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "smbus/system_lock.h"
#include "smbus_fixture.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#endif

namespace lirrin {
namespace {

using testing::SMBusTest;

constexpr u8 kAmplifier = 0x4A;
constexpr u8 kAmplifierCommand = 2;

// The wait is 3000 ms; the clocks of the two measurements may round
// differently, so allow a little.
constexpr auto kLockWaitAtLeast = std::chrono::milliseconds(2900);

using TSteady = std::chrono::steady_clock;

// One failed transaction while another process holds the lock: false after
// the full wait, and not one request reached the board.
void ExpectTimedOut(const std::function<bool()>& transaction, sim::TSimBoard& board) {
  board.ResetRequestCounts();
  const auto start = TSteady::now();
  EXPECT_FALSE(transaction());
  const auto elapsed = TSteady::now() - start;
  EXPECT_GE(elapsed, kLockWaitAtLeast);
  EXPECT_LT(elapsed, std::chrono::seconds(30));
  EXPECT_EQ(board.TotalRequests(), 0u);
}

// The wait left for the second lock after the first took its share of the
// budget, with the 32-bit millisecond tick wrapping in between.
TEST(SystemLock, RemainingWaitAcrossTheTickWrap) {
  struct Case {
    u32 timeout, start, now, remaining;
  };
  const Case cases[] = {
      {3000, 1000, 1000, 3000},
      {3000, 1000, 2500, 1500},
      {3000, 1000, 4000, 0},
      {3000, 1000, 9000, 0},
      {3000, 0xFFFFFF00, 0x00000100, 2488},  // 512 ms across the wrap
      {3000, 0xFFFFF000, 0x00000800, 0},     // 6144 ms across the wrap
  };
  for (const Case& c : cases) EXPECT_EQ(RemainingWait(c.timeout, c.start, c.now), c.remaining) << c.start;
}

#ifndef _WIN32

// A child process that takes the lock, reports that it holds it, and holds
// it until the parent closes the pipe or kills it.
class LockHolder {
 public:
  explicit LockHolder(const std::string& name) {
    int ready[2], release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) return;
    Child = fork();
    if (Child == 0) {
      close(ready[0]);
      close(release[1]);
      TSystemLock lock(name);
      const char held = lock.Acquire(1000) ? 'y' : 'n';
      if (write(ready[1], &held, 1) != 1) _exit(1);
      char byte;
      while (read(release[0], &byte, 1) > 0) {
      }
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    Release = release[1];
    char held = 'n';
    Holding = read(ready[0], &held, 1) == 1 && held == 'y';
    close(ready[0]);
  }
  ~LockHolder() { Stop(false); }

  // Lets the child go (it releases by exiting) or kills it while it holds
  // the lock; waits for it either way.
  void Stop(bool kill) {
    if (Child <= 0) return;
    if (kill) ::kill(Child, SIGKILL);
    close(Release);
    int status = 0;
    waitpid(Child, &status, 0);
    Child = -1;
  }

  bool Holding = false;

 private:
  pid_t Child = -1;
  int Release = -1;
};

TEST_F(SMBusTest, SecondProcessHoldingTheLockMakesTransactionsTimeOut) {
  UseBoard("sim:2");
  LockHolder holder(testing::UniqueLockName());
  ASSERT_TRUE(holder.Holding);
  std::array<u8, 2> buffer{0xEE, 0xDD};
  ExpectTimedOut([&] { return Engine->WriteWords(kAmplifier, kAmplifierCommand, buffer.data(), 1); }, *Board);
  ExpectTimedOut([&] { return Engine->ReadWords(kAmplifier, buffer.data(), kAmplifierCommand, 1); }, *Board);
  EXPECT_EQ(buffer, (std::array<u8, 2>{0xEE, 0xDD}));
  holder.Stop(false);
  EXPECT_TRUE(WriteWord(kAmplifier, kAmplifierCommand, 0x2828));
  EXPECT_TRUE(Engine->ReadWords(kAmplifier, buffer.data(), kAmplifierCommand, 1));
  EXPECT_EQ(buffer, (std::array<u8, 2>{0x28, 0x28}));
}

// The lock's file lives in its one directory, created when missing; when
// that cannot be, the lock is never had and the reason names the directory.
TEST(SystemLock, OneDirectoryCreatedWhenMissingOrARefusalNamingIt) {
  const std::string base = ::testing::TempDir() + "lirrin-lock-" + std::to_string(getpid());
  const std::string directory = base + "-made/lock";  // neither exists yet
  {
    TSystemLock lock("Global\\lirrin-test", directory);
    EXPECT_TRUE(lock.Acquire(0));
    EXPECT_EQ(lock.Problem(), "");
    lock.Release();
  }
  struct stat made {};
  ASSERT_EQ(stat((directory + "/Global_lirrin-test.lock").c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 0777, 0666u);
  ASSERT_EQ(stat(directory.c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 07777, 01777u);
  std::remove((directory + "/Global_lirrin-test.lock").c_str());
  rmdir(directory.c_str());
  rmdir((base + "-made").c_str());

  const std::string file = base + "-file";
  std::ofstream(file) << "not a directory\n";
  const std::string impossible = file + "/lock";
  TSystemLock refused("lirrin-test", impossible);
  EXPECT_FALSE(refused.Acquire(0));
  EXPECT_EQ(refused.Problem(), "cannot create the lock directory " + impossible + ": Not a directory");
  std::remove(file.c_str());
}

// Threads of one process exclude each other like processes: the file lock
// itself is shared by every thread that uses the same lock object.
TEST(SystemLock, KeepsThreadsOfOneProcessApart) {
  const std::string directory = ::testing::TempDir();
  TSystemLock lock("lirrin-threads-" + std::to_string(getpid()), directory);
  ASSERT_TRUE(lock.Acquire(1000));
  bool otherGotIt = true;
  std::string problem;
  std::thread other([&] {
    otherGotIt = lock.Acquire(50);
    problem = lock.Problem();
  });
  other.join();
  EXPECT_FALSE(otherGotIt);
  EXPECT_NE(problem.find("stayed held by another thread for 50 ms"), std::string::npos) << problem;
  lock.Release();
  std::thread after([&] {
    otherGotIt = lock.Acquire(1000);
    if (otherGotIt) lock.Release();
  });
  after.join();
  EXPECT_TRUE(otherGotIt);
  std::remove((directory + "lirrin-threads-" + std::to_string(getpid()) + ".lock").c_str());
}

// A program that is ending stops waiting: a wait under way for a lock held
// elsewhere gives up (else the join below would wait an hour), so does
// every later one, and a free lock is still taken.
TEST(SystemLock, StopWaitingEndsAWaitUnderWayButStillTakesAFreeLock) {
  const std::string name = testing::UniqueLockName();
  TSystemLock holder(name), waiter(name);
  ASSERT_TRUE(holder.Acquire(0));
  constexpr u32 kHour = 3'600'000;
  std::atomic<bool> had{true};
  std::thread waiting([&] { had = waiter.Acquire(kHour); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // most likely waiting by now
  waiter.StopWaiting();
  waiting.join();
  EXPECT_FALSE(had);
  EXPECT_FALSE(waiter.Acquire(kHour));
  holder.Release();
  EXPECT_TRUE(waiter.Acquire(kHour));
  waiter.Release();
}

// The kernel drops the lock of a process that dies.
TEST_F(SMBusTest, LockOfAKilledHolderIsFree) {
  UseBoard("sim:11");
  LockHolder holder(testing::UniqueLockName());
  ASSERT_TRUE(holder.Holding);
  holder.Stop(true);
  const auto start = TSteady::now();
  EXPECT_TRUE(WriteWord(kAmplifier, kAmplifierCommand, 0x1234));
  EXPECT_LT(TSteady::now() - start, kLockWaitAtLeast);
}

// Without a family, a read returns at once: it does not wait for the lock.
TEST_F(SMBusTest, NoFamilyDoesNotWaitForTheLock) {
  UseBoard("sim:0");
  LockHolder holder(testing::UniqueLockName());
  ASSERT_TRUE(holder.Holding);
  std::array<u8, 2> buffer{};
  const auto start = TSteady::now();
  EXPECT_FALSE(Engine->ReadWords(kAmplifier, buffer.data(), kAmplifierCommand, 1));
  EXPECT_FALSE(Engine->WriteWords(kAmplifier, kAmplifierCommand, buffer.data(), 1));
  EXPECT_LT(TSteady::now() - start, std::chrono::milliseconds(1500));
}

#else  // _WIN32

// tests/wine/hold_mutex.cpp, built next to this program: it takes the named
// semaphore or mutex, signals the ready event and holds the object until the
// release event is signalled (or it is killed).
class Holder {
 public:
  Holder(const char* kind, const std::string& object) {
    const std::string tag = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++Instances);
    const std::string readyName = "Local\\lirrin-holder-ready-" + tag;
    const std::string releaseName = "Local\\lirrin-holder-release-" + tag;
    Ready = CreateEventA(nullptr, TRUE, FALSE, readyName.c_str());
    ReleaseEvent = CreateEventA(nullptr, TRUE, FALSE, releaseName.c_str());
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string program(path, length);
    program = program.substr(0, program.find_last_of("\\/") + 1) + "lirrin_hold_mutex.exe";
    std::string command =
        "\"" + program + "\" " + kind + " \"" + object + "\" " + readyName + " " + releaseName;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessA(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &Process)) {
      return;
    }
    CloseHandle(Process.hThread);
    const HANDLE waits[] = {Ready, Process.hProcess};
    Holding = WaitForMultipleObjects(2, waits, FALSE, 20000) == WAIT_OBJECT_0;
  }
  ~Holder() {
    Stop(false);
    CloseHandle(Ready);
    CloseHandle(ReleaseEvent);
  }
  // Lets the holder release and exit, or kills it while it holds.
  void Stop(bool kill) {
    if (Process.hProcess == nullptr) return;
    if (kill) {
      TerminateProcess(Process.hProcess, 9);
    } else {
      SetEvent(ReleaseEvent);
    }
    WaitForSingleObject(Process.hProcess, 20000);
    CloseHandle(Process.hProcess);
    Process.hProcess = nullptr;
  }

  bool Holding = false;

 private:
  static inline int Instances = 0;
  HANDLE Ready = nullptr;
  HANDLE ReleaseEvent = nullptr;
  PROCESS_INFORMATION Process{};
};

constexpr const char* kSharedMutex = "Global\\Access_SMBUS.HTP.Method";

TEST_F(SMBusTest, SecondProcessHoldingOurSemaphoreMakesTransactionsTimeOut) {
  UseBoard("sim:2");
  Holder holder("semaphore", testing::UniqueLockName());
  ASSERT_TRUE(holder.Holding);
  std::array<u8, 2> buffer{0xEE, 0xDD};
  ExpectTimedOut([&] { return Engine->WriteWords(kAmplifier, kAmplifierCommand, buffer.data(), 1); }, *Board);
  EXPECT_EQ(buffer, (std::array<u8, 2>{0xEE, 0xDD}));
  holder.Stop(false);
  EXPECT_TRUE(WriteWord(kAmplifier, kAmplifierCommand, 0x2828));
}

// Another tool holding the shared SMBus mutex: our transaction gives up like
// a lock timeout, without touching the hardware, and works once it is
// released; our semaphore was given back on the failed path.
TEST_F(SMBusTest, SecondProcessHoldingTheSharedMutexMakesTransactionsTimeOut) {
  UseBoard("sim:2");
  Holder holder("mutex", kSharedMutex);
  ASSERT_TRUE(holder.Holding);
  std::array<u8, 2> buffer{0xEE, 0xDD};
  ExpectTimedOut([&] { return Engine->ReadWords(kAmplifier, buffer.data(), kAmplifierCommand, 1); }, *Board);
  ExpectTimedOut([&] { return Engine->WriteWords(kAmplifier, kAmplifierCommand, buffer.data(), 1); }, *Board);
  EXPECT_EQ(buffer, (std::array<u8, 2>{0xEE, 0xDD}));
  holder.Stop(false);
  EXPECT_TRUE(WriteWord(kAmplifier, kAmplifierCommand, 0x3434));
  EXPECT_TRUE(Engine->ReadWords(kAmplifier, buffer.data(), kAmplifierCommand, 1));
  EXPECT_EQ(buffer, (std::array<u8, 2>{0x34, 0x34}));
  // Both objects are free again after each transaction: another process can
  // take the mutex at once.
  Holder next("mutex", kSharedMutex);
  EXPECT_TRUE(next.Holding);
}

// A tool that died holding the mutex leaves it abandoned; the next wait on
// it succeeds, and it is released properly afterwards.
TEST_F(SMBusTest, AbandonedSharedMutexIsTaken) {
  UseBoard("sim:2");
  Holder holder("mutex", kSharedMutex);
  ASSERT_TRUE(holder.Holding);
  holder.Stop(true);
  const auto start = TSteady::now();
  EXPECT_TRUE(WriteWord(kAmplifier, kAmplifierCommand, 0x5656));
  EXPECT_LT(TSteady::now() - start, kLockWaitAtLeast);
  EXPECT_TRUE(WriteWord(kAmplifier, kAmplifierCommand, 0x5757));
  Holder next("mutex", kSharedMutex);
  EXPECT_TRUE(next.Holding);
}

#endif

}  // namespace
}  // namespace lirrin
