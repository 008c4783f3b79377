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
    TimerOff();
    FTimedOut = true;
    FLookupDone = true;
    Abort();
}

void TPowersock::Cancel() {
    StatusMessage(8, "Canceling");
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
                    if (FLastEventOk) {
                        FConnected = true;
                        if (OnConnect)
                            OnConnect(this);
                    }
                    break;
                case win::FD_ACCEPT:
                    FConnected = true;
                    // Ends the wait of Accept, which has no other signal.
                    FLookupDone = true;
                    break;
                case win::FD_CLOSE:
                    ++FCloseEvents;
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
            FLookupDone = true;
            FLookupTask = nullptr;
        }
    } catch (...) {
        // Failures of the handlers and of the close are not reported here.
    }
    (void)alive;
}
