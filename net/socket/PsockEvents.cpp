// The socket client's time-out timer, its cancel and abort, and the
// notifications that reach it through its hidden window.

#include "net/socket/PsockPrivate.h"

using namespace psock_internal;

TPowersock::TimeOutSpan::TimeOutSpan(TPowersock& owner) : FOwner(owner), FAlive(owner.FAlive) {
    if (FOwner.FTimeOutSpans++ == 0)
        FOwner.TimerOn();
}

TPowersock::TimeOutSpan::~TimeOutSpan() {
    if (!*FAlive || --FOwner.FTimeOutSpans > 0)
        return;
    try {
        FOwner.TimerOff();
    } catch (...) {
        TraceSwallowed(&FOwner, "stopping the time-out timer");
    }
}

void TPowersock::TimerOn() {
    StatusMessage(8, "Timer On");
    FTimedOut = false;
    if (FTimeOut < 0)
        RangeError();
    FTimeOutTimer->SetInterval(static_cast<std::uint32_t>(FTimeOut));
    FTimeOutTimer->SetEnabled(true);
}

void TPowersock::TimerOff() {
    StatusMessage(8, "Timer Off");
    FTimeOutTimer->SetEnabled(false);
}

void TPowersock::TimerTriggered(TObject*) {
    StatusMessage(8, "Timer Triggered");
    KURS_CLIENT_TRACE("timed out after %d ms", static_cast<int>(FTimeOut));
    TimerOff();
    FTimedOut = true;
    FLookupDone = true;
    Abort();
}

void TPowersock::Cancel() {
    StatusMessage(8, "Canceling");
    KURS_CLIENT_TRACE("cancel");
    FCanceled = true;
}

void TPowersock::Abort() {
    StatusMessage(8, "Abort");
    Cancel();
}

void TPowersock::WaitPass(int boundMs) {
    win::WaitMessage(boundMs);
    win::ProcessMessages();
}

void TPowersock::AbortEnding(const char* message) {
    if (FCanceled) {
        FCanceled = false;
        KURS_CLIENT_TRACE("aborted: %s", message);
        throw EAbortError(String(message));
    }
}

void TPowersock::HandleAsyncMessage(TMessage& Msg) {
    if (Msg.Msg != SocketEvent && Msg.Msg != HostLookupReply)
        return;
    const Liveness alive = FAlive;
    try {
        FLastEventOk = win::WSAGETSELECTERROR(Msg.LParam) == 0;
        if (Msg.Msg == SocketEvent) {
            switch (win::WSAGETSELECTEVENT(Msg.LParam)) {
                case win::FD_CONNECT:
                    KURS_CLIENT_TRACE("%s, error %d", FLastEventOk ? "connected" : "connect failed",
                                      win::WSAGETSELECTERROR(Msg.LParam));
                    if (FLastEventOk) {
                        FConnected = true;
                        if (OnConnect)
                            OnConnect(this);
                    }
                    break;
                case win::FD_ACCEPT:
                    KURS_CLIENT_TRACE("connection to accept");
                    FConnected = true;
                    // Ends the wait of Accept, which has no other signal.
                    FLookupDone = true;
                    break;
                case win::FD_CLOSE:
                    ++FCloseEvents;
                    KURS_CLIENT_TRACE("closed by the peer, error %d",
                                      win::WSAGETSELECTERROR(Msg.LParam));
                    if (!DataAvailable()) {
                        // Kept for the reader that finds the socket replaced:
                        // a reset must not pass for the end of the answer.
                        FCloseError = win::WSAGETSELECTERROR(Msg.LParam);
                        RequestCloseSocket();
                    }
                    break;
                case win::FD_WRITE:
                    FWriteReady = true;
                    break;
                default:  // FD_READ, FD_OOB: the readers poll
                    break;
            }
        } else {
            KURS_CLIENT_TRACE("host lookup done, error %d", win::WSAGETASYNCERROR(Msg.LParam));
            FLookupDone = true;
            FLookupTask = nullptr;
        }
    } catch (...) {
        // Failures of the handlers and of the close are not reported here.
        TraceSwallowed(this, "handling a notification");
    }
    (void)alive;
}
