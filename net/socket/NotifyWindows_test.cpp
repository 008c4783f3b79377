#include "net/socket/NotifyWindows.h"

#include <vector>

#include <gtest/gtest.h>

#include "net/socket/ThreadTimer.h"

using namespace win;

namespace {

class RecordingTarget : public TAsyncMessageTarget {
  public:
    void HandleAsyncMessage(TMessage& Msg) override {
        got.push_back(Msg);
        Msg.Result = answer;
    }
    std::vector<TMessage> got;
    LRESULT answer = 0;
};

struct Window {
    HWND h;
    explicit Window(HWND hwnd) : h(hwnd) {}
    ~Window() {
        if (IsWindow(h)) {
            DestroyWindow(h);
        }
    }
};

TEST(NotifyWindows, ClassRecordsAreRegisteredOnceAsDescribed) {
    RecordingTarget a, b;
    Window wa(AllocateSocketWindow(&a));
    Window wb(AllocateSocketWindow(&b));
    TThreadTimer timer(nullptr);
    ASSERT_NE(wa.h, nullptr);
    ASSERT_NE(wb.h, nullptr);
    EXPECT_NE(wa.h, wb.h);

    struct Case {
        const char* name;
        WNDPROC proc;
    };
    const Case cases[] = {{"PsockWindowClass", &SocketWindowProc},
                          {"TmrWindowClass", &TimerWindowProc}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WNDCLASSA info;
        ASSERT_TRUE(GetClassInfo(GetModuleHandle(nullptr), c.name, &info));
        EXPECT_EQ(info.style, 0u);
        EXPECT_EQ(info.lpfnWndProc, c.proc);
        EXPECT_EQ(info.cbClsExtra, 0);
        EXPECT_EQ(info.cbWndExtra, static_cast<int>(sizeof(void*)));  // an object reference fits
        EXPECT_EQ(info.hInstance, GetModuleHandle(nullptr));
        EXPECT_EQ(info.hIcon, nullptr);
        EXPECT_EQ(info.hbrBackground, nullptr);
    }
    // The windows are hidden tool windows with an empty title.
    EXPECT_EQ(GetWindowLongPtr(wa.h, GWL_EXSTYLE), static_cast<LONG_PTR>(WS_EX_TOOLWINDOW));
    EXPECT_EQ(GetWindowLongPtr(wa.h, GWL_STYLE), static_cast<LONG_PTR>(WS_POPUP));
    EXPECT_EQ(GetWindowTextLength(wa.h), 0);
    EXPECT_EQ(GetWindowLongPtr(wa.h, 0), reinterpret_cast<LONG_PTR>(&a));
}

TEST(NotifyWindows, EachNotificationReachesOnlyItsOwnTarget) {
    RecordingTarget a, b;
    Window wa(AllocateSocketWindow(&a));
    Window wb(AllocateSocketWindow(&b));
    const LPARAM connectFailed = MAKELPARAM(16, 10061);
    const LPARAM lookupDone = MAKELPARAM(1024, 0);
    PostMessage(wa.h, SocketEvent, 3, connectFailed);
    PostMessage(wb.h, HostLookupReply, 9, lookupDone);
    PostMessage(wa.h, SocketEvent, 3, MAKELPARAM(1, 0));
    ProcessMessages();

    ASSERT_EQ(a.got.size(), 2u);
    EXPECT_EQ(a.got[0].Msg, SocketEvent);
    EXPECT_EQ(a.got[0].WParam, 3u);
    EXPECT_EQ(LOWORD(a.got[0].LParam), 16);
    EXPECT_EQ(HIWORD(a.got[0].LParam), 10061);
    EXPECT_EQ(a.got[0].Result, 0);  // the record starts with result 0
    EXPECT_EQ(LOWORD(a.got[1].LParam), 1);
    ASSERT_EQ(b.got.size(), 1u);
    EXPECT_EQ(b.got[0].Msg, HostLookupReply);
    EXPECT_EQ(b.got[0].LParam, lookupDone);
}

TEST(NotifyWindows, SocketWindowRoutesFromSocketEventUp) {
    struct Case {
        UINT msg;
        bool routed;
        LRESULT result;  // with the target answering 5
    };
    const Case cases[] = {
        {SocketEvent, true, 5},
        {HostLookupReply, true, 5},
        {WM_USER + 103, true, 5},
        {WM_USER + 100, false, 0},
        {WM_QUERYENDSESSION, false, TRUE},  // default handling answers
                                            // TRUE
        {WM_TIMER, false, 0},
    };
    RecordingTarget t;
    t.answer = 5;
    Window w(AllocateSocketWindow(&t));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.msg);
        t.got.clear();
        EXPECT_EQ(SendMessage(w.h, c.msg, 0, 0), c.result);
        EXPECT_EQ(t.got.size(), c.routed ? 1u : 0u);
    }
}

TEST(NotifyWindows, NotificationBeforeTheObjectIsStoredGetsDefaultHandling) {
    RecordingTarget t;
    Window w(AllocateSocketWindow(nullptr));  // as during creation: nothing stored yet
    ASSERT_NE(w.h, nullptr);
    EXPECT_EQ(SendMessage(w.h, SocketEvent, 0, MAKELPARAM(1, 0)), 0);
    PostMessage(w.h, HostLookupReply, 0, 0);
    ProcessMessages();
    // Stored now: later notifications arrive, the early ones stay lost.
    SetWindowLong(w.h, 0, reinterpret_cast<LONG_PTR>(static_cast<TAsyncMessageTarget*>(&t)));
    EXPECT_TRUE(t.got.empty());
    SendMessage(w.h, SocketEvent, 0, MAKELPARAM(32, 0));
    ASSERT_EQ(t.got.size(), 1u);
    EXPECT_EQ(LOWORD(t.got[0].LParam), 32);

    Window tw(AllocateTimerWindow(nullptr));
    EXPECT_EQ(SendMessage(tw.h, WM_QUERYENDSESSION, 0, 0), TRUE);
    EXPECT_EQ(SendMessage(tw.h, WM_TIMER, 1, 0), 0);
}

TEST(NotifyWindows, TimerWindowAnswersActivateAppWithZero) {
    TThreadTimer timer(nullptr);
    int ticks = 0;
    timer.SetInterval(10000);
    timer.SetOnTimer([&](TObject*) { ++ticks; });
    HWND h = timer.TimerWindow();
    auto due = GetTimerDueTime(h, 1);
    EXPECT_EQ(SendMessage(h, WM_ACTIVATEAPP, TRUE, 0), 0);
    EXPECT_EQ(SendMessage(h, WM_ACTIVATEAPP, FALSE, 0), 0);
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(GetTimerDueTime(h, 1), due);  // the countdown is untouched
    // Other messages go through the timer's default handling; WM_TIMER ticks.
    EXPECT_EQ(SendMessage(h, WM_QUERYENDSESSION, 0, 0), TRUE);
    EXPECT_EQ(SendMessage(h, WM_TIMER, 1, 0), 0);
    EXPECT_EQ(ticks, 1);
}

}  // namespace
