#include "platform/messages/Messages.h"

#include "platform/clock/FakeClock.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

using namespace win;
using namespace std::chrono_literals;

namespace {

struct Seen {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

std::vector<Seen> g_seen;
// Lets a test answer or act on a message; nullopt = default handling.
std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)> g_react;

LRESULT RecordingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    g_seen.push_back(Seen{h, m, w, l});
    if (g_react) {
        if (auto r = g_react(h, m, w, l)) {
            return *r;
        }
    }
    return DefWindowProc(h, m, w, l);
}

constexpr UINT kPass = 0xFFFF;  // marks the start of a ProcessMessages pass in a log

class MessagesTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (GetClassInfo(GetModuleHandle(nullptr), "RecordingWindow", nullptr)) {
            return;  // a repeated run
        }
        WNDCLASSA wc;
        wc.lpfnWndProc = &RecordingProc;
        wc.cbWndExtra = 2 * sizeof(LONG_PTR);
        wc.hInstance = GetModuleHandle(nullptr);
        wc.lpszClassName = "RecordingWindow";
        ASSERT_NE(RegisterClass(&wc), 0);
        wc.cbWndExtra = 0;
        wc.lpszClassName = "BareWindow";
        ASSERT_NE(RegisterClass(&wc), 0);
    }

    void TearDown() override {
        g_react = nullptr;
        for (HWND h : made_) {
            if (IsWindow(h)) {
                DestroyWindow(h);
            }
        }
        SetWaitSourcesObserver(nullptr);
        SetWaitFunction(nullptr);
        ProcessMessages();
        g_seen.clear();
    }

    // Creates a window and forgets the messages of its creation.
    HWND Make(DWORD style = WS_POPUP, HWND parent = nullptr, const char* cls = "RecordingWindow") {
        HWND h = Create(style, parent, cls);
        g_seen.clear();
        return h;
    }

    HWND Create(DWORD style = WS_POPUP, HWND parent = nullptr,
                const char* cls = "RecordingWindow") {
        HWND h = CreateWindowEx(0, cls, "title", style, 10, 20, 300, 200, parent, nullptr,
                                GetModuleHandle(nullptr), nullptr);
        if (h != nullptr) {
            made_.push_back(h);
        }
        return h;
    }

    static std::vector<UINT> Messages(HWND only = nullptr) {
        std::vector<UINT> out;
        for (auto& s : g_seen) {
            if (only == nullptr || s.hwnd == only || s.msg == kPass) {
                out.push_back(s.msg);
            }
        }
        return out;
    }

    static void Pass() {
        g_seen.push_back(Seen{nullptr, kPass, 0, 0});
        ProcessMessages();
    }

    static int Count(UINT msg) {
        int n = 0;
        for (auto& s : g_seen) {
            n += s.msg == msg;
        }
        return n;
    }

    std::vector<HWND> made_;
};

// ---- creation and destruction --------------------------------------------------

TEST_F(MessagesTest, CreationSendsItsMessagesInOrder) {
    struct Case {
        const char* name;
        DWORD style;
        bool child;
        UINT refuse;  // message answered with its failure value (0 = none)
        bool created;
        std::vector<UINT> expected;
    };
    const Case cases[] = {
        {"hidden popup", WS_POPUP, false, 0, true, {WM_GETMINMAXINFO, WM_NCCREATE, WM_CREATE}},
        {"visible popup",
         WS_POPUP | WS_VISIBLE,
         false,
         0,
         true,
         {WM_GETMINMAXINFO, WM_NCCREATE, WM_CREATE, WM_SHOWWINDOW}},
        {"child has no min-max query", WS_CHILD, true, 0, true, {WM_NCCREATE, WM_CREATE}},
        {"WM_NCCREATE refuses",
         WS_POPUP,
         false,
         WM_NCCREATE,
         false,
         {WM_GETMINMAXINFO, WM_NCCREATE, WM_NCDESTROY}},
        {"WM_CREATE refuses",
         WS_POPUP,
         false,
         WM_CREATE,
         false,
         {WM_GETMINMAXINFO, WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HWND parent = c.child ? Make() : nullptr;
        g_seen.clear();
        g_react = [&](HWND, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
            if (m == c.refuse) {
                return m == WM_CREATE ? -1 : 0;
            }
            return std::nullopt;
        };
        HWND h = Create(c.style, parent);
        EXPECT_EQ(h != nullptr, c.created);
        EXPECT_EQ(Messages(), c.expected);
        ASSERT_FALSE(g_seen.empty());
        // A refused window is gone; a created one lives.
        EXPECT_EQ(IsWindow(g_seen.front().hwnd) != 0, c.created);
        g_react = nullptr;
    }
}

TEST_F(MessagesTest, CreateParamsAndTitleReachTheWindow) {
    int marker = 7;
    void* seenParam = nullptr;
    g_react = [&](HWND, UINT m, WPARAM, LPARAM l) -> std::optional<LRESULT> {
        if (m == WM_CREATE) {
            seenParam = reinterpret_cast<CREATESTRUCTA*>(l)->lpCreateParams;
        }
        return std::nullopt;
    };
    HWND h = CreateWindowEx(0, "recordingwindow", "Курс", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            GetModuleHandle(nullptr), &marker);
    made_.push_back(h);
    ASSERT_NE(h, nullptr);  // class names ignore case
    EXPECT_EQ(seenParam, &marker);
    char buffer[64];
    EXPECT_EQ(GetWindowText(h, buffer, sizeof buffer), GetWindowTextLength(h));
    EXPECT_STREQ(buffer, "Курс");
    char small[3];
    EXPECT_EQ(GetWindowText(h, small, sizeof small), 2);  // cut, never overrun
}

TEST_F(MessagesTest, ClassRegistration) {
    WNDCLASSA wc;
    wc.lpfnWndProc = &RecordingProc;
    wc.lpszClassName = "RECORDINGWINDOW";
    EXPECT_EQ(RegisterClass(&wc), 0);
    EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
    wc.lpszClassName = "NoProcedure";
    wc.lpfnWndProc = nullptr;
    EXPECT_EQ(RegisterClass(&wc), 0);

    WNDCLASSA info;
    ASSERT_TRUE(GetClassInfo(GetModuleHandle(nullptr), "RecordingWindow", &info));
    EXPECT_EQ(info.lpfnWndProc, &RecordingProc);
    EXPECT_EQ(info.cbWndExtra, static_cast<int>(2 * sizeof(LONG_PTR)));
    EXPECT_STREQ(info.lpszClassName, "RecordingWindow");
    EXPECT_FALSE(GetClassInfo(GetModuleHandle(nullptr), "NoSuchClass", &info));
    EXPECT_EQ(
        CreateWindowEx(0, "NoSuchClass", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr),
        nullptr);
}

TEST_F(MessagesTest, DestroyWindowSendsDestroyThenNothingReachesIt) {
    HWND parent = Make();
    HWND child = Make(WS_CHILD, parent);
    SetTimer(parent, 1, 10, nullptr);
    PostMessage(parent, WM_USER, 0, 0);
    bool aliveDuringDestroy = false;
    BOOL nestedDestroy = TRUE;
    g_react = [&](HWND h, UINT m, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (h == parent && m == WM_DESTROY) {
            aliveDuringDestroy = IsWindow(parent);
            nestedDestroy = DestroyWindow(parent);  // already on its way: refused
        }
        return std::nullopt;
    };
    g_seen.clear();
    EXPECT_TRUE(DestroyWindow(parent));
    std::vector<std::pair<HWND, UINT>> order;
    for (auto& s : g_seen) {
        order.emplace_back(s.hwnd, s.msg);
    }
    const std::vector<std::pair<HWND, UINT>> expected = {
        {parent, WM_DESTROY}, {child, WM_DESTROY}, {child, WM_NCDESTROY}, {parent, WM_NCDESTROY}};
    EXPECT_EQ(order, expected);
    EXPECT_TRUE(aliveDuringDestroy);
    EXPECT_FALSE(nestedDestroy);
    EXPECT_FALSE(IsWindow(parent));
    EXPECT_FALSE(IsWindow(child));

    g_seen.clear();
    std::this_thread::sleep_for(20ms);  // the timer would be due by now
    ProcessMessages();
    EXPECT_EQ(SendMessage(parent, WM_USER, 0, 0), 0);
    EXPECT_FALSE(PostMessage(parent, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(DestroyWindow(parent));
    EXPECT_FALSE(GetTimerDueTime(parent, 1).has_value());
    EXPECT_TRUE(g_seen.empty());  // no queued post, no tick, no send
}

TEST_F(MessagesTest, CloseThroughDefaultHandlingDestroys) {
    HWND h = Make();
    PostMessage(h, WM_SYSCOMMAND, SC_CLOSE, 0);
    ProcessMessages();
    EXPECT_FALSE(IsWindow(h));
    const std::vector<UINT> expected = {WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY, WM_NCDESTROY};
    EXPECT_EQ(Messages(), expected);
}

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

// ---- window longs -------------------------------------------------------------------

TEST_F(MessagesTest, ExtraBytesArePointerSized) {
    struct Case {
        const char* cls;
        int offset;
        bool valid;
    };
    const int p = static_cast<int>(sizeof(LONG_PTR));
    const Case cases[] = {
        {"RecordingWindow", 0, true},      {"RecordingWindow", p, true},
        {"RecordingWindow", 4, true},      {"RecordingWindow", p + 1, false},
        {"RecordingWindow", 2 * p, false}, {"BareWindow", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.cls) + " @" + std::to_string(c.offset));
        HWND h = Make(WS_POPUP, nullptr, c.cls);
        ASSERT_NE(h, nullptr);
        SetLastError(0);
        EXPECT_EQ(GetWindowLongPtr(h, c.offset), 0);  // starts zeroed
        const LONG_PTR object = reinterpret_cast<LONG_PTR>(&cases);
        EXPECT_EQ(SetWindowLongPtr(h, c.offset, object), 0);
        EXPECT_EQ(GetWindowLongPtr(h, c.offset), c.valid ? object : 0);
        EXPECT_EQ(GetWindowLong(h, c.offset), c.valid ? object : 0);
        EXPECT_EQ(GetLastError(), c.valid ? 0u : ERROR_INVALID_INDEX);
        if (c.valid) {
            EXPECT_EQ(SetWindowLongPtr(h, c.offset, 5), object);  // the old value comes back
        }
        DestroyWindow(h);
    }
    HWND h = Make();
    SetWindowLongPtr(h, 0, -1);
    SetWindowLongPtr(h, p, 2);  // neighbours do not overlap
    EXPECT_EQ(GetWindowLongPtr(h, 0), -1);
    EXPECT_EQ(GetWindowLongPtr(h, p), 2);
    SetWindowLongPtr(h, GWLP_USERDATA, 77);
    EXPECT_EQ(GetWindowLongPtr(h, GWLP_USERDATA), 77);
    EXPECT_EQ(GetWindowLongPtr(h, -2), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);
    EXPECT_EQ(GetWindowLongPtr(reinterpret_cast<HWND>(0x42), 0), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

WNDPROC g_previous = nullptr;
std::vector<UINT> g_subclassSaw;
LRESULT SubclassProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    g_subclassSaw.push_back(m);
    if (m == WM_USER + 1) {
        return 42;  // consumed: the original never sees it
    }
    return CallWindowProc(g_previous, h, m, w, l);
}

TEST_F(MessagesTest, SubclassingThroughTheWindowProcedure) {
    HWND h = Make();
    g_subclassSaw.clear();
    g_previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtr(h, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProc)));
    EXPECT_EQ(g_previous, &RecordingProc);
    EXPECT_EQ(GetWindowLongPtr(h, GWLP_WNDPROC), reinterpret_cast<LONG_PTR>(&SubclassProc));
    g_seen.clear();
    EXPECT_EQ(SendMessage(h, WM_USER + 1, 0, 0), 42);
    PostMessage(h, WM_USER + 2, 0, 0);
    ProcessMessages();
    EXPECT_EQ(g_subclassSaw, (std::vector<UINT>{WM_USER + 1, WM_USER + 2}));
    EXPECT_EQ(Messages(h), std::vector<UINT>{WM_USER + 2});

    SetWindowLongPtr(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_previous));
    SendMessage(h, WM_USER + 1, 0, 0);
    EXPECT_EQ(g_subclassSaw.size(), 2u);
    EXPECT_EQ(Messages(h), (std::vector<UINT>{WM_USER + 2, WM_USER + 1}));
}

// ---- descriptors ----------------------------------------------------------------------

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0); }
    ~Pipe() {
        for (int fd : fds) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
    int Read() const { return fds[0]; }
    int Write() const { return fds[1]; }
};

TEST_F(MessagesTest, WatchedDescriptorWakesTheWaitAndCallsItsHandler) {
    Pipe p;
    HWND h = Make();
    std::vector<short> calls;
    WatchDescriptor(p.Read(), POLLIN, [&](int fd, short revents) {
        calls.push_back(revents);
        char c;
        while (read(fd, &c, 1) == 1) {
        }
        PostMessage(h, WM_USER, 0, 0);  // delivered in the same pass
    });
    EXPECT_FALSE(WaitMessage(0));
    ProcessMessages();
    EXPECT_TRUE(calls.empty());

    std::thread writer([&] {
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(write(p.Write(), "x", 1), 1);
    });
    EXPECT_TRUE(WaitMessage(30000));
    writer.join();
    ProcessMessages();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], POLLIN);
    EXPECT_EQ(Messages(h), std::vector<UINT>{WM_USER});

    // Paused: input waits unseen until the events are set again.
    SetDescriptorEvents(p.Read(), 0);
    EXPECT_EQ(write(p.Write(), "y", 1), 1);
    EXPECT_FALSE(WaitMessage(20));
    ProcessMessages();
    EXPECT_EQ(calls.size(), 1u);
    SetDescriptorEvents(p.Read(), POLLIN);
    EXPECT_TRUE(WaitMessage(0));
    ProcessMessages();
    EXPECT_EQ(calls.size(), 2u);

    UnwatchDescriptor(p.Read());
    EXPECT_EQ(write(p.Write(), "z", 1), 1);
    EXPECT_FALSE(WaitMessage(20));
    ProcessMessages();
    EXPECT_EQ(calls.size(), 2u);
}

TEST_F(MessagesTest, HangUpAndClosedDescriptors) {
    Pipe p;
    std::vector<short> calls;
    WatchDescriptor(p.Read(), POLLIN, [&](int, short revents) {
        calls.push_back(revents);
        UnwatchDescriptor(p.Read());  // a handler may drop its own watch
    });
    close(p.fds[1]);
    p.fds[1] = -1;
    EXPECT_TRUE(WaitMessage(5000));
    ProcessMessages();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0] & POLLHUP);
    EXPECT_TRUE(GetWaitSources().Descriptors.empty());

    // A descriptor closed behind the watch's back is reported once and dropped.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[1]);
    calls.clear();
    WatchDescriptor(fds[0], POLLIN, [&](int, short revents) { calls.push_back(revents); });
    close(fds[0]);
    ProcessMessages();
    ProcessMessages();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0] & POLLNVAL);
    EXPECT_TRUE(GetWaitSources().Descriptors.empty());
}

// ---- placement and metrics ---------------------------------------------------------------

TEST_F(MessagesTest, ShowCommandsAndPlacementState) {
    struct Step {
        int cmd;
        bool visible;
        bool iconic;
        bool zoomed;
        UINT showCmd;
        UINT flags;
    };
    const Step steps[] = {
        {SW_SHOW, true, false, false, SW_SHOWNORMAL, 0},
        {SW_MAXIMIZE, true, false, true, SW_SHOWMAXIMIZED, 0},
        {SW_MINIMIZE, true, true, false, SW_SHOWMINIMIZED, WPF_RESTORETOMAXIMIZED},
        {SW_RESTORE, true, false, true, SW_SHOWMAXIMIZED, 0},
        {SW_RESTORE, true, false, false, SW_SHOWNORMAL, 0},
        {SW_SHOWMINIMIZED, true, true, false, SW_SHOWMINIMIZED, 0},
        {SW_HIDE, false, true, false, SW_SHOWMINIMIZED, 0},
        {SW_SHOWNORMAL, true, false, false, SW_SHOWNORMAL, 0},
    };
    HWND h = Make();
    EXPECT_FALSE(IsWindowVisible(h));
    for (const auto& s : steps) {
        SCOPED_TRACE(s.cmd);
        ShowWindow(h, s.cmd);
        EXPECT_EQ(IsWindowVisible(h) != 0, s.visible);
        EXPECT_EQ(IsIconic(h) != 0, s.iconic);
        EXPECT_EQ(IsZoomed(h) != 0, s.zoomed);
        WINDOWPLACEMENT wp;
        ASSERT_TRUE(GetWindowPlacement(h, &wp));
        EXPECT_EQ(wp.showCmd, s.showCmd);
        EXPECT_EQ(wp.flags, s.flags);
        EXPECT_EQ(wp.rcNormalPosition.left, 10);
        EXPECT_EQ(wp.rcNormalPosition.bottom, 220);
    }
}

TEST_F(MessagesTest, ShowWindowSendsVisibilityAndSizeMessages) {
    HWND h = Make();
    g_seen.clear();
    EXPECT_FALSE(ShowWindow(h, SW_SHOWMAXIMIZED));
    EXPECT_TRUE(ShowWindow(h, SW_SHOWMAXIMIZED));  // no change, no message
    EXPECT_TRUE(ShowWindow(h, SW_HIDE));
    const std::vector<UINT> expected = {WM_SHOWWINDOW, WM_SIZE, WM_SHOWWINDOW};
    EXPECT_EQ(Messages(h), expected);
    EXPECT_EQ(g_seen[1].wParam, SIZE_MAXIMIZED);
    EXPECT_EQ(g_seen[2].wParam, static_cast<WPARAM>(FALSE));
}

TEST_F(MessagesTest, SetWindowPlacementRoundTrip) {
    HWND h = Make();
    WINDOWPLACEMENT wp;
    ASSERT_TRUE(GetWindowPlacement(h, &wp));
    EXPECT_EQ(wp.length, 44u);
    EXPECT_EQ(wp.ptMinPosition.x, -1);
    EXPECT_EQ(wp.ptMaxPosition.y, -1);

    wp.showCmd = SW_HIDE;  // applying a record to a hidden window keeps it hidden
    wp.rcNormalPosition = RECT{50, 60, 450, 360};
    wp.ptMaxPosition = POINT{-4, -4};
    wp.ptMinPosition = POINT{7, 8};
    wp.flags = 0;  // no WPF_SETMINPOSITION: the minimised position stays
    ASSERT_TRUE(SetWindowPlacement(h, &wp));
    EXPECT_FALSE(IsWindowVisible(h));
    WINDOWPLACEMENT back;
    ASSERT_TRUE(GetWindowPlacement(h, &back));
    EXPECT_EQ(back.rcNormalPosition.left, 50);
    EXPECT_EQ(back.rcNormalPosition.right, 450);
    EXPECT_EQ(back.ptMaxPosition.x, -4);
    EXPECT_EQ(back.ptMinPosition.x, -1);
    RECT r;
    ASSERT_TRUE(GetWindowRect(h, &r));
    EXPECT_EQ(r.top, 60);

    wp.flags = WPF_SETMINPOSITION;
    wp.showCmd = SW_SHOWMINIMIZED;
    ASSERT_TRUE(SetWindowPlacement(h, &wp));
    ASSERT_TRUE(GetWindowPlacement(h, &back));
    EXPECT_EQ(back.ptMinPosition.y, 8);
    EXPECT_TRUE(IsIconic(h));

    wp.length = 40;
    EXPECT_FALSE(SetWindowPlacement(h, &wp));
    back.length = 0;
    EXPECT_FALSE(GetWindowPlacement(h, &back));
    EXPECT_EQ(GetLastError(), 87u);  // ERROR_INVALID_PARAMETER
}

// Each window's system menu is its own record: greying an item of one
// window leaves the other's alone, items are found by command and by
// position, the separator has no command, and the handle dies with the window.
TEST_F(MessagesTest, EachWindowHasASystemMenuWhoseItemsCanBeGreyed) {
    HWND a = Make(WS_OVERLAPPEDWINDOW);
    HWND b = Make(WS_OVERLAPPEDWINDOW);
    HMENU menuA = GetSystemMenu(a, FALSE);
    HMENU menuB = GetSystemMenu(b, FALSE);
    ASSERT_NE(menuA, nullptr);
    ASSERT_NE(menuB, nullptr);
    EXPECT_NE(menuA, menuB);
    EXPECT_EQ(GetSystemMenu(a, FALSE), menuA);
    EXPECT_EQ(GetMenuItemCount(menuA), 7);

    struct Case {
        UINT item;
        UINT how;
        UINT enable;
        UINT returned;  // the bits the item had
    };
    const Case cases[] = {
        {UINT(SC_SIZE), MF_BYCOMMAND, MF_GRAYED, MF_ENABLED},
        {UINT(SC_SIZE), MF_BYCOMMAND, MF_GRAYED, MF_GRAYED},
        {4, MF_BYPOSITION, MF_GRAYED | MF_DISABLED, MF_ENABLED},  // Maximize
        {UINT(SC_MAXIMIZE), MF_BYCOMMAND, MF_GRAYED, MF_GRAYED | MF_DISABLED},
        {UINT(SC_CLOSE), MF_BYCOMMAND, MF_DISABLED, MF_ENABLED},
        {UINT(SC_CLOSE), MF_BYCOMMAND, MF_ENABLED, MF_DISABLED},
        {7, MF_BYPOSITION, MF_GRAYED, kMenuItemNotFound},
        {0, MF_BYCOMMAND, MF_GRAYED, kMenuItemNotFound},  // the separator is no command
        {0xF100, MF_BYCOMMAND, MF_GRAYED, kMenuItemNotFound},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EnableMenuItem(menuA, c.item, c.how | c.enable), c.returned)
            << std::hex << c.item << " " << c.how << " " << c.enable;
    }
    EXPECT_EQ(GetMenuState(menuA, UINT(SC_SIZE), MF_BYCOMMAND), MF_GRAYED);
    EXPECT_EQ(GetMenuState(menuA, UINT(SC_MAXIMIZE), MF_BYCOMMAND), MF_GRAYED);
    EXPECT_EQ(GetMenuState(menuA, UINT(SC_MOVE), MF_BYCOMMAND), MF_ENABLED);
    EXPECT_EQ(GetMenuState(menuA, 5, MF_BYPOSITION), MF_SEPARATOR);
    EXPECT_EQ(GetMenuState(menuB, UINT(SC_SIZE), MF_BYCOMMAND), MF_ENABLED);

    EXPECT_EQ(GetSystemMenu(a, TRUE), nullptr);  // back to the defaults
    EXPECT_EQ(GetMenuState(menuA, UINT(SC_SIZE), MF_BYCOMMAND), MF_ENABLED);

    DestroyWindow(a);
    EXPECT_EQ(EnableMenuItem(menuA, UINT(SC_SIZE), MF_GRAYED), kMenuItemNotFound);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_MENU_HANDLE);
    EXPECT_EQ(GetMenuItemCount(menuA), -1);
    EXPECT_EQ(GetSystemMenu(a, FALSE), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(GetMenuState(nullptr, UINT(SC_SIZE), MF_BYCOMMAND), kMenuItemNotFound);
}

TEST_F(MessagesTest, SystemMetricsFollowTheScreen) {
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
    EXPECT_EQ(GetScreenMetrics().PixelsPerInch, 96);
    EXPECT_GT(GetSystemMetrics(SM_CXFRAME), 0);
    EXPECT_GT(GetSystemMetrics(SM_CYDLGFRAME), 0);
    EXPECT_EQ(GetSystemMetrics(SM_CXBORDER), 1);
    EXPECT_EQ(GetSystemMetrics(9999), 0);
    SetScreenMetrics(ScreenMetrics{1920, 1080, 120});
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1920);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 1080);
    EXPECT_EQ(GetScreenMetrics().PixelsPerInch, 120);
    SetScreenMetrics(ScreenMetrics{});
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    EXPECT_NE(GetModuleHandle(nullptr), nullptr);
    EXPECT_EQ(GetModuleHandle("other.dll"), nullptr);
}

// ---- backend hook ---------------------------------------------------------------------------

TEST_F(MessagesTest, BackendSeesWaitSourcesAndMayReplaceTheWait) {
    Pipe p;
    HWND h = Make();
    int changes = 0;
    SetWaitSourcesObserver([&] { ++changes; });
    WatchDescriptor(p.Read(), POLLIN, [](int, short) {});
    EXPECT_EQ(changes, 1);
    SetDescriptorEvents(p.Read(), POLLIN | POLLOUT);
    SetDescriptorEvents(p.Read(), POLLIN | POLLOUT);  // unchanged: not reported
    EXPECT_EQ(changes, 2);
    SetTimer(h, 1, 5000, nullptr);
    EXPECT_EQ(changes, 3);

    WaitSources sources = GetWaitSources();
    EXPECT_GE(sources.WakeFd, 0);
    ASSERT_EQ(sources.Descriptors.size(), 1u);
    EXPECT_EQ(sources.Descriptors[0].first, p.Read());
    EXPECT_EQ(sources.Descriptors[0].second, POLLIN | POLLOUT);
    ASSERT_TRUE(sources.NextTimer.has_value());
    EXPECT_EQ(*sources.NextTimer, *GetTimerDueTime(h, 1));

    KillTimer(h, 1);
    UnwatchDescriptor(p.Read());
    EXPECT_EQ(changes, 5);
    EXPECT_FALSE(GetWaitSources().NextTimer.has_value());

    // A post makes the wake descriptor readable for a foreign loop.
    PostMessage(h, WM_USER, 0, 0);
    pollfd wake{sources.WakeFd, POLLIN, 0};
    EXPECT_EQ(poll(&wake, 1, 0), 1);
    ProcessMessages();

    std::vector<int> asked;
    SetWaitFunction([&](int timeoutMs) {
        asked.push_back(timeoutMs);
        return asked.size() == 2;  // the second call reports activity
    });
    SetTimer(h, 1, 5000, nullptr);
    EXPECT_TRUE(WaitMessage(100));
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_GT(asked[0], 0);
    EXPECT_LE(asked[0], 100);  // bounded by the caller's time-out, then the timer
    EXPECT_FALSE(WaitMessage(0));
    KillTimer(h, 1);
}

// ---- a clock that skips idle time -------------------------------------------------------------

TEST_F(MessagesTest, AFakeClockSkipsToTheNextTimerOnlyWhenNothingElseIsReady) {
    clocks::ScopedFakeClock clock;
    Pipe p;
    HWND h = Make();
    std::vector<short> calls;
    WatchDescriptor(p.Read(), POLLIN, [&](int fd, short revents) {
        calls.push_back(revents);
        char c;
        while (read(fd, &c, 1) == 1) {
        }
    });

    // Input that is there wins: the clock stays where it is.
    ASSERT_EQ(SetTimer(h, 1, 60000, nullptr), 1u);
    EXPECT_EQ(write(p.Write(), "x", 1), 1);
    EXPECT_TRUE(WaitMessage(-1));
    ProcessMessages();
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(Count(WM_TIMER), 0);
    EXPECT_LT(clock.Skipped(), 1s);

    // Nothing but the timer: the wait, even a bounded one, skips to it.
    const auto due = *GetTimerDueTime(h, 1);
    EXPECT_TRUE(WaitMessage(10));
    EXPECT_GE(clocks::Now(), due);
    EXPECT_GT(clock.Skipped(), 50s);
    ProcessMessages();
    EXPECT_EQ(Count(WM_TIMER), 1);
    KillTimer(h, 1);

    // Without a timer the wait is a real one, and the clock only runs.
    const auto skipped = clock.Skipped();
    EXPECT_FALSE(WaitMessage(20));
    EXPECT_EQ(clock.Skipped(), skipped);
    UnwatchDescriptor(p.Read());
}

}  // namespace
