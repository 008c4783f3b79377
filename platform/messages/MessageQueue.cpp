// The posted-message queue: sent and posted messages and their delivery.

#include "platform/messages/MessagesState.h"

#include "platform/Trace.h"

namespace win {

using namespace detail;

namespace {

void Deliver(const Posted& p) {
    if (p.timerSerial != 0) {
        DeliverTick(p);
        return;
    }
    if (Window* w = Find(p.hwnd)) {
        CallProc(w, p.msg, p.wParam, p.lParam);
    }
}

}  // namespace

namespace detail {

bool QueueNotEmpty() {
    std::lock_guard<std::mutex> guard(S().lock);
    return !S().queue.empty();
}

void DeliverQueued() {
    std::uint64_t last;
    {
        std::lock_guard<std::mutex> guard(S().lock);
        last = S().nextSeq - 1;
    }
    // Leaves a wake signal behind when messages stay queued (posted during
    // delivery, or left by a procedure that raised), so a backend's loop
    // comes back for them.
    struct WakeIfLeft {
        ~WakeIfLeft() {
            if (QueueNotEmpty()) {
                SignalWake();
            }
        }
    } wakeIfLeft;
    for (;;) {
        Posted p;
        {
            std::lock_guard<std::mutex> guard(S().lock);
            if (S().queue.empty() || S().queue.front().seq > last) {
                break;
            }
            p = S().queue.front();
            S().queue.pop_front();
        }
        Deliver(p);
    }
}

}  // namespace detail

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = FindOrFail(hwnd);
    if (w == nullptr) {
        KURS_TRACE(Messages, "SendMessage %p 0x%04X: no such window", static_cast<void*>(hwnd),
                   msg);
        return 0;
    }
    KURS_TRACE(Messages, "SendMessage %p 0x%04X wParam 0x%llX lParam 0x%llX",
               static_cast<void*>(hwnd), msg, static_cast<unsigned long long>(wParam),
               static_cast<unsigned long long>(lParam));
    return CallProc(w, msg, wParam, lParam);
}

BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard<std::mutex> guard(S().lock);
        if (hwnd == nullptr || S().live.count(hwnd) == 0) {
            KURS_TRACE(Messages, "PostMessage %p 0x%04X: no such window", static_cast<void*>(hwnd),
                       msg);
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (S().queue.size() >= kPostQuota) {
            KURS_TRACE(Messages, "PostMessage %p 0x%04X: the queue is full",
                       static_cast<void*>(hwnd), msg);
            SetLastError(ERROR_NOT_ENOUGH_QUOTA);
            return FALSE;
        }
        S().queue.push_back(Posted{S().nextSeq++, hwnd, msg, wParam, lParam, 0});
    }
    KURS_TRACE(Messages, "PostMessage %p 0x%04X wParam 0x%llX lParam 0x%llX",
               static_cast<void*>(hwnd), msg, static_cast<unsigned long long>(wParam),
               static_cast<unsigned long long>(lParam));
    SignalWake();
    return TRUE;
}

}  // namespace win
