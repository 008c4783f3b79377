// Show states, window placement, the system menu and system metrics.

#include "platform/messages/MessagesTestFixture.h"

using namespace win;
using namespace messages_test;

namespace {

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

}  // namespace
