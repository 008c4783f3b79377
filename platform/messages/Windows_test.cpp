// Window classes, creation and destruction, window longs.

#include "platform/messages/MessagesTestFixture.h"

#include <chrono>
#include <thread>

using namespace win;
using namespace messages_test;
using namespace std::chrono_literals;

namespace {

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

}  // namespace
