#include "platform/messages/Messages.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

namespace win {
namespace {

using Clock = std::chrono::steady_clock;

// As on the platform: a runaway poster or timer leak ends in a refusal, not
// in exhausted memory.
constexpr std::size_t kPostQuota = 10000;
constexpr std::size_t kTimerQuota = 10000;

constexpr DWORD kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER

struct ClassRecord {
    std::string name;
    std::string menuName;
    WNDCLASSA wc;
    ATOM atom = 0;
    bool registered = true;
};

enum class ShowState { Normal, Minimized, Maximized };

struct MenuItem {
    UINT command = 0;
    UINT flags = 0;  // MF_GRAYED, MF_DISABLED, MF_SEPARATOR
};

struct SystemMenu {
    HMENU handle = nullptr;
    std::vector<MenuItem> items;
};

std::vector<MenuItem> DefaultSystemMenuItems() {
    return {{UINT(SC_RESTORE), 0},  {UINT(SC_MOVE), 0}, {UINT(SC_SIZE), 0}, {UINT(SC_MINIMIZE), 0},
            {UINT(SC_MAXIMIZE), 0}, {0, MF_SEPARATOR},  {UINT(SC_CLOSE), 0}};
}

struct Window {
    HWND hwnd = nullptr;
    ClassRecord* cls = nullptr;
    WNDPROC proc = nullptr;
    std::vector<unsigned char> extra;
    DWORD style = 0;  // without WS_VISIBLE, WS_MINIMIZE, WS_MAXIMIZE
    DWORD exStyle = 0;
    HWND parent = nullptr;
    HINSTANCE instance = nullptr;
    LONG_PTR id = 0;
    LONG_PTR userData = 0;
    std::string text;
    bool destroying = false;
    bool visible = false;
    ShowState state = ShowState::Normal;
    bool restoreToMaximized = false;
    POINT minPosition{-1, -1};
    POINT maxPosition{-1, -1};
    RECT normal;
    std::unique_ptr<SystemMenu> systemMenu;
};

struct Timer {
    UINT interval = 0;
    TIMERPROC proc = nullptr;
    Clock::time_point due;
    std::uint64_t serial = 0;  // a new one each time the timer is (re)set
    bool tickQueued = false;
};
using TimerKey = std::pair<HWND, UINT_PTR>;

struct Posted {
    std::uint64_t seq = 0;
    HWND hwnd = nullptr;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::uint64_t timerSerial = 0;  // non-zero: a tick of that timer incarnation
};

struct Watch {
    short events = 0;
    DescriptorHandler handler;
    std::uint64_t serial = 0;
};

struct State {
    State() {
        wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (wakeFd < 0) {
            throw std::runtime_error("eventfd: " + std::string(std::strerror(errno)));
        }
    }

    // Shared with other threads, under `lock`.
    std::mutex lock;
    std::deque<Posted> queue;
    std::unordered_set<HWND> live;
    std::uint64_t nextSeq = 1;
    int wakeFd = -1;

    // GUI thread only.
    std::vector<std::unique_ptr<ClassRecord>> classes;
    std::unordered_map<HWND, std::unique_ptr<Window>> windows;
    std::map<TimerKey, Timer> timers;
    std::map<int, Watch> watches;
    std::unordered_map<HMENU, HWND> menus;  // system menu handle -> its window
    std::uintptr_t nextHandle = 0x10000;
    std::uint64_t nextSerial = 1;
    UINT_PTR nextThreadTimerId = 1;
    ScreenMetrics screen;
    WaitSourcesObserver observer;
    WaitFunction waitFunction;
};

// Never destroyed, so a worker thread that posts while the program exits
// finds the queue still there.
State& S() {
    static State* state = new State;
    return *state;
}

thread_local DWORD lastError = 0;

const Clock::time_point kTickEpoch = Clock::now();

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

Window* Find(HWND hwnd) {
    auto it = S().windows.find(hwnd);
    return it == S().windows.end() ? nullptr : it->second.get();
}

Window* FindOrFail(HWND hwnd) {
    Window* w = Find(hwnd);
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    }
    return w;
}

void SignalWake() {
    std::uint64_t one = 1;
    // A full counter (never in practice) still leaves the descriptor readable.
    [[maybe_unused]] auto n = ::write(S().wakeFd, &one, sizeof one);
}

void DrainWake() {
    std::uint64_t value;
    [[maybe_unused]] auto n = ::read(S().wakeFd, &value, sizeof value);
}

void NotifyObserver() {
    if (S().observer) {
        auto observer = S().observer;  // it may replace itself
        observer();
    }
}

int CeilMs(Clock::duration d) {
    if (d <= Clock::duration::zero()) {
        return 0;
    }
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
    return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

std::optional<Clock::time_point> NextTimerDue() {
    std::optional<Clock::time_point> next;
    for (auto& [key, t] : S().timers) {
        if (!t.tickQueued && (!next || t.due < *next)) {
            next = t.due;
        }
    }
    return next;
}

bool AnyTimerDue(Clock::time_point now) {
    for (auto& [key, t] : S().timers) {
        if (!t.tickQueued && t.due <= now) {
            return true;
        }
    }
    return false;
}

bool QueueNotEmpty() {
    std::lock_guard<std::mutex> guard(S().lock);
    return !S().queue.empty();
}

std::vector<pollfd> WatchedPollFds() {
    std::vector<pollfd> fds;
    for (auto& [fd, w] : S().watches) {
        if (w.events != 0) {
            fds.push_back(pollfd{fd, w.events, 0});
        }
    }
    return fds;
}

bool DescriptorsReadyNow() {
    auto fds = WatchedPollFds();
    if (fds.empty()) {
        return false;
    }
    int r;
    do {
        r = ::poll(fds.data(), fds.size(), 0);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

LRESULT CallProc(Window* w, UINT msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc = w->proc != nullptr ? w->proc : &DefWindowProc;
    return proc(w->hwnd, msg, wParam, lParam);
}

// Step 1 of ProcessMessages.
void PollDescriptors() {
    auto fds = WatchedPollFds();
    if (fds.empty()) {
        return;
    }
    int r;
    do {
        r = ::poll(fds.data(), fds.size(), 0);
    } while (r < 0 && errno == EINTR);
    if (r <= 0) {
        return;
    }
    bool changed = false;
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].revents == 0) {
            continue;
        }
        auto it = S().watches.find(fds[i].fd);
        if (it == S().watches.end() || it->second.events == 0) {
            continue;  // an earlier handler dropped or paused it
        }
        short revents =
            static_cast<short>(fds[i].revents & (it->second.events | POLLERR | POLLHUP | POLLNVAL));
        if (revents == 0) {
            continue;
        }
        DescriptorHandler handler = it->second.handler;
        std::uint64_t serial = it->second.serial;
        if (handler) {
            handler(fds[i].fd, revents);
        }
        if (revents & POLLNVAL) {
            auto again = S().watches.find(fds[i].fd);
            if (again != S().watches.end() && again->second.serial == serial) {
                S().watches.erase(again);
                changed = true;
            }
        }
    }
    if (changed) {
        NotifyObserver();
    }
}

// Step 2 of ProcessMessages: one tick behind the posted messages for every
// due timer that has none waiting.
void QueueDueTimers() {
    auto now = Clock::now();
    bool any = false;
    std::vector<Posted> ticks;
    for (auto& [key, t] : S().timers) {
        if (t.tickQueued || t.due > now) {
            continue;
        }
        t.tickQueued = true;
        t.due += std::chrono::milliseconds(t.interval);
        if (t.due <= now) {
            t.due = now + std::chrono::milliseconds(t.interval);  // missed periods coalesce
        }
        ticks.push_back(Posted{0, key.first, WM_TIMER, key.second, 0, t.serial});
        any = true;
    }
    if (!any) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(S().lock);
        for (auto& p : ticks) {
            p.seq = S().nextSeq++;
            S().queue.push_back(p);
        }
    }
    NotifyObserver();
}

void DeliverTick(const Posted& p) {
    auto it = S().timers.find(TimerKey{p.hwnd, p.wParam});
    if (it == S().timers.end() || it->second.serial != p.timerSerial) {
        return;  // killed or set anew since it fell due
    }
    it->second.tickQueued = false;
    TIMERPROC proc = it->second.proc;
    NotifyObserver();  // the timer counts again for the next deadline
    if (proc != nullptr) {
        proc(p.hwnd, WM_TIMER, p.wParam, GetTickCount());
        return;
    }
    if (Window* w = Find(p.hwnd)) {
        CallProc(w, WM_TIMER, p.wParam, 0);
    }
}

void Deliver(const Posted& p) {
    if (p.timerSerial != 0) {
        DeliverTick(p);
        return;
    }
    if (Window* w = Find(p.hwnd)) {
        CallProc(w, p.msg, p.wParam, p.lParam);
    }
}

// The built-in blocking wait: one poll() over the wake descriptor and the
// watched descriptors.  True when a watched descriptor is ready.
bool PollWait(int timeoutMs) {
    auto fds = WatchedPollFds();
    fds.insert(fds.begin(), pollfd{S().wakeFd, POLLIN, 0});
    int r = ::poll(fds.data(), fds.size(), timeoutMs);
    if (r <= 0) {
        return false;  // time-out or a signal: the caller looks again
    }
    if (fds[0].revents != 0) {
        DrainWake();
    }
    for (std::size_t i = 1; i < fds.size(); ++i) {
        if (fds[i].revents != 0) {
            return true;
        }
    }
    return false;
}

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

// ---- last error --------------------------------------------------------------------

DWORD GetLastError() {
    return lastError;
}
void SetLastError(DWORD error) {
    lastError = error;
}

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

// ---- messages ------------------------------------------------------------------------

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    Window* w = FindOrFail(hwnd);
    if (w == nullptr) {
        return 0;
    }
    return CallProc(w, msg, wParam, lParam);
}

BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard<std::mutex> guard(S().lock);
        if (hwnd == nullptr || S().live.count(hwnd) == 0) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (S().queue.size() >= kPostQuota) {
            SetLastError(ERROR_NOT_ENOUGH_QUOTA);
            return FALSE;
        }
        S().queue.push_back(Posted{S().nextSeq++, hwnd, msg, wParam, lParam, 0});
    }
    SignalWake();
    return TRUE;
}

void ProcessMessages() {
    DrainWake();
    PollDescriptors();
    QueueDueTimers();
    std::uint64_t last;
    {
        std::lock_guard<std::mutex> guard(S().lock);
        last = S().nextSeq - 1;
    }
    // Leaves a wake signal behind when messages stay queued (posted during
    // delivery, or left by a procedure that raised), so a backend's loop
    // comes back for them.
    struct WakeIfLeft {
        ~WakeIfLeft() {
            if (QueueNotEmpty()) {
                SignalWake();
            }
        }
    } wakeIfLeft;
    for (;;) {
        Posted p;
        {
            std::lock_guard<std::mutex> guard(S().lock);
            if (S().queue.empty() || S().queue.front().seq > last) {
                break;
            }
            p = S().queue.front();
            S().queue.pop_front();
        }
        Deliver(p);
    }
}

bool MessagesPending() {
    return QueueNotEmpty() || AnyTimerDue(Clock::now()) || DescriptorsReadyNow();
}

bool WaitMessage(int timeoutMs) {
    const auto start = Clock::now();
    const std::optional<Clock::time_point> deadline =
        timeoutMs < 0
            ? std::nullopt
            : std::optional<Clock::time_point>(start + std::chrono::milliseconds(timeoutMs));
    bool first = true;
    for (;;) {
        const auto now = Clock::now();
        if (QueueNotEmpty() || AnyTimerDue(now)) {
            return true;
        }
        int waitMs = -1;
        if (deadline) {
            waitMs = CeilMs(*deadline - now);
            if (waitMs == 0 && !first) {
                return DescriptorsReadyNow();
            }
        }
        if (auto next = NextTimerDue()) {
            int toTimer = CeilMs(*next - now);
            waitMs = waitMs < 0 ? toTimer : std::min(waitMs, toTimer);
        }
        first = false;
        if (S().waitFunction) {
            auto wait = S().waitFunction;
            if (wait(waitMs)) {
                return true;
            }
        } else if (PollWait(waitMs)) {
            return true;
        }
    }
}

// ---- timers ----------------------------------------------------------------------------

UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    if (hwnd != nullptr) {
        Window* w = FindOrFail(hwnd);
        if (w == nullptr || w->destroying) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    } else {
        if (proc == nullptr) {
            SetLastError(kInvalidParameter);
            return 0;
        }
        if (S().timers.count(TimerKey{nullptr, id}) == 0 || id == 0) {
            do {
                id = S().nextThreadTimerId++;
                if (S().nextThreadTimerId == 0) {
                    S().nextThreadTimerId = 1;
                }
            } while (id == 0 || S().timers.count(TimerKey{nullptr, id}) != 0);
        }
    }
    if (S().timers.size() >= kTimerQuota && S().timers.count(TimerKey{hwnd, id}) == 0) {
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return 0;
    }
    elapse = std::clamp(elapse, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    Timer& t = S().timers[TimerKey{hwnd, id}];
    t.interval = elapse;
    t.proc = proc;
    t.due = Clock::now() + std::chrono::milliseconds(elapse);
    t.serial = S().nextSerial++;
    t.tickQueued = false;  // a tick of the previous setting is now stale
    NotifyObserver();
    if (hwnd == nullptr) {
        return id;
    }
    return id != 0 ? id : 1;
}

BOOL KillTimer(HWND hwnd, UINT_PTR id) {
    if (S().timers.erase(TimerKey{hwnd, id}) == 0) {
        SetLastError(kInvalidParameter);
        return FALSE;
    }
    NotifyObserver();
    return TRUE;
}

std::optional<std::chrono::steady_clock::time_point> GetTimerDueTime(HWND hwnd, UINT_PTR id) {
    auto it = S().timers.find(TimerKey{hwnd, id});
    if (it == S().timers.end()) {
        return std::nullopt;
    }
    return it->second.due;
}

DWORD GetTickCount() {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - kTickEpoch);
    return static_cast<DWORD>(static_cast<std::uint64_t>(ms.count()) + 0x10000u);
}

// ---- watched descriptors -----------------------------------------------------------------

void WatchDescriptor(int fd, short pollEvents, DescriptorHandler handler) {
    if (fd < 0) {
        return;
    }
    Watch& w = S().watches[fd];
    w.events = pollEvents;
    w.handler = std::move(handler);
    w.serial = S().nextSerial++;
    NotifyObserver();
}

void SetDescriptorEvents(int fd, short pollEvents) {
    auto it = S().watches.find(fd);
    if (it == S().watches.end() || it->second.events == pollEvents) {
        return;
    }
    it->second.events = pollEvents;
    NotifyObserver();
}

void UnwatchDescriptor(int fd) {
    if (S().watches.erase(fd) != 0) {
        NotifyObserver();
    }
}

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

// ---- metrics, module ------------------------------------------------------------------------

int GetSystemMetrics(int index) {
    const auto& sc = S().screen;
    switch (index) {
        case SM_CXSCREEN:
        case SM_CXFULLSCREEN:
            return sc.Width;
        case SM_CYSCREEN:
            return sc.Height;
        case SM_CYFULLSCREEN:
            return sc.Height - 19;
        case SM_CXVSCROLL:
        case SM_CYHSCROLL:
            return 17;
        case SM_CYCAPTION:
        case SM_CYMENU:
            return 19;
        case SM_CXBORDER:
        case SM_CYBORDER:
            return 1;
        case SM_CXDLGFRAME:
        case SM_CYDLGFRAME:
            return 3;
        case SM_CXFRAME:
        case SM_CYFRAME:
            return 4;
        case SM_CXICON:
        case SM_CYICON:
            return 32;
        case SM_CXMIN:
            return 112;
        case SM_CYMIN:
            return 27;
        case SM_CXMINIMIZED:
            return 160;
        case SM_CYMINIMIZED:
            return 24;
        case SM_CXMAXIMIZED:
            return sc.Width + 2 * 4;
        case SM_CYMAXIMIZED:
            return sc.Height + 2 * 4;
        case SM_CMONITORS:
            return 1;
        default:
            return 0;
    }
}

HINSTANCE GetModuleHandle(const char* moduleName) {
    if (moduleName != nullptr) {
        return nullptr;
    }
    static char module;
    return reinterpret_cast<HINSTANCE>(&module);
}

// ---- backend hook -----------------------------------------------------------------------------

void SetScreenMetrics(const ScreenMetrics& metrics) {
    S().screen = metrics;
}
ScreenMetrics GetScreenMetrics() {
    return S().screen;
}

WaitSources GetWaitSources() {
    WaitSources sources;
    sources.WakeFd = S().wakeFd;
    for (auto& [fd, w] : S().watches) {
        sources.Descriptors.emplace_back(fd, w.events);
    }
    sources.NextTimer = NextTimerDue();
    return sources;
}

void SetWaitSourcesObserver(WaitSourcesObserver observer) {
    S().observer = std::move(observer);
}
void SetWaitFunction(WaitFunction wait) {
    S().waitFunction = std::move(wait);
}

}  // namespace win
