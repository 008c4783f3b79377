// The wait: ProcessMessages, WaitMessage, the watched descriptors and what a
// backend needs to run the same wait in its own loop.

#include "platform/messages/MessagesState.h"

#include <algorithm>
#include <cerrno>

#include "platform/Trace.h"

namespace win {

using namespace detail;

namespace {

int CeilMs(TimePoint::duration d) {
    if (d <= TimePoint::duration::zero()) {
        return 0;
    }
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

std::vector<pollfd> WatchedPollFds() {
    std::vector<pollfd> fds;
    for (auto& [fd, w] : S().watches) {
        if (w.events != 0) {
            fds.push_back(pollfd{fd, w.events, 0});
        }
    }
    return fds;
}

bool DescriptorsReadyNow() {
    auto fds = WatchedPollFds();
    if (fds.empty()) {
        return false;
    }
    int r;
    do {
        r = ::poll(fds.data(), fds.size(), 0);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

// Step 1 of ProcessMessages.
void PollDescriptors() {
    auto fds = WatchedPollFds();
    if (fds.empty()) {
        return;
    }
    int r;
    do {
        r = ::poll(fds.data(), fds.size(), 0);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) {
        return;
    }
    bool changed = false;
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].revents == 0) {
            continue;
        }
        auto it = S().watches.find(fds[i].fd);
        if (it == S().watches.end() || it->second.events == 0) {
            continue;  // an earlier handler dropped or paused it
        }
        short revents =
            static_cast<short>(fds[i].revents & (it->second.events | POLLERR | POLLHUP | POLLNVAL));
        if (revents == 0) {
            continue;
        }
        DescriptorHandler handler = it->second.handler;
        std::uint64_t serial = it->second.serial;
        if (handler) {
            handler(fds[i].fd, revents);
        }
        if (revents & POLLNVAL) {
            auto again = S().watches.find(fds[i].fd);
            if (again != S().watches.end() && again->second.serial == serial) {
                S().watches.erase(again);
                changed = true;
            }
        }
    }
    if (changed) {
        NotifyObserver();
    }
}

// The built-in blocking wait: one poll() over the wake descriptor and the
// watched descriptors.  True when a watched descriptor is ready.
bool PollWait(int timeoutMs) {
    auto fds = WatchedPollFds();
    fds.insert(fds.begin(), pollfd{S().wakeFd, POLLIN, 0});
    int r = ::poll(fds.data(), fds.size(), timeoutMs);
    if (r <= 0) {
        return false;  // time-out or a signal: the caller looks again
    }
    if (fds[0].revents != 0) {
        DrainWake();
    }
    for (std::size_t i = 1; i < fds.size(); ++i) {
        if (fds[i].revents != 0) {
            return true;
        }
    }
    return false;
}

// The backend's wait when one is set, else the built-in poll().
bool BlockingWait(int timeoutMs) {
    if (S().waitFunction) {
        auto wait = S().waitFunction;  // it may replace itself
        return wait(timeoutMs);
    }
    return PollWait(timeoutMs);
}

enum class Settled { DescriptorReady, MessageQueued, Idle };

// Waits up to settleMs of real time for a descriptor or a post.  A wake-up
// that brings nothing (a wake signal left from an earlier pass) does not
// cut the time short.
Settled Settle(int settleMs) {
    const auto end = clocks::SystemClock().Now() + std::chrono::milliseconds(settleMs);
    for (;;) {
        if (BlockingWait(CeilMs(end - clocks::SystemClock().Now()))) {
            return Settled::DescriptorReady;
        }
        if (QueueNotEmpty()) {
            return Settled::MessageQueued;
        }
        if (clocks::SystemClock().Now() >= end) {
            return Settled::Idle;
        }
    }
}

}  // namespace

void ProcessMessages() {
    DrainWake();
    PollDescriptors();
    QueueDueTimers();
    DeliverQueued();
}

bool MessagesPending() {
    return QueueNotEmpty() || AnyTimerDue(clocks::Now()) || DescriptorsReadyNow();
}

bool WaitMessage(int timeoutMs) {
    clocks::Clock& clock = clocks::Current();
    const auto start = clock.Now();
    const std::optional<TimePoint> deadline =
        timeoutMs < 0 ? std::nullopt
                      : std::optional<TimePoint>(start + std::chrono::milliseconds(timeoutMs));
    auto woke = [timeoutMs](bool result, const char* why) {
        KURS_TRACE(Messages, "WaitMessage(%d) woke: %s", timeoutMs, why);
        return result;
    };
    bool first = true;
    for (;;) {
        const auto now = clock.Now();
        if (QueueNotEmpty()) {
            return woke(true, "a message is queued");
        }
        if (AnyTimerDue(now)) {
            return woke(true, "a timer is due");
        }
        int waitMs = -1;
        if (deadline) {
            waitMs = CeilMs(*deadline - now);
            if (waitMs == 0 && !first) {
                return DescriptorsReadyNow() ? woke(true, "a descriptor is ready")
                                             : woke(false, "time-out");
            }
        }
        const std::optional<TimePoint> next = NextTimerDue();
        if (next) {
            int toTimer = CeilMs(*next - now);
            waitMs = waitMs < 0 ? toTimer : std::min(waitMs, toTimer);
        }
        first = false;
        if (next && clock.SkipsIdleWaits()) {
            // Only a timer is left to wait for: a clock that skips idle time
            // moves on to it unless something arrives within its settle time.
            switch (Settle(clock.SettleMs())) {
                case Settled::DescriptorReady:
                    return woke(true, "a descriptor is ready");
                case Settled::MessageQueued:
                    break;  // the next pass returns it
                case Settled::Idle:
                    clock.SkipTo(*next);
                    break;
            }
            continue;
        }
        if (BlockingWait(waitMs)) {
            return woke(true, S().waitFunction ? "the backend's wait" : "a descriptor is ready");
        }
    }
}

// ---- watched descriptors -----------------------------------------------------------------

void WatchDescriptor(int fd, short pollEvents, DescriptorHandler handler) {
    if (fd < 0) {
        return;
    }
    Watch& w = S().watches[fd];
    w.events = pollEvents;
    w.handler = std::move(handler);
    w.serial = S().nextSerial++;
    NotifyObserver();
}

void SetDescriptorEvents(int fd, short pollEvents) {
    auto it = S().watches.find(fd);
    if (it == S().watches.end() || it->second.events == pollEvents) {
        return;
    }
    it->second.events = pollEvents;
    NotifyObserver();
}

void UnwatchDescriptor(int fd) {
    if (S().watches.erase(fd) != 0) {
        NotifyObserver();
    }
}

// ---- backend hook -----------------------------------------------------------------------------

WaitSources GetWaitSources() {
    WaitSources sources;
    sources.WakeFd = S().wakeFd;
    for (auto& [fd, w] : S().watches) {
        sources.Descriptors.emplace_back(fd, w.events);
    }
    sources.NextTimer = NextTimerDue();
    return sources;
}

void SetWaitSourcesObserver(WaitSourcesObserver observer) {
    S().observer = std::move(observer);
}
void SetWaitFunction(WaitFunction wait) {
    S().waitFunction = std::move(wait);
}

}  // namespace win
