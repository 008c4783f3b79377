#pragma once
// A clock for tests that would otherwise wait out real time-outs.  It runs
// with real time, and a wait that finds nothing ready with only timers left
// to wait for jumps it to the next timer's due time instead of blocking: a
// peer that stalls costs no real time, while input that arrives is handled
// as it comes.  Its calendar time follows the same jumps and can be set.
//
//     clocks::ScopedFakeClock clock;   // installed until the end of the scope
//     s.SetTimeOut(300);
//     s.ReadLn();                      // times out at once
//
// Safe from any thread.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "platform/clock/Clock.h"

namespace clocks {

class FakeClock : public Clock {
  public:
    // `settle`: the real time a skipping wait first gives the descriptors
    // (0: look once, without waiting).
    explicit FakeClock(std::chrono::milliseconds settle = std::chrono::milliseconds(0));

    TimePoint Now() const override;
    WallTime WallNow() const override;
    bool SkipsIdleWaits() const override { return true; }
    int SettleMs() const override { return FSettleMs; }
    void SkipTo(TimePoint t) override;

    // Moves the clock on by `d` (negative values are ignored).
    void Advance(std::chrono::nanoseconds d);
    // Sets the calendar time; it moves on from there with the clock.
    void SetWallNow(WallTime t);
    // How far the clock is ahead of real time.
    std::chrono::nanoseconds Skipped() const;

  private:
    int FSettleMs;
    std::atomic<std::int64_t> FSkippedNs{0};
    mutable std::mutex FWallLock;
    WallTime FWallBase;    // the calendar time at FWallSetAt
    TimePoint FWallSetAt;  // in this clock's monotonic terms
};

// A FakeClock installed for the lifetime of the object; the clock installed
// before comes back at the end.
class ScopedFakeClock : public FakeClock {
  public:
    explicit ScopedFakeClock(std::chrono::milliseconds settle = std::chrono::milliseconds(0));
    ~ScopedFakeClock() override;
    ScopedFakeClock(const ScopedFakeClock&) = delete;
    ScopedFakeClock& operator=(const ScopedFakeClock&) = delete;

  private:
    Clock* FPrevious;
};

}  // namespace clocks
