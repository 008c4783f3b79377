#include "net/socket/ThreadTimer.h"

#include <chrono>
#include <exception>
#include <memory>

#include <gtest/gtest.h>

#include "platform/clock/FakeClock.h"
#include "runtime/ExceptionHook.h"
#include "runtime/Exceptions.h"

using namespace win;
using namespace std::chrono_literals;

namespace {

bool Running(const TThreadTimer& t) {
    return GetTimerDueTime(t.TimerWindow(), 1).has_value();
}

std::chrono::steady_clock::time_point Due(const TThreadTimer& t) {
    return GetTimerDueTime(t.TimerWindow(), 1).value();
}

// Dispatches until `done` holds or many waits have passed.
template <typename Pred>
void DispatchUntil(Pred done) {
    for (int i = 0; i < 500 && !done(); ++i) {
        WaitMessage(1000);
        ProcessMessages();
    }
}

TEST(ThreadTimer, StartsEnabledWithOneSecondAndNoPlatformTimer) {
    TThreadTimer t(nullptr);
    EXPECT_TRUE(t.Enabled());
    EXPECT_EQ(t.Interval(), 1000u);
    EXPECT_FALSE(t.OnTimer());
    ASSERT_TRUE(IsWindow(t.TimerWindow()));
    EXPECT_EQ(GetWindowLong(t.TimerWindow(), 0), reinterpret_cast<LONG_PTR>(&t));
    EXPECT_FALSE(Running(t));
    EXPECT_EQ(t.ClassName(), "TThreadTimer");
}

TEST(ThreadTimer, PublishesIntervalOnTimerAndEnabled) {
    TThreadTimer t(nullptr);
    std::vector<String> names;
    for (const TPropInfo* p : GetPropList(&t)) {
        names.push_back(p->Name());
    }
    EXPECT_EQ(names, (std::vector<String>{"Enabled", "Interval", "OnTimer"}));
    const TPropInfo* interval = GetPropInfo(&t, "interval");
    ASSERT_NE(interval, nullptr);
    EXPECT_EQ(interval->Default(), 1000);
    interval->SetOrd(&t, 250);  // through the setter, with its rules
    EXPECT_EQ(t.Interval(), 250u);
    EXPECT_EQ(GetPropInfo(&t, "Enabled")->Default(), 1);
    EXPECT_FALSE(GetPropInfo(&t, "OnTimer")->IsAssigned(&t));
    t.SetOnTimer([](TObject*) {});
    EXPECT_TRUE(GetPropInfo(&t, "OnTimer")->IsAssigned(&t));
}

TEST(ThreadTimer, PlatformTimerRunsOnlyWithIntervalEnabledAndHandler) {
    struct Case {
        std::uint32_t interval;
        bool enabled;
        bool handler;
        bool running;
    };
    const Case cases[] = {
        {1000, true, true, true},   {0, true, true, false},   {1000, false, true, false},
        {1000, true, false, false}, {0, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.interval << " " << c.enabled << " " << c.handler);
        TThreadTimer t(nullptr);
        t.SetInterval(c.interval);
        t.SetEnabled(c.enabled);
        t.SetOnTimer(c.handler ? TNotifyEvent([](TObject*) {}) : TNotifyEvent());
        EXPECT_EQ(Running(t), c.running);
    }
}

TEST(ThreadTimer, TicksUntilDisabledAndNeverAfter) {
    clocks::ScopedFakeClock clock;
    TThreadTimer t(nullptr);
    int ticks = 0;
    TObject* sender = nullptr;
    t.SetInterval(10);
    t.SetOnTimer([&](TObject* s) {
        ++ticks;
        sender = s;
    });
    DispatchUntil([&] { return ticks >= 3; });
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(sender, &t);

    // Let a tick fall due undispatched, then disable: it must not arrive.
    clock.Advance(30ms);
    t.SetEnabled(false);
    ProcessMessages();
    EXPECT_FALSE(WaitMessage(50));
    ProcessMessages();
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(Running(t));
}

TEST(ThreadTimer, IntervalZeroStopsARunningTimer) {
    clocks::ScopedFakeClock clock;
    TThreadTimer t(nullptr);
    int ticks = 0;
    t.SetInterval(10);
    t.SetOnTimer([&](TObject*) { ++ticks; });
    clock.Advance(30ms);
    t.SetInterval(0);
    ProcessMessages();
    EXPECT_EQ(ticks, 0);
    EXPECT_FALSE(Running(t));
}

TEST(ThreadTimer, OnlyChangesRestartTheCountdown) {
    clocks::ScopedFakeClock clock;
    TThreadTimer t(nullptr);
    t.SetInterval(10000);
    t.SetOnTimer([](TObject*) {});
    const auto first = Due(t);
    clock.Advance(20ms);

    t.SetEnabled(true);  // unchanged: keeps its first start
    EXPECT_EQ(Due(t), first);
    t.SetInterval(10000);
    EXPECT_EQ(Due(t), first);

    t.SetOnTimer([](TObject*) {});  // every assignment restarts the period
    const auto second = Due(t);
    EXPECT_GE(second - first, 20ms);

    clock.Advance(20ms);
    t.SetInterval(10001);  // a changed value restarts it too
    EXPECT_GE(Due(t) - second, 20ms);
}

TEST(ThreadTimer, ExceptionFromOnTimerGoesToTheApplicationHandler) {
    std::vector<String> reported;
    SetApplicationExceptionHandler([&](std::exception_ptr e) {
        try {
            std::rethrow_exception(e);
        } catch (const Exception& ex) {
            reported.push_back(ex.Message());
        }
    });
    clocks::ScopedFakeClock clock;
    TThreadTimer t(nullptr);
    int ticks = 0;
    t.SetInterval(10);
    t.SetOnTimer([&](TObject*) {
        ++ticks;
        throw Exception("tick failed");
    });
    EXPECT_NO_THROW(DispatchUntil([&] { return ticks >= 2; }));
    SetApplicationExceptionHandler(nullptr);
    EXPECT_EQ(ticks, 2);
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[0], "tick failed");
    EXPECT_TRUE(Running(t));  // the timer goes on ticking
}

TEST(ThreadTimer, NoTimerWhenThePlatformTimerCannotBeMade) {
    TThreadTimer t(nullptr);
    DestroyWindow(t.TimerWindow());  // a timer without a window
    try {
        t.SetOnTimer([](TObject*) {});
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "No Timer");
    }
    EXPECT_TRUE(t.OnTimer());  // the value stays stored
    EXPECT_NO_THROW(t.SetEnabled(false));
    EXPECT_THROW(t.SetEnabled(true), Exception);
    EXPECT_NO_THROW(t.SetInterval(0));  // Interval 0 asks for no timer
}

TEST(ThreadTimer, TwoTimersTickOnlyTheirOwnHandlers) {
    clocks::ScopedFakeClock clock;
    TThreadTimer a(nullptr), b(nullptr);
    int ticksA = 0, ticksB = 0;
    a.SetInterval(10);
    a.SetOnTimer([&](TObject*) { ++ticksA; });
    b.SetInterval(10000);
    b.SetOnTimer([&](TObject*) { ++ticksB; });
    EXPECT_NE(a.TimerWindow(), b.TimerWindow());
    DispatchUntil([&] { return ticksA >= 2; });
    EXPECT_EQ(ticksA, 2);
    EXPECT_EQ(ticksB, 0);
}

TEST(ThreadTimer, DestructionStopsTheTimerAndDestroysItsWindow) {
    clocks::ScopedFakeClock clock;
    HWND window;
    int ticks = 0;
    {
        TThreadTimer t(nullptr);
        window = t.TimerWindow();
        t.SetInterval(10);
        t.SetOnTimer([&](TObject*) { ++ticks; });
        clock.Advance(30ms);  // a tick falls due
    }
    EXPECT_FALSE(IsWindow(window));
    ProcessMessages();
    EXPECT_EQ(ticks, 0);

    // Freed by its own tick, as an owner may do on a time-out.
    auto* owned = new TThreadTimer(nullptr);
    owned->SetInterval(10);
    owned->SetOnTimer([&](TObject* sender) {
        ++ticks;
        delete static_cast<TThreadTimer*>(sender);
        owned = nullptr;
    });
    DispatchUntil([&] { return owned == nullptr; });
    EXPECT_EQ(ticks, 1);
}

TEST(ThreadTimer, OwnerFreesItsTimer) {
    auto owner = std::make_unique<TComponent>(nullptr);
    auto* t = new TThreadTimer(owner.get());
    HWND window = t->TimerWindow();
    EXPECT_EQ(owner->ComponentCount(), 1);
    owner.reset();
    EXPECT_FALSE(IsWindow(window));
}

}  // namespace
