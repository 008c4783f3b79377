#pragma once
// What the message layer's files share: the window table, the class list,
// the posted-message queue, the timers and the watched descriptors, and the
// small helpers each part uses.  Private to platform/messages.

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/clock/Clock.h"
#include "platform/messages/Messages.h"

namespace win::detail {

// Every reading of the time goes through the installed clock (platform/clock).
using TimePoint = clocks::TimePoint;

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
    TimePoint due;
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
    State();  // opens the wake descriptor

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
State& S();

Window* Find(HWND hwnd);
// As Find, and sets ERROR_INVALID_WINDOW_HANDLE when there is no such window.
Window* FindOrFail(HWND hwnd);
LRESULT CallProc(Window* w, UINT msg, WPARAM wParam, LPARAM lParam);

// The wake descriptor: a post (from any thread) signals it, a wait drains it.
void SignalWake();
void DrainWake();
// Tells the backend that the wait sources may have changed.
void NotifyObserver();

// The queue (MessageQueue.cpp).
bool QueueNotEmpty();
// Delivers the messages queued up to now, in order; those posted meanwhile wait.
void DeliverQueued();

// Timers (Timers.cpp).
std::optional<TimePoint> NextTimerDue();
bool AnyTimerDue(TimePoint now);
// One tick behind the posted messages for every due timer that has none waiting.
void QueueDueTimers();
void DeliverTick(const Posted& p);

}  // namespace win::detail
