#pragma once
// The one place the program reads the time.  Two readings:
//   Now()      the monotonic clock: timers, waits and time-outs;
//   WallNow()  the calendar clock: today's date, the stamps in file names.
// Both ask the installed Clock, the system's unless a test installed another
// (FakeClock.h).  A wait that finds nothing to do asks the clock whether it
// may skip ahead to the time it would wake instead of blocking; the system
// clock never does.

#include <chrono>

namespace clocks {

using MonotonicClock = std::chrono::steady_clock;
using TimePoint = MonotonicClock::time_point;
using WallTime = std::chrono::system_clock::time_point;

class Clock {
  public:
    virtual ~Clock() = default;

    virtual TimePoint Now() const = 0;
    virtual WallTime WallNow() const = 0;

    // True when a wait that has nothing left to wait for but a timer may move
    // the clock on to that timer (SkipTo) instead of blocking.
    virtual bool SkipsIdleWaits() const { return false; }
    // Real milliseconds such a wait first gives the descriptors it watches,
    // so that input already under way still counts before the skip.
    virtual int SettleMs() const { return 0; }
    // Moves the clock on to `t` (never back).  Called only when
    // SkipsIdleWaits() is true.
    virtual void SkipTo(TimePoint) {}
};

// The system's clocks (steady_clock and system_clock).
Clock& SystemClock();

// The installed clock.  Safe from any thread.
Clock& Current();

// Installs `clock` for the whole process (nullptr: the system clock) and
// returns the one installed before.  The caller keeps `clock` alive while it
// is installed.  Timers set under one clock keep their due times in that
// clock's terms: install before and uninstall after whatever set them.
Clock* Install(Clock* clock);

inline TimePoint Now() {
    return Current().Now();
}
inline WallTime WallNow() {
    return Current().WallNow();
}

}  // namespace clocks
