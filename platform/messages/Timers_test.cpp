// Timers: ticks, coalescing, stale ticks, periods and timer procedures.

#include "platform/messages/MessagesTestFixture.h"

#include <chrono>
#include <thread>

using namespace win;
using namespace messages_test;
using namespace std::chrono_literals;

namespace {

// ---- timers ------------------------------------------------------------------------

TEST_F(MessagesTest, TimerTicksUntilKilled) {
    HWND h = Make();
    ASSERT_EQ(SetTimer(h, 3, 10, nullptr), 3u);
    EXPECT_TRUE(WaitMessage(30000));  // the due timer alone ends the wait
    for (int i = 0; i < 500 && Count(WM_TIMER) < 3; ++i) {
        WaitMessage(1000);
        ProcessMessages();
    }
    ASSERT_EQ(Count(WM_TIMER), 3);
    for (auto& s : g_seen) {
        if (s.msg == WM_TIMER) {
            EXPECT_EQ(s.wParam, 3u);
        }
    }
    EXPECT_TRUE(KillTimer(h, 3));
    EXPECT_FALSE(KillTimer(h, 3));
    EXPECT_FALSE(WaitMessage(50));
    ProcessMessages();
    EXPECT_EQ(Count(WM_TIMER), 3);
}

TEST_F(MessagesTest, MissedTicksCoalesceIntoOnePerTimer) {
    HWND h = Make();
    SetTimer(h, 1, 10, nullptr);
    SetTimer(h, 2, 10, nullptr);
    std::this_thread::sleep_for(120ms);  // a dozen periods pass undispatched
    ProcessMessages();
    std::vector<WPARAM> ids;
    for (auto& s : g_seen) {
        if (s.msg == WM_TIMER) {
            ids.push_back(s.wParam);
        }
    }
    EXPECT_EQ(ids, (std::vector<WPARAM>{1, 2}));
    // The next due time lies ahead, not in the missed past.
    EXPECT_GT(*GetTimerDueTime(h, 1), std::chrono::steady_clock::now() - 1ms);
}

TEST_F(MessagesTest, NoStaleTick) {
    struct Case {
        const char* name;
        std::function<void(HWND)> beforePass;
        bool killInEarlierMessage;
        bool resetInEarlierMessage;
    };
    const Case cases[] = {
        {"killed after it fell due", [](HWND h) { KillTimer(h, 1); }, false, false},
        {"killed by a message delivered before the tick", nullptr, true, false},
        {"set anew by a message delivered before the tick", nullptr, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HWND h = Make();
        g_seen.clear();
        SetTimer(h, 1, 10, nullptr);
        PostMessage(h, WM_USER, 0, 0);
        g_react = [&](HWND w, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
            if (m == WM_USER && c.killInEarlierMessage) {
                KillTimer(w, 1);
            }
            if (m == WM_USER && c.resetInEarlierMessage) {
                SetTimer(w, 1, 10000, nullptr);
            }
            return std::nullopt;
        };
        std::this_thread::sleep_for(30ms);
        if (c.beforePass) {
            c.beforePass(h);
        }
        ProcessMessages();
        ProcessMessages();
        EXPECT_EQ(Count(WM_TIMER), 0);
        g_react = nullptr;
        DestroyWindow(h);
    }
}

TEST_F(MessagesTest, SettingATimerAgainRestartsItsPeriod) {
    HWND h = Make();
    SetTimer(h, 1, 10000, nullptr);
    auto first = *GetTimerDueTime(h, 1);
    std::this_thread::sleep_for(20ms);
    auto before = std::chrono::steady_clock::now();
    SetTimer(h, 1, 10000, nullptr);
    auto second = *GetTimerDueTime(h, 1);
    EXPECT_GE(second, before + 10000ms);
    EXPECT_GE(second - first, 20ms);
}

std::vector<UINT_PTR> g_procTicks;
void TickProc(HWND, UINT msg, UINT_PTR id, DWORD) {
    if (msg == WM_TIMER) {
        g_procTicks.push_back(id);
    }
}

TEST_F(MessagesTest, TimerProcedures) {
    g_procTicks.clear();
    UINT_PTR id = SetTimer(nullptr, 0, 10, &TickProc);
    ASSERT_NE(id, 0u);
    HWND h = Make();
    SetTimer(h, 9, 10, &TickProc);  // the procedure replaces WM_TIMER to the window
    for (int i = 0; i < 500 && g_procTicks.size() < 4; ++i) {
        WaitMessage(1000);
        ProcessMessages();
    }
    KillTimer(nullptr, id);
    KillTimer(h, 9);
    EXPECT_GE(g_procTicks.size(), 4u);
    for (UINT_PTR t : g_procTicks) {
        EXPECT_TRUE(t == id || t == 9u);
    }
    EXPECT_EQ(Count(WM_TIMER), 0);
    EXPECT_EQ(SetTimer(nullptr, 0, 10, nullptr), 0u);
    EXPECT_EQ(SetTimer(reinterpret_cast<HWND>(0x42), 1, 10, nullptr), 0u);
}

}  // namespace
