#include "platform/clock/Clock.h"

#include <atomic>

#include "platform/clock/FakeClock.h"

namespace clocks {
namespace {

class SystemClocks final : public Clock {
  public:
    TimePoint Now() const override { return MonotonicClock::now(); }
    WallTime WallNow() const override { return std::chrono::system_clock::now(); }
};

std::atomic<Clock*> gInstalled{nullptr};

}  // namespace

Clock& SystemClock() {
    static SystemClocks clock;
    return clock;
}

Clock& Current() {
    Clock* clock = gInstalled.load(std::memory_order_acquire);
    return clock != nullptr ? *clock : SystemClock();
}

Clock* Install(Clock* clock) {
    return gInstalled.exchange(clock, std::memory_order_acq_rel);
}

// ---- the fake ------------------------------------------------------------------------------

FakeClock::FakeClock(std::chrono::milliseconds settle)
    : FSettleMs(settle.count() < 0 ? 0 : static_cast<int>(settle.count())),
      FWallBase(std::chrono::system_clock::now()),
      FWallSetAt(MonotonicClock::now()) {}

TimePoint FakeClock::Now() const {
    return MonotonicClock::now() +
           std::chrono::nanoseconds(FSkippedNs.load(std::memory_order_acquire));
}

WallTime FakeClock::WallNow() const {
    std::lock_guard<std::mutex> guard(FWallLock);
    return FWallBase +
           std::chrono::duration_cast<std::chrono::system_clock::duration>(Now() - FWallSetAt);
}

void FakeClock::SkipTo(TimePoint t) {
    Advance(t - Now());
}

void FakeClock::Advance(std::chrono::nanoseconds d) {
    if (d.count() > 0) {
        FSkippedNs.fetch_add(d.count(), std::memory_order_acq_rel);
    }
}

void FakeClock::SetWallNow(WallTime t) {
    std::lock_guard<std::mutex> guard(FWallLock);
    FWallBase = t;
    FWallSetAt = Now();
}

std::chrono::nanoseconds FakeClock::Skipped() const {
    return std::chrono::nanoseconds(FSkippedNs.load(std::memory_order_acquire));
}

ScopedFakeClock::ScopedFakeClock(std::chrono::milliseconds settle)
    : FakeClock(settle), FPrevious(Install(this)) {}

ScopedFakeClock::~ScopedFakeClock() {
    Install(FPrevious);
}

}  // namespace clocks
