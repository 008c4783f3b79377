#pragma once
// What the files of the socket client share: the registration it keeps on
// its sockets, the waits, the time-out frame of a bounded wait, and its
// traces.  For net/socket's own files only.

#include "net/socket/Psock.h"
#include "platform/Trace.h"

namespace psock_internal {

// The events every socket of the component is registered for:
// FD_READ | FD_OOB | FD_ACCEPT | FD_CONNECT | FD_CLOSE (FD_WRITE only while a
// send waits for room).
constexpr long kSocketEvents =
    win::FD_READ | win::FD_OOB | win::FD_ACCEPT | win::FD_CONNECT | win::FD_CLOSE;
static_assert(kSocketEvents == 61);

// Every wait blocks in the message layer, which wakes it at once for a
// notification, a timer tick, a post or input; the flags that end a wait
// change only while such input is dispatched.  The bound is a backstop, long
// enough that a wait of many seconds costs next to no CPU (a wake-up costs
// some 50 microseconds here, so 2 ms passes would take 2% of a core).
constexpr int kWaitBackstopMs = 100;

[[noreturn]] inline void RangeError() {
    throw ERangeError(String("Range check error"));
}

// Dispatches without waiting (the pass after data was taken).
inline void DispatchPending() {
    win::ProcessMessages();
}

// Waits in the message layer until anything arrives (a notification such as
// FD_READ, a timer tick, a post, input), then dispatches it.
inline void WaitAndDispatch() {
    win::WaitMessage(kWaitBackstopMs);
    win::ProcessMessages();
}

// Writes the exception being handled, which the component swallows at
// `where`, on the "sockets" trace channel.  Call it only inside a catch
// block; it never throws.
void WriteSwallowed(const void* client, const char* where) noexcept;

inline void TraceSwallowed(const void* client, const char* where) noexcept {
    if (trace::On(trace::Channel::Sockets))
        WriteSwallowed(client, where);
}

}  // namespace psock_internal

// One trace line of a socket client, on the "sockets" channel, naming the
// client; for use inside the member functions of TPowersock.
#define KURS_CLIENT_TRACE(format, ...)        \
    KURS_TRACE(Sockets, "client %p: " format, \
               static_cast<const void*>(this) __VA_OPT__(, ) __VA_ARGS__)

// TimerOn at the start of a bounded wait, TimerOff at its end, also when
// the wait raises; nothing once the object is gone, and nothing inside a
// TimeOutSpan, whose countdown runs on untouched.
class TPowersock::TimeoutFrame {
  public:
    explicit TimeoutFrame(TPowersock* owner) : FOwner(owner), FAlive(owner->FAlive) {
        if (FOwner->FTimeOutSpans == 0)
            FOwner->TimerOn();
    }
    ~TimeoutFrame() {
        if (!*FAlive || FOwner->FTimeOutSpans > 0)
            return;
        try {
            FOwner->TimerOff();
        } catch (...) {
            psock_internal::TraceSwallowed(FOwner, "stopping the time-out timer");
        }
    }
    TimeoutFrame(const TimeoutFrame&) = delete;
    TimeoutFrame& operator=(const TimeoutFrame&) = delete;

  private:
    TPowersock* FOwner;
    Liveness FAlive;
};
