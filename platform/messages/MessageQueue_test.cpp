// Delivery order of sent and posted messages, and posts from other threads.

#include "platform/messages/MessagesTestFixture.h"

#include <chrono>
#include <thread>

using namespace win;
using namespace messages_test;
using namespace std::chrono_literals;

namespace {

// ---- delivery order ----------------------------------------------------------------

TEST_F(MessagesTest, DeliveryOrder) {
    struct Case {
        const char* name;
        // Runs before the two passes; may set g_react.
        std::function<void(HWND a, HWND b)> setup;
        std::vector<UINT> expected;  // kPass marks the start of each pass
    };
    const UINT m1 = WM_USER + 1, m2 = WM_USER + 2, m3 = WM_USER + 3;
    const Case cases[] = {
        {"posts arrive in order",
         [&](HWND a, HWND) {
             PostMessage(a, m1, 0, 0);
             PostMessage(a, m2, 0, 0);
             PostMessage(a, m3, 0, 0);
         },
         {kPass, m1, m2, m3, kPass}},
        {"a send bypasses the queue",
         [&](HWND a, HWND) {
             PostMessage(a, m1, 0, 0);
             SendMessage(a, m2, 0, 0);
         },
         {m2, kPass, m1, kPass}},
        {"a post made while delivering waits for the next pass",
         [&](HWND a, HWND) {
             PostMessage(a, m1, 0, 0);
             PostMessage(a, m2, 0, 0);
             g_react = [=](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
                 if (m == m1) {
                     PostMessage(h, m3, 0, 0);
                 }
                 return std::nullopt;
             };
         },
         {kPass, m1, m2, kPass, m3}},
        {"a send made while delivering is nested",
         [&](HWND a, HWND) {
             PostMessage(a, m1, 0, 0);
             PostMessage(a, m2, 0, 0);
             g_react = [=](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
                 if (m == m1) {
                     SendMessage(h, m3, 0, 0);
                 }
                 return std::nullopt;
             };
         },
         {kPass, m1, m3, m2, kPass}},
        {"a due tick comes after the posted messages",
         [&](HWND a, HWND) {
             SetTimer(a, 5, 10, nullptr);
             std::this_thread::sleep_for(30ms);
             PostMessage(a, m1, 0, 0);
             g_react = [=](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
                 if (m == WM_TIMER) {
                     KillTimer(h, 5);
                 }
                 return std::nullopt;
             };
         },
         {kPass, m1, WM_TIMER, kPass}},
        {"posts to a window destroyed on the way are dropped",
         [&](HWND a, HWND b) {
             PostMessage(a, m1, 0, 0);
             PostMessage(b, m2, 0, 0);
             PostMessage(a, m3, 0, 0);
             g_react = [=](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
                 if (m == m1) {
                     DestroyWindow(b);
                 }
                 return std::nullopt;
             };
         },
         {kPass, m1, WM_DESTROY, WM_NCDESTROY, m3, kPass}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HWND a = Make();
        HWND b = Make();
        g_seen.clear();
        c.setup(a, b);
        Pass();
        Pass();
        EXPECT_EQ(Messages(), c.expected);
        g_react = nullptr;
        DestroyWindow(a);
        DestroyWindow(b);
        ProcessMessages();
    }
}

TEST_F(MessagesTest, ProcedureThatRaisesLeavesTheRestQueued) {
    HWND h = Make();
    PostMessage(h, WM_USER + 1, 0, 0);
    PostMessage(h, WM_USER + 2, 0, 0);
    g_react = [](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (m == WM_USER + 1) {
            throw std::runtime_error("boom");
        }
        return std::nullopt;
    };
    EXPECT_THROW(ProcessMessages(), std::runtime_error);
    EXPECT_TRUE(WaitMessage(0));
    ProcessMessages();
    const std::vector<UINT> expected = {WM_USER + 1, WM_USER + 2};
    EXPECT_EQ(Messages(h), expected);
}

// ---- threads -----------------------------------------------------------------------

TEST_F(MessagesTest, PostFromAnotherThreadWakesWaitMessage) {
    HWND h = Make();
    std::thread poster([h] {
        std::this_thread::sleep_for(50ms);
        PostMessage(h, WM_USER + 7, 1, 2);
    });
    const bool woke = WaitMessage(30000);
    poster.join();
    EXPECT_TRUE(woke);
    ProcessMessages();
    ASSERT_EQ(Messages(h), std::vector<UINT>{WM_USER + 7});
    EXPECT_FALSE(WaitMessage(0));  // the wake-up is consumed; nothing is left
}

TEST_F(MessagesTest, PostsFromManyThreadsArriveOnceInTheirOrder) {
    HWND h = Make();
    constexpr int kThreads = 4, kEach = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([h, t] {
            for (int i = 0; i < kEach; ++i) {
                PostMessage(h, WM_USER, static_cast<WPARAM>(t), i);
            }
        });
    }
    std::vector<int> next(kThreads, 0);
    int total = 0;
    bool inOrder = true;
    g_react = [&](HWND, UINT m, WPARAM w, LPARAM l) -> std::optional<LRESULT> {
        if (m == WM_USER) {
            inOrder = inOrder && l == next[w];
            next[w] = static_cast<int>(l) + 1;
            ++total;
        }
        return 0;
    };
    for (int i = 0; i < 100000 && total < kThreads * kEach; ++i) {
        WaitMessage(1000);
        ProcessMessages();
    }
    for (auto& th : threads) {
        th.join();
    }
    ProcessMessages();
    EXPECT_EQ(total, kThreads * kEach);
    EXPECT_TRUE(inOrder);
}

TEST_F(MessagesTest, QueueAndTimersHaveQuotas) {
    HWND h = Make();
    int accepted = 0;
    while (PostMessage(h, WM_USER, 0, 0) && accepted < 20000) {
        ++accepted;
    }
    EXPECT_EQ(accepted, 10000);
    EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_QUOTA);
    ProcessMessages();
    EXPECT_EQ(Count(WM_USER), 10000);
    EXPECT_TRUE(PostMessage(h, WM_USER, 0, 0));  // room again

    UINT_PTR made = 0;
    while (SetTimer(h, made + 1, 60000, nullptr) != 0 && made < 20000) {
        ++made;
    }
    EXPECT_EQ(made, 10000u);
    EXPECT_EQ(GetLastError(), ERROR_NO_SYSTEM_RESOURCES);
    EXPECT_NE(SetTimer(h, 1, 60000, nullptr), 0u);  // resetting one still works
    DestroyWindow(h);                               // takes its timers along
    HWND other = Make();
    EXPECT_NE(SetTimer(other, 1, 60000, nullptr), 0u);
}

}  // namespace
