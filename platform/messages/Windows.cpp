// Window classes and windows: registration, creation and destruction, the
// default window procedure, window longs and window text.

#include "platform/messages/MessagesState.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string_view>

#include "platform/Trace.h"

namespace win {

using namespace detail;

namespace {

bool SameClassName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) {
                   return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

ClassRecord* FindClass(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    for (auto& c : S().classes) {
        if (c->registered && SameClassName(c->name, name)) {
            return c.get();
        }
    }
    return nullptr;
}

void FinishDestroy(HWND hwnd) {
    bool hadTimers = false;
    for (auto it = S().timers.begin(); it != S().timers.end();) {
        if (it->first.first == hwnd) {
            it = S().timers.erase(it);
            hadTimers = true;
        } else {
            ++it;
        }
    }
    {
        std::lock_guard<std::mutex> guard(S().lock);
        S().live.erase(hwnd);
        auto& q = S().queue;
        q.erase(std::remove_if(q.begin(), q.end(), [&](const Posted& p) { return p.hwnd == hwnd; }),
                q.end());
    }
    if (Window* w = Find(hwnd); w != nullptr && w->systemMenu) {
        S().menus.erase(w->systemMenu->handle);
    }
    S().windows.erase(hwnd);
    if (hadTimers) {
        NotifyObserver();
    }
}

// The messages CreateWindowEx sends; nullptr when the window refused to be
// created or was destroyed on the way.
HWND CreationMessages(HWND hwnd, CREATESTRUCTA& cs, bool topLevel) {
    Window* w = Find(hwnd);
    if (topLevel) {
        const int fx = GetSystemMetrics(SM_CXFRAME), fy = GetSystemMetrics(SM_CYFRAME);
        MINMAXINFO mmi;
        mmi.ptMaxSize = POINT{S().screen.Width + 2 * fx, S().screen.Height + 2 * fy};
        mmi.ptMaxPosition = POINT{-fx, -fy};
        mmi.ptMinTrackSize = POINT{GetSystemMetrics(SM_CXMIN), GetSystemMetrics(SM_CYMIN)};
        mmi.ptMaxTrackSize = mmi.ptMaxSize;
        CallProc(w, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
        if ((w = Find(hwnd)) == nullptr) {
            return nullptr;
        }
    }
    if (CallProc(w, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) == 0) {
        if ((w = Find(hwnd)) != nullptr && !w->destroying) {
            w->destroying = true;
            CallProc(w, WM_NCDESTROY, 0, 0);
            FinishDestroy(hwnd);
        }
        return nullptr;
    }
    if ((w = Find(hwnd)) == nullptr) {
        return nullptr;
    }
    if (CallProc(w, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        if (Find(hwnd) != nullptr) {
            DestroyWindow(hwnd);
        }
        return nullptr;
    }
    if ((w = Find(hwnd)) == nullptr) {
        return nullptr;
    }
    if (cs.style & static_cast<LONG>(WS_VISIBLE)) {
        w->visible = true;
        CallProc(w, WM_SHOWWINDOW, TRUE, 0);
    }
    return Find(hwnd) != nullptr ? hwnd : nullptr;
}

}  // namespace

// ---- classes ----------------------------------------------------------------------

ATOM RegisterClass(const WNDCLASSA* wc) {
    if (wc == nullptr || wc->lpszClassName == nullptr || wc->lpszClassName[0] == '\0' ||
        wc->lpfnWndProc == nullptr || wc->cbWndExtra < 0 || wc->cbClsExtra < 0) {
        SetLastError(kInvalidParameter);
        return 0;
    }
    if (FindClass(wc->lpszClassName) != nullptr) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto& classes = S().classes;
    if (classes.size() >= 0x3FFF) {
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return 0;
    }
    auto rec = std::make_unique<ClassRecord>();
    rec->name = wc->lpszClassName;
    rec->wc = *wc;
    if (wc->lpszMenuName != nullptr) {
        rec->menuName = wc->lpszMenuName;
    }
    rec->atom = static_cast<ATOM>(0xC000 + classes.size());
    classes.push_back(std::move(rec));
    KURS_TRACE(Messages, "RegisterClass \"%s\": atom 0x%04X", wc->lpszClassName,
               classes.back()->atom);
    return classes.back()->atom;
}

BOOL GetClassInfo(HINSTANCE, const char* className, WNDCLASSA* wc) {
    ClassRecord* rec = FindClass(className);
    if (rec == nullptr) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (wc != nullptr) {
        *wc = rec->wc;
        wc->lpszClassName = rec->name.c_str();
        wc->lpszMenuName = rec->menuName.empty() ? nullptr : rec->menuName.c_str();
    }
    return TRUE;
}

BOOL UnregisterClass(const char* className, HINSTANCE) {
    ClassRecord* rec = FindClass(className);
    if (rec == nullptr) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    for (auto& [h, w] : S().windows) {
        if (w->cls == rec) {
            SetLastError(1412);  // ERROR_CLASS_HAS_WINDOWS
            return FALSE;
        }
    }
    rec->registered = false;  // the record stays, so pointers to its name stay valid
    return TRUE;
}

// ---- windows -----------------------------------------------------------------------

HWND CreateWindowEx(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                    int x, int y, int width, int height, HWND parent, HMENU menu,
                    HINSTANCE instance, void* param) {
    ClassRecord* cls = FindClass(className);
    if (cls == nullptr) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return nullptr;
    }
    if (parent != nullptr && Find(parent) == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if ((style & WS_CHILD) && parent == nullptr) {
        SetLastError(1406);  // ERROR_TLW_WITH_WSCHILD
        return nullptr;
    }
    const bool topLevel = (style & WS_CHILD) == 0;
    if (x == CW_USEDEFAULT) {
        x = 0;
        y = 0;
    }
    if (width == CW_USEDEFAULT) {
        width = topLevel ? S().screen.Width * 3 / 4 : 0;
        height = topLevel ? S().screen.Height * 3 / 4 : 0;
    }

    auto owned = std::make_unique<Window>();
    Window* w = owned.get();
    const HWND hwnd = reinterpret_cast<HWND>(S().nextHandle);
    S().nextHandle += 0x10;
    w->hwnd = hwnd;
    w->cls = cls;
    w->proc = cls->wc.lpfnWndProc;
    w->extra.assign(static_cast<std::size_t>(cls->wc.cbWndExtra), 0);
    w->style = style & ~(WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE);
    w->exStyle = exStyle;
    w->parent = parent;
    w->instance = instance;
    w->id = topLevel ? 0 : reinterpret_cast<LONG_PTR>(menu);
    w->normal = RECT{x, y, x + width, y + height};
    if (style & WS_MINIMIZE) {
        w->state = ShowState::Minimized;
    } else if (style & WS_MAXIMIZE) {
        w->state = ShowState::Maximized;
    }
    S().windows.emplace(hwnd, std::move(owned));
    {
        std::lock_guard<std::mutex> guard(S().lock);
        S().live.insert(hwnd);
    }

    CREATESTRUCTA cs;
    cs.lpCreateParams = param;
    cs.hInstance = instance;
    cs.hMenu = menu;
    cs.hwndParent = parent;
    cs.cy = height;
    cs.cx = width;
    cs.y = y;
    cs.x = x;
    cs.style = static_cast<LONG>(style);
    cs.lpszName = windowName;
    cs.lpszClass = className;
    cs.dwExStyle = exStyle;
    if (parent != nullptr) {
        KURS_TRACE(Messages, "CreateWindow \"%s\": %p, child of %p", className,
                   static_cast<void*>(hwnd), static_cast<void*>(parent));
    } else {
        KURS_TRACE(Messages, "CreateWindow \"%s\": %p", className, static_cast<void*>(hwnd));
    }
    try {
        return CreationMessages(hwnd, cs, topLevel);
    } catch (...) {
        // A procedure that raised during creation leaves no half-made window.
        if (Window* left = Find(hwnd); left != nullptr && !left->destroying) {
            try {
                DestroyWindow(hwnd);
            } catch (...) {
            }
        }
        throw;
    }
}

BOOL DestroyWindow(HWND hwnd) {
    Window* w = FindOrFail(hwnd);
    if (w == nullptr || w->destroying) {
        if (w != nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        }
        return FALSE;
    }
    w->destroying = true;
    KURS_TRACE(Messages, "DestroyWindow %p", static_cast<void*>(hwnd));
    std::exception_ptr error;
    try {
        CallProc(w, WM_DESTROY, 0, 0);
    } catch (...) {
        error = std::current_exception();
    }
    std::vector<HWND> children;
    for (auto& [h, other] : S().windows) {
        if (other->parent == hwnd && !other->destroying) {
            children.push_back(h);
        }
    }
    for (HWND child : children) {
        try {
            DestroyWindow(child);
        } catch (...) {
            if (!error) {
                error = std::current_exception();
            }
        }
    }
    try {
        CallProc(w, WM_NCDESTROY, 0, 0);
    } catch (...) {
        if (!error) {
            error = std::current_exception();
        }
    }
    FinishDestroy(hwnd);
    if (error) {
        std::rethrow_exception(error);
    }
    return TRUE;
}

BOOL IsWindow(HWND hwnd) {
    if (hwnd == nullptr) {
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(S().lock);
    return S().live.count(hwnd) != 0 ? TRUE : FALSE;
}

HWND GetParent(HWND hwnd) {
    Window* w = FindOrFail(hwnd);
    return w == nullptr ? nullptr : w->parent;
}

LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = Find(hwnd);
    if (w == nullptr) {
        return 0;
    }
    switch (msg) {
        case WM_NCCREATE: {
            auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
            if (cs != nullptr && cs->lpszName != nullptr) {
                w->text = cs->lpszName;
            }
            return TRUE;
        }
        case WM_CLOSE:
            DestroyWindow(hwnd);
            return 0;
        case WM_SETTEXT:
            w->text = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
            return TRUE;
        case WM_GETTEXT: {
            auto* buffer = reinterpret_cast<char*>(lParam);
            if (buffer == nullptr || wParam == 0) {
                return 0;
            }
            std::size_t n = std::min<std::size_t>(w->text.size(), wParam - 1);
            std::memcpy(buffer, w->text.data(), n);
            buffer[n] = '\0';
            return static_cast<LRESULT>(n);
        }
        case WM_GETTEXTLENGTH:
            return static_cast<LRESULT>(w->text.size());
        case WM_NCHITTEST:
            return HTCLIENT;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_SYSCOMMAND:
            switch (wParam & 0xFFF0) {
                case SC_MINIMIZE:
                    ShowWindow(hwnd, SW_MINIMIZE);
                    break;
                case SC_MAXIMIZE:
                    ShowWindow(hwnd, SW_MAXIMIZE);
                    break;
                case SC_RESTORE:
                    ShowWindow(hwnd, SW_RESTORE);
                    break;
                case SC_CLOSE:
                    SendMessage(hwnd, WM_CLOSE, 0, 0);
                    break;
                default:
                    break;
            }
            return 0;
        default:
            return 0;
    }
}

LRESULT CallWindowProc(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (proc == nullptr) {
        return 0;
    }
    return proc(hwnd, msg, wParam, lParam);
}

LONG_PTR GetWindowLongPtr(HWND hwnd, int index) {
    Window* w = FindOrFail(hwnd);
    if (w == nullptr) {
        return 0;
    }
    if (index >= 0) {
        if (static_cast<std::size_t>(index) + sizeof(LONG_PTR) > w->extra.size()) {
            SetLastError(ERROR_INVALID_INDEX);
            return 0;
        }
        LONG_PTR value;
        std::memcpy(&value, w->extra.data() + index, sizeof value);
        return value;
    }
    switch (index) {
        case GWLP_WNDPROC:
            return reinterpret_cast<LONG_PTR>(w->proc);
        case GWLP_HINSTANCE:
            return reinterpret_cast<LONG_PTR>(w->instance);
        case GWLP_HWNDPARENT:
            return reinterpret_cast<LONG_PTR>(w->parent);
        case GWLP_ID:
            return w->id;
        case GWL_STYLE: {
            DWORD s = w->style;
            if (w->visible) {
                s |= WS_VISIBLE;
            }
            if (w->state == ShowState::Minimized) {
                s |= WS_MINIMIZE;
            } else if (w->state == ShowState::Maximized) {
                s |= WS_MAXIMIZE;
            }
            return static_cast<LONG_PTR>(s);
        }
        case GWL_EXSTYLE:
            return static_cast<LONG_PTR>(w->exStyle);
        case GWLP_USERDATA:
            return w->userData;
        default:
            SetLastError(ERROR_INVALID_INDEX);
            return 0;
    }
}

LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value) {
    Window* w = FindOrFail(hwnd);
    if (w == nullptr) {
        return 0;
    }
    LONG_PTR old = GetWindowLongPtr(hwnd, index);
    if (index >= 0) {
        if (static_cast<std::size_t>(index) + sizeof(LONG_PTR) > w->extra.size()) {
            return 0;  // GetWindowLongPtr has set the error
        }
        std::memcpy(w->extra.data() + index, &value, sizeof value);
        return old;
    }
    switch (index) {
        case GWLP_WNDPROC:
            w->proc = reinterpret_cast<WNDPROC>(value);
            break;
        case GWLP_HINSTANCE:
            w->instance = reinterpret_cast<HINSTANCE>(value);
            break;
        case GWLP_ID:
            w->id = value;
            break;
        case GWL_STYLE:
            w->style = static_cast<DWORD>(value) & ~(WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE);
            w->visible = (static_cast<DWORD>(value) & WS_VISIBLE) != 0;
            break;
        case GWL_EXSTYLE:
            w->exStyle = static_cast<DWORD>(value);
            break;
        case GWLP_USERDATA:
            w->userData = value;
            break;
        default:  // GWLP_HWNDPARENT is read-only here
            SetLastError(ERROR_INVALID_INDEX);
            return 0;
    }
    return old;
}

BOOL SetWindowText(HWND hwnd, const char* text) {
    if (FindOrFail(hwnd) == nullptr) {
        return FALSE;
    }
    return SendMessage(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) != 0 ? TRUE : FALSE;
}

int GetWindowText(HWND hwnd, char* buffer, int maxCount) {
    if (FindOrFail(hwnd) == nullptr || buffer == nullptr || maxCount <= 0) {
        return 0;
    }
    return static_cast<int>(SendMessage(hwnd, WM_GETTEXT, static_cast<WPARAM>(maxCount),
                                        reinterpret_cast<LPARAM>(buffer)));
}

int GetWindowTextLength(HWND hwnd) {
    if (FindOrFail(hwnd) == nullptr) {
        return 0;
    }
    return static_cast<int>(SendMessage(hwnd, WM_GETTEXTLENGTH, 0, 0));
}

}  // namespace win
