#include "net/socket/ThreadTimer.h"

#include <exception>
#include <utility>

#include "runtime/ExceptionHook.h"
#include "runtime/Exceptions.h"

namespace {
constexpr win::UINT_PTR kTimerId = 1;
}

const TClassInfo* TThreadTimer::ClassProperties() {
    static const TClassInfo* info = RegisterPublishedClass<TThreadTimer, TComponent>(
        "TThreadTimer", [](TPublishedProperties<TThreadTimer>& p) {
            p.Ordinal("Interval", CardinalTypeInfo(), &TThreadTimer::Interval,
                      &TThreadTimer::SetInterval)
                .SetDefault(1000);
            p.Method("OnTimer", [](TThreadTimer* t) { return static_cast<bool>(t->OnTimer()); });
            p.Boolean("Enabled", &TThreadTimer::Enabled, &TThreadTimer::SetEnabled).SetDefault(1);
        });
    return info;
}

TThreadTimer::TThreadTimer(TComponent* AOwner) : TComponent(AOwner) {
    ClassProperties();
    FEnabled = true;
    FInterval = 1000;
    FTimerWindow = AllocateTimerWindow(this);
}

TThreadTimer::~TThreadTimer() {
    FEnabled = false;
    try {
        // Only kills: with Enabled false no timer is made, so nothing raises.
        UpdateTimer();
        if (FTimerWindow != nullptr) {
            // The window's last messages get default handling rather than
            // reaching an object that is half gone.
            win::SetWindowLong(FTimerWindow, 0, 0);
            win::DestroyWindow(FTimerWindow);
            FTimerWindow = nullptr;
        }
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}

void TThreadTimer::SetEnabled(bool Value) {
    if (Value != FEnabled) {
        FEnabled = Value;
        UpdateTimer();
    }
}

void TThreadTimer::SetInterval(std::uint32_t Value) {
    if (Value != FInterval) {
        FInterval = Value;
        UpdateTimer();
    }
}

void TThreadTimer::SetOnTimer(TNotifyEvent Value) {
    FOnTimer = std::move(Value);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer() {
    // Without a window there is nothing to kill (and KillTimer(nullptr, 1)
    // would name a window-less timer that is not ours).
    if (FTimerWindow != nullptr) {
        win::KillTimer(FTimerWindow, kTimerId);
    }
    if (FInterval != 0 && FEnabled && FOnTimer) {
        if (win::SetTimer(FTimerWindow, kTimerId, FInterval, nullptr) == 0) {
            throw Exception("No Timer");
        }
    }
}

void TThreadTimer::Timer() {
    if (FOnTimer) {
        // A copy: the handler may assign OnTimer (or free this timer) while it runs.
        TNotifyEvent handler = FOnTimer;
        handler(this);
    }
}

void TThreadTimer::TimerWndProc(TMessage& Msg) {
    if (Msg.Msg == win::WM_TIMER) {
        try {
            Timer();
        } catch (...) {
            HandleApplicationException(std::current_exception());
        }
        Msg.Result = 0;
        return;
    }
    Msg.Result = win::DefWindowProc(FTimerWindow, Msg.Msg, Msg.WParam, Msg.LParam);
}
