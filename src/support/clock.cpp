#include "support/clock.h"

#include <chrono>
#include <thread>

namespace lirrin {

namespace {

TSystemClock systemClock;
TClock* installed = &systemClock;

}  // namespace

TClock& TClock::Current() { return *installed; }

void TClock::Install(TClock* clock) { installed = clock != nullptr ? clock : &systemClock; }

u64 TSystemClock::Milliseconds() {
  using namespace std::chrono;
  return static_cast<u64>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void TSystemClock::Sleep(u32 milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace lirrin
