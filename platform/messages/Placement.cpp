// Window placement (show state, normal rectangle, minimised and maximised
// positions) and each window's system menu.

#include "platform/messages/MessagesState.h"

namespace win {

using namespace detail;

namespace {

RECT CurrentRect(const Window& w) {
    const auto& sc = S().screen;
    switch (w.state) {
        case ShowState::Maximized: {
            POINT p = w.maxPosition;
            if (p.x == -1 && p.y == -1) {
                p = POINT{-GetSystemMetrics(SM_CXFRAME), -GetSystemMetrics(SM_CYFRAME)};
            }
            return RECT{p.x, p.y, sc.Width - p.x, sc.Height - p.y};
        }
        case ShowState::Minimized: {
            POINT p = w.minPosition;
            if (p.x == -1 && p.y == -1) {
                p = POINT{0, sc.Height - GetSystemMetrics(SM_CYMINIMIZED)};
            }
            return RECT{p.x, p.y, p.x + GetSystemMetrics(SM_CXMINIMIZED),
                        p.y + GetSystemMetrics(SM_CYMINIMIZED)};
        }
        case ShowState::Normal:
            break;
    }
    return w.normal;
}

LPARAM SizeParam(const RECT& r) {
    return MAKELPARAM(static_cast<WORD>(r.right - r.left), static_cast<WORD>(r.bottom - r.top));
}

std::vector<MenuItem> DefaultSystemMenuItems() {
    return {{UINT(SC_RESTORE), 0},  {UINT(SC_MOVE), 0}, {UINT(SC_SIZE), 0}, {UINT(SC_MINIMIZE), 0},
            {UINT(SC_MAXIMIZE), 0}, {0, MF_SEPARATOR},  {UINT(SC_CLOSE), 0}};
}

}  // namespace

// ---- placement -----------------------------------------------------------------------------

BOOL ShowWindow(HWND hwnd, int cmdShow) {
    Window* w = FindOrFail(hwnd);
    if (w == nullptr) {
        return FALSE;
    }
    const bool wasVisible = w->visible;
    bool visible = true;
    ShowState state = w->state;
    switch (cmdShow) {
        case SW_HIDE:
            visible = false;
            break;
        case SW_SHOWNORMAL:
        case SW_SHOWNOACTIVATE:
        case SW_SHOWDEFAULT:
            state = ShowState::Normal;
            break;
        case SW_RESTORE:
            if (w->state == ShowState::Minimized && w->restoreToMaximized) {
                state = ShowState::Maximized;
            } else {
                state = ShowState::Normal;
            }
            break;
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
        case SW_SHOWMINNOACTIVE:
            state = ShowState::Minimized;
            break;
        case SW_SHOWMAXIMIZED:
            state = ShowState::Maximized;
            break;
        case SW_SHOW:
        case SW_SHOWNA:
            break;
        default:
            SetLastError(kInvalidParameter);
            return wasVisible ? TRUE : FALSE;
    }
    if (visible && !wasVisible) {
        w->visible = true;
        CallProc(w, WM_SHOWWINDOW, TRUE, 0);
    }
    if ((w = Find(hwnd)) == nullptr) {
        return wasVisible ? TRUE : FALSE;
    }
    if (state != w->state) {
        if (state == ShowState::Minimized) {
            w->restoreToMaximized = w->state == ShowState::Maximized;
        } else {
            w->restoreToMaximized = false;
        }
        w->state = state;
        WPARAM kind = state == ShowState::Minimized   ? SIZE_MINIMIZED
                      : state == ShowState::Maximized ? SIZE_MAXIMIZED
                                                      : SIZE_RESTORED;
        CallProc(w, WM_SIZE, kind, SizeParam(CurrentRect(*w)));
    }
    if ((w = Find(hwnd)) == nullptr) {
        return wasVisible ? TRUE : FALSE;
    }
    if (!visible && wasVisible) {
        w->visible = false;
        CallProc(w, WM_SHOWWINDOW, FALSE, 0);
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT* wp) {
    Window* w = FindOrFail(hwnd);
    if (w == nullptr) {
        return FALSE;
    }
    if (wp == nullptr || wp->length != sizeof(WINDOWPLACEMENT)) {
        SetLastError(kInvalidParameter);
        return FALSE;
    }
    wp->flags =
        (w->state == ShowState::Minimized && w->restoreToMaximized) ? WPF_RESTORETOMAXIMIZED : 0;
    wp->showCmd = w->state == ShowState::Minimized   ? SW_SHOWMINIMIZED
                  : w->state == ShowState::Maximized ? SW_SHOWMAXIMIZED
                                                     : SW_SHOWNORMAL;
    wp->ptMinPosition = w->minPosition;
    wp->ptMaxPosition = w->maxPosition;
    wp->rcNormalPosition = w->normal;
    return TRUE;
}

BOOL SetWindowPlacement(HWND hwnd, const WINDOWPLACEMENT* wp) {
    Window* w = FindOrFail(hwnd);
    if (w == nullptr) {
        return FALSE;
    }
    if (wp == nullptr || wp->length != sizeof(WINDOWPLACEMENT) || wp->showCmd > SW_SHOWDEFAULT) {
        SetLastError(kInvalidParameter);
        return FALSE;
    }
    const RECT before = CurrentRect(*w);
    w->normal = wp->rcNormalPosition;
    w->maxPosition = wp->ptMaxPosition;
    if (wp->flags & WPF_SETMINPOSITION) {
        w->minPosition = wp->ptMinPosition;
    }
    ShowWindow(hwnd, static_cast<int>(wp->showCmd));
    if ((w = Find(hwnd)) == nullptr) {
        return TRUE;
    }
    if (w->state == ShowState::Minimized && (wp->flags & WPF_RESTORETOMAXIMIZED)) {
        w->restoreToMaximized = true;
    }
    const RECT after = CurrentRect(*w);
    if (after.left != before.left || after.top != before.top) {
        CallProc(w, WM_MOVE, 0,
                 MAKELPARAM(static_cast<WORD>(after.left), static_cast<WORD>(after.top)));
    }
    if ((w = Find(hwnd)) != nullptr && (after.right - after.left != before.right - before.left ||
                                        after.bottom - after.top != before.bottom - before.top)) {
        WPARAM kind = w->state == ShowState::Minimized   ? SIZE_MINIMIZED
                      : w->state == ShowState::Maximized ? SIZE_MAXIMIZED
                                                         : SIZE_RESTORED;
        CallProc(w, WM_SIZE, kind, SizeParam(after));
    }
    return TRUE;
}

BOOL IsIconic(HWND hwnd) {
    Window* w = Find(hwnd);
    return w != nullptr && w->state == ShowState::Minimized ? TRUE : FALSE;
}

BOOL IsZoomed(HWND hwnd) {
    Window* w = Find(hwnd);
    return w != nullptr && w->state == ShowState::Maximized ? TRUE : FALSE;
}

BOOL IsWindowVisible(HWND hwnd) {
    Window* w = Find(hwnd);
    return w != nullptr && w->visible ? TRUE : FALSE;
}

BOOL GetWindowRect(HWND hwnd, RECT* rect) {
    Window* w = FindOrFail(hwnd);
    if (w == nullptr || rect == nullptr) {
        return FALSE;
    }
    *rect = CurrentRect(*w);
    return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL) {
    Window* w = FindOrFail(hwnd);
    if (w == nullptr) {
        return FALSE;
    }
    const RECT before = w->normal;
    w->normal = RECT{x, y, x + width, y + height};
    if (w->state != ShowState::Normal) {
        return TRUE;  // takes effect when the window is restored
    }
    if (x != before.left || y != before.top) {
        CallProc(w, WM_MOVE, 0, MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
    }
    if ((w = Find(hwnd)) != nullptr &&
        (width != before.right - before.left || height != before.bottom - before.top)) {
        CallProc(w, WM_SIZE, SIZE_RESTORED, SizeParam(w->normal));
    }
    return TRUE;
}

// ---- the system menu ------------------------------------------------------------------------

namespace {

MenuItem* FindMenuItem(HMENU menu, UINT item, UINT flags) {
    auto it = S().menus.find(menu);
    Window* w = it == S().menus.end() ? nullptr : Find(it->second);
    if (w == nullptr || !w->systemMenu) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return nullptr;
    }
    auto& items = w->systemMenu->items;
    if ((flags & MF_BYPOSITION) != 0) {
        return item < items.size() ? &items[item] : nullptr;
    }
    for (MenuItem& m : items) {
        if ((m.flags & MF_SEPARATOR) == 0 && m.command == item) {
            return &m;
        }
    }
    return nullptr;
}

}  // namespace

HMENU GetSystemMenu(HWND hwnd, BOOL revert) {
    Window* w = FindOrFail(hwnd);
    if (w == nullptr) {
        return nullptr;
    }
    if (!w->systemMenu) {
        w->systemMenu = std::make_unique<SystemMenu>();
        w->systemMenu->handle = reinterpret_cast<HMENU>(S().nextHandle);
        S().nextHandle += 0x10;
        w->systemMenu->items = DefaultSystemMenuItems();
        S().menus[w->systemMenu->handle] = hwnd;
    }
    if (revert) {
        w->systemMenu->items = DefaultSystemMenuItems();
        return nullptr;
    }
    return w->systemMenu->handle;
}

UINT EnableMenuItem(HMENU menu, UINT item, UINT enable) {
    MenuItem* m = FindMenuItem(menu, item, enable);
    if (m == nullptr) {
        return kMenuItemNotFound;
    }
    constexpr UINT kBits = MF_GRAYED | MF_DISABLED;
    const UINT before = m->flags & kBits;
    m->flags = (m->flags & ~kBits) | (enable & kBits);
    return before;
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags) {
    MenuItem* m = FindMenuItem(menu, item, flags);
    return m == nullptr ? kMenuItemNotFound : m->flags;
}

int GetMenuItemCount(HMENU menu) {
    auto it = S().menus.find(menu);
    Window* w = it == S().menus.end() ? nullptr : Find(it->second);
    if (w == nullptr || !w->systemMenu) {
        SetLastError(ERROR_INVALID_MENU_HANDLE);
        return -1;
    }
    return static_cast<int>(w->systemMenu->items.size());
}

}  // namespace win
