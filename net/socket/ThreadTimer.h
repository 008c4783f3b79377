#pragma once
// TThreadTimer: the socket component's time-out timer.  A periodic platform
// timer (identifier 1) on the timer's own hidden window; it runs while
// Enabled, Interval != 0 and OnTimer is assigned.  The socket component
// stops it at the first tick, so there it acts once per countdown.

#include <cstdint>

#include "net/socket/NotifyWindows.h"
#include "platform/messages/Messages.h"
#include "runtime/Classes.h"
#include "runtime/TypInfo.h"

class TThreadTimer : public TComponent {
  public:
    // Enabled true, Interval 1000, no OnTimer, and a timer window; no
    // platform timer yet.
    explicit TThreadTimer(TComponent* AOwner);
    // Stops the timer and destroys the timer window.
    ~TThreadTimer() override;

    String ClassName() const override { return "TThreadTimer"; }
    // The published properties: Interval (default 1000), OnTimer, Enabled
    // (default true).
    static const TClassInfo* ClassProperties();

    // The setters store the value and re-create the platform timer, which
    // starts a fresh full period.  Enabled and Interval act only when the
    // value changes (setting the running value again keeps the countdown);
    // OnTimer acts on every assignment.  When the platform timer cannot be
    // made they raise Exception "No Timer" (the new value stays stored).
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool Value);
    std::uint32_t Interval() const { return FInterval; }  // ms; 0 = no timer
    void SetInterval(std::uint32_t Value);
    const TNotifyEvent& OnTimer() const { return FOnTimer; }
    void SetOnTimer(TNotifyEvent Value);

    win::HWND TimerWindow() const { return FTimerWindow; }

    // The timer's reaction to a message of its window: WM_TIMER runs Timer,
    // and an exception from it goes to the application's exception handler,
    // never further (result 0); any other message gets the default handling.
    void TimerWndProc(TMessage& Msg);

  protected:
    // Kills the platform timer and, when Interval != 0, Enabled and OnTimer
    // hold, creates it again.
    void UpdateTimer();
    // Fires OnTimer when assigned.
    virtual void Timer();

  private:
    std::uint32_t FInterval = 1000;
    win::HWND FTimerWindow = nullptr;
    TNotifyEvent FOnTimer;
    bool FEnabled = true;
};
