#include "platform/clock.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace skelder::platform {
namespace {

class RealClock : public Clock {
 public:
  uint64_t NowMs() override { return MonotonicMs(); }
  void SleepMs(uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

RealClock& Real() {
  static RealClock clock;
  return clock;
}

// Borrowed; null means the real clock.
// Atomic because the short-lived connect thread may read it.
std::atomic<Clock*> g_clock{nullptr};

}  // namespace

Clock& CurrentClock() {
  Clock* clock = g_clock.load();
  return clock ? *clock : Real();
}

void SetClock(Clock* clock) { g_clock.store(clock); }

uint64_t MonotonicMs() {
  using namespace std::chrono;
  return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace skelder::platform
