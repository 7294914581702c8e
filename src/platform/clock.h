#pragma once
// Time: a clock and sleep that tests replace, so that no test waits for real.
#include <cstdint>

namespace skelder::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds on a monotonic scale.
  virtual uint64_t NowMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
};

// The process-wide clock: the real one unless a test installed another. The clock is borrowed:
// SetClock(nullptr) restores the real one.
Clock& CurrentClock();
void SetClock(Clock* clock);

inline uint64_t NowMs() { return CurrentClock().NowMs(); }
inline void SleepMs(uint32_t ms) { CurrentClock().SleepMs(ms); }

// Real wall time for code that must not be virtual (socket timeouts).
uint64_t MonotonicMs();

// A clock whose sleeps only advance its own time.
class VirtualClock : public Clock {
 public:
  uint64_t NowMs() override { return now_; }
  void SleepMs(uint32_t ms) override {
    now_ += ms;
    slept_ += ms;
  }
  void Advance(uint64_t ms) { now_ += ms; }
  uint64_t TotalSlept() const { return slept_; }

 private:
  uint64_t now_ = 0;
  uint64_t slept_ = 0;
};

}  // namespace skelder::platform
