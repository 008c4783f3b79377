// Timers: SetTimer/KillTimer, their due times and ticks, and the tick count.

#include "platform/messages/MessagesState.h"

#include <algorithm>

#include "platform/Trace.h"

namespace win {

using namespace detail;

namespace {
const TimePoint kTickEpoch = clocks::Now();
}  // namespace

namespace detail {

std::optional<TimePoint> NextTimerDue() {
    std::optional<TimePoint> next;
    for (auto& [key, t] : S().timers) {
        if (!t.tickQueued && (!next || t.due < *next)) {
            next = t.due;
        }
    }
    return next;
}

bool AnyTimerDue(TimePoint now) {
    for (auto& [key, t] : S().timers) {
        if (!t.tickQueued && t.due <= now) {
            return true;
        }
    }
    return false;
}

// Step 2 of ProcessMessages: one tick behind the posted messages for every
// due timer that has none waiting.
void QueueDueTimers() {
    auto now = clocks::Now();
    bool any = false;
    std::vector<Posted> ticks;
    for (auto& [key, t] : S().timers) {
        if (t.tickQueued || t.due > now) {
            continue;
        }
        t.tickQueued = true;
        t.due += std::chrono::milliseconds(t.interval);
        if (t.due <= now) {
            t.due = now + std::chrono::milliseconds(t.interval);  // missed periods coalesce
        }
        ticks.push_back(Posted{0, key.first, WM_TIMER, key.second, 0, t.serial});
        any = true;
    }
    if (!any) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(S().lock);
        for (auto& p : ticks) {
            p.seq = S().nextSeq++;
            S().queue.push_back(p);
        }
    }
    NotifyObserver();
}

void DeliverTick(const Posted& p) {
    auto it = S().timers.find(TimerKey{p.hwnd, p.wParam});
    if (it == S().timers.end() || it->second.serial != p.timerSerial) {
        return;  // killed or set anew since it fell due
    }
    it->second.tickQueued = false;
    TIMERPROC proc = it->second.proc;
    NotifyObserver();  // the timer counts again for the next deadline
    KURS_TRACE(Messages, "timer %p id %llu fired", static_cast<void*>(p.hwnd),
               static_cast<unsigned long long>(p.wParam));
    if (proc != nullptr) {
        proc(p.hwnd, WM_TIMER, p.wParam, GetTickCount());
        return;
    }
    if (Window* w = Find(p.hwnd)) {
        CallProc(w, WM_TIMER, p.wParam, 0);
    }
}

}  // namespace detail

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    if (hwnd != nullptr) {
        Window* w = FindOrFail(hwnd);
        if (w == nullptr || w->destroying) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    } else {
        if (proc == nullptr) {
            SetLastError(kInvalidParameter);
            return 0;
        }
        if (S().timers.count(TimerKey{nullptr, id}) == 0 || id == 0) {
            do {
                id = S().nextThreadTimerId++;
                if (S().nextThreadTimerId == 0) {
                    S().nextThreadTimerId = 1;
                }
            } while (id == 0 || S().timers.count(TimerKey{nullptr, id}) != 0);
        }
    }
    if (S().timers.size() >= kTimerQuota && S().timers.count(TimerKey{hwnd, id}) == 0) {
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return 0;
    }
    elapse = std::clamp(elapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    Timer& t = S().timers[TimerKey{hwnd, id}];
    t.interval = elapse;
    t.proc = proc;
    t.due = clocks::Now() + std::chrono::milliseconds(elapse);
    t.serial = S().nextSerial++;
    t.tickQueued = false;  // a tick of the previous setting is now stale
    KURS_TRACE(Messages, "SetTimer %p id %llu every %u ms", static_cast<void*>(hwnd),
               static_cast<unsigned long long>(id), elapse);
    NotifyObserver();
    if (hwnd == nullptr) {
        return id;
    }
    return id != 0 ? id : 1;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    const bool existed = S().timers.erase(TimerKey{hwnd, id}) != 0;
    KURS_TRACE(Messages, "KillTimer %p id %llu%s", static_cast<void*>(hwnd),
               static_cast<unsigned long long>(id), existed ? "" : ": no such timer");
    if (!existed) {
        SetLastError(kInvalidParameter);
        return FALSE;
    }
    NotifyObserver();
    return TRUE;
}

std::optional<std::chrono::steady_clock::time_point> GetTimerDueTime(HWND hwnd, UINT_PTR id) {
    auto it = S().timers.find(TimerKey{hwnd, id});
    if (it == S().timers.end()) {
        return std::nullopt;
    }
    return it->second.due;
}

DWORD GetTickCount() {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(clocks::Now() - kTickEpoch);
    return static_cast<DWORD>(static_cast<std::uint64_t>(ms.count()) + 0x10000u);
}

}  // namespace win
