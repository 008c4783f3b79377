#pragma once
// Window messages for one GUI thread: window classes, windows with window
// procedures and pointer-sized extra bytes, posted and sent messages, timers,
// watched file descriptors, window placement and system metrics.
//
// Threading: every call belongs to the GUI thread except PostMessage and
// IsWindow, which are safe from any thread (a post wakes a GUI thread that
// sits in WaitMessage).  Window procedures, timer procedures and descriptor
// handlers run on the GUI thread only, inside SendMessage, ProcessMessages
// or the calls that send messages (CreateWindowEx, DestroyWindow, ...).
//
// ProcessMessages() delivers what is pending now and returns; it never
// blocks.  One call:
//   1. polls the watched descriptors without waiting and calls the handler
//      of each ready one (a handler typically posts a notification message
//      and may change or drop its own watch);
//   2. queues one WM_TIMER behind the posted messages for every timer that
//      is due and has no tick waiting yet (so ticks never pile up);
//   3. delivers the messages that are queued at this point, in order.
//      Messages posted while it delivers wait for the next call.  A tick is
//      checked again when its turn comes: a timer killed or set anew in the
//      meantime gets no stale tick.
//   An exception from a procedure or handler leaves ProcessMessages; what
//   was not delivered yet stays queued for the next call.
// WaitMessage(timeoutMs) blocks until something is pending (a posted
// message, a due timer, a ready descriptor) or the time-out passes; it is one
// poll() over an eventfd that posts write to, the watched descriptors and
// the next timer deadline.  It burns no CPU while it waits.
//
// Time: timers and waits read the installed clock (platform/clock/Clock.h);
// due times are in its terms, so a backend compares them with clocks::Now().
// Under a clock that skips idle time (a test's FakeClock), a wait with
// nothing ready and only timers left moves the clock on to the next timer
// instead of blocking.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/WinTypes.h"
#include "platform/clock/Clock.h"
#include "platform/messages/MessageNumbers.h"

namespace win {

using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);
using TIMERPROC = void (*)(HWND, UINT, UINT_PTR, DWORD);

// ---- window styles ---------------------------------------------------------
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_MINIMIZE = 0x20000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_MAXIMIZE = 0x01000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_DLGFRAME = 0x00400000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_THICKFRAME = 0x00040000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_MAXIMIZEBOX = 0x00010000;
constexpr DWORD WS_OVERLAPPEDWINDOW =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;

constexpr DWORD WS_EX_TOPMOST = 0x00000008;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
constexpr DWORD WS_EX_APPWINDOW = 0x00040000;

constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000);

// ---- window classes ----------------------------------------------------------
struct WNDCLASSA {
    UINT style = 0;
    WNDPROC lpfnWndProc = nullptr;
    int cbClsExtra = 0;
    int cbWndExtra = 0;
    HINSTANCE hInstance = nullptr;
    HICON hIcon = nullptr;
    HCURSOR hCursor = nullptr;
    HBRUSH hbrBackground = nullptr;
    const char* lpszMenuName = nullptr;
    const char* lpszClassName = nullptr;
};
using WNDCLASS = WNDCLASSA;

// Registers a class; class names compare without regard to ASCII case.
// Returns 0 (GetLastError: ERROR_CLASS_ALREADY_EXISTS, or 87 for bad arguments)
// for a name taken or missing, a missing procedure or negative extra bytes.
ATOM RegisterClass(const WNDCLASSA* wndClass);
inline ATOM RegisterClassA(const WNDCLASSA* wndClass) {
    return RegisterClass(wndClass);
}
// Fills *wndClass (lpszClassName points at the stored name) and returns TRUE
// when a class of that name is registered; the instance is not compared, as
// the program has only one module.
BOOL GetClassInfo(HINSTANCE hInstance, const char* className, WNDCLASSA* wndClass);
inline BOOL GetClassInfoA(HINSTANCE h, const char* n, WNDCLASSA* c) {
    return GetClassInfo(h, n, c);
}
BOOL UnregisterClass(const char* className, HINSTANCE hInstance);

// ---- windows -------------------------------------------------------------------
struct CREATESTRUCTA {
    void* lpCreateParams = nullptr;
    HINSTANCE hInstance = nullptr;
    HMENU hMenu = nullptr;
    HWND hwndParent = nullptr;
    int cy = 0;
    int cx = 0;
    int y = 0;
    int x = 0;
    LONG style = 0;
    const char* lpszName = nullptr;
    const char* lpszClass = nullptr;
    DWORD dwExStyle = 0;
};
using CREATESTRUCT = CREATESTRUCTA;

struct MINMAXINFO {
    POINT ptReserved;
    POINT ptMaxSize;
    POINT ptMaxPosition;
    POINT ptMinTrackSize;
    POINT ptMaxTrackSize;
};

// Creates a window of a registered class.  Messages sent during creation,
// in this order: WM_GETMINMAXINFO (top-level windows only, lParam a
// MINMAXINFO*), WM_NCCREATE (a result of 0 fails the creation),
// WM_CREATE (lParam a CREATESTRUCT*; a result of -1 fails it, and the
// window is destroyed with WM_DESTROY and WM_NCDESTROY), then WM_SHOWWINDOW
// when the style holds WS_VISIBLE.  Extra bytes start zeroed.  Returns the
// window or nullptr.  Handles are never reused while the process runs.
HWND CreateWindowEx(DWORD exStyle, const char* className, const char* windowName, DWORD style,
                    int x, int y, int width, int height, HWND parent, HMENU menu,
                    HINSTANCE instance, void* param);
inline HWND CreateWindowExA(DWORD exStyle, const char* className, const char* windowName,
                            DWORD style, int x, int y, int width, int height, HWND parent,
                            HMENU menu, HINSTANCE instance, void* param) {
    return CreateWindowEx(exStyle, className, windowName, style, x, y, width, height, parent, menu,
                          instance, param);
}

// Sends WM_DESTROY to the window, destroys its child windows, sends
// WM_NCDESTROY, kills its timers and drops its posted messages.  From then
// on nothing reaches it: posts fail, sends return 0, IsWindow is false.
// A second call (also from inside its WM_DESTROY) returns FALSE.
BOOL DestroyWindow(HWND hwnd);
BOOL IsWindow(HWND hwnd);  // any thread
HWND GetParent(HWND hwnd);

LRESULT DefWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
inline LRESULT DefWindowProcA(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProc(h, m, w, l);
}
LRESULT CallWindowProc(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
inline LRESULT CallWindowProcA(WNDPROC p, HWND h, UINT m, WPARAM w, LPARAM l) {
    return CallWindowProc(p, h, m, w, l);
}

// Window longs.  Negative indices name the fields below; indices >= 0 are
// byte offsets into the window's extra bytes, and each value is
// pointer-sized (offset + sizeof(LONG_PTR) must fit in cbWndExtra).  A bad
// window or index gives 0 with GetLastError ERROR_INVALID_WINDOW_HANDLE or
// ERROR_INVALID_INDEX.  The setters return the previous value.
constexpr int GWLP_WNDPROC = -4;
constexpr int GWL_WNDPROC = GWLP_WNDPROC;
constexpr int GWLP_HINSTANCE = -6;
constexpr int GWLP_HWNDPARENT = -8;
constexpr int GWLP_ID = -12;
constexpr int GWL_STYLE = -16;
constexpr int GWL_EXSTYLE = -20;
constexpr int GWLP_USERDATA = -21;
constexpr int GWL_USERDATA = GWLP_USERDATA;
LONG_PTR GetWindowLongPtr(HWND hwnd, int index);
LONG_PTR SetWindowLongPtr(HWND hwnd, int index, LONG_PTR value);
inline LONG_PTR GetWindowLong(HWND hwnd, int index) {
    return GetWindowLongPtr(hwnd, index);
}
inline LONG_PTR SetWindowLong(HWND hwnd, int index, LONG_PTR value) {
    return SetWindowLongPtr(hwnd, index, value);
}
inline LONG_PTR GetWindowLongPtrA(HWND h, int i) {
    return GetWindowLongPtr(h, i);
}
inline LONG_PTR SetWindowLongPtrA(HWND h, int i, LONG_PTR v) {
    return SetWindowLongPtr(h, i, v);
}
inline LONG_PTR GetWindowLongA(HWND h, int i) {
    return GetWindowLongPtr(h, i);
}
inline LONG_PTR SetWindowLongA(HWND h, int i, LONG_PTR v) {
    return SetWindowLongPtr(h, i, v);
}

// Window text through WM_SETTEXT / WM_GETTEXT (DefWindowProc keeps it).
BOOL SetWindowText(HWND hwnd, const char* text);
int GetWindowText(HWND hwnd, char* buffer, int maxCount);
int GetWindowTextLength(HWND hwnd);

// ---- messages ------------------------------------------------------------------
// Calls the window procedure at once and returns its result; 0 for a window
// that does not exist.  GUI thread only.
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
inline LRESULT SendMessageA(HWND h, UINT m, WPARAM w, LPARAM l) {
    return SendMessage(h, m, w, l);
}
// Queues a message for the window; safe from any thread.  FALSE when the
// window does not exist (ERROR_INVALID_WINDOW_HANDLE) or 10000 messages wait
// already (ERROR_NOT_ENOUGH_QUOTA); a message whose window is destroyed
// before delivery is dropped.
BOOL PostMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
inline BOOL PostMessageA(HWND h, UINT m, WPARAM w, LPARAM l) {
    return PostMessage(h, m, w, l);
}

void ProcessMessages();           // see the top of this file; never blocks
bool WaitMessage(int timeoutMs);  // true: something is pending; false: time-out; -1 = no bound

// ---- timers --------------------------------------------------------------------
constexpr UINT USER_TIMER_MINIMUM = 0x0000000A;
constexpr UINT USER_TIMER_MAXIMUM = 0x7FFFFFFF;
// Periodic timer: every `elapse` ms (clamped to 10 .. 0x7FFFFFFF) a WM_TIMER
// (wParam = id) is delivered to the window, or `proc` is called instead
// when given.  Setting an existing (window, id) again replaces it and starts
// a fresh period, dropping a tick not yet delivered.  With a window, returns
// the id (1 for id 0); without a window, `proc` is required and a new id is
// chosen and returned.  0 = failure (no such window, no procedure, 10000
// timers exist already).
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapse, TIMERPROC proc);
// Stops the timer; a tick already due but not delivered is dropped.
BOOL KillTimer(HWND hwnd, UINT_PTR id);
// When the timer exists: its next due time (for a backend's event loop, and
// for tests that check when a period started).
std::optional<std::chrono::steady_clock::time_point> GetTimerDueTime(HWND hwnd, UINT_PTR id);
DWORD GetTickCount();  // ms since an arbitrary start, wraps like the platform's

// ---- watched descriptors ---------------------------------------------------------
// The handler is called from ProcessMessages when poll() reports any of
// pollEvents (or POLLERR/POLLHUP/POLLNVAL) on fd.  Readiness is level
// triggered: a handler that neither consumes the input nor narrows its events
// is called again on every pass, so it should SetDescriptorEvents(fd, 0) until
// it wants to hear of the descriptor again.  After POLLNVAL (the descriptor is
// closed) the watch is dropped unless the handler replaced it.
using DescriptorHandler = std::function<void(int fd, short revents)>;
void WatchDescriptor(int fd, short pollEvents, DescriptorHandler handler);  // add or replace
void SetDescriptorEvents(int fd, short pollEvents);  // 0 = not watched for now
void UnwatchDescriptor(int fd);

// ---- window placement ----------------------------------------------------------
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_NORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_MAXIMIZE = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWMINNOACTIVE = 7;
constexpr int SW_SHOWNA = 8;
constexpr int SW_RESTORE = 9;
constexpr int SW_SHOWDEFAULT = 10;

constexpr UINT WPF_SETMINPOSITION = 0x0001;
constexpr UINT WPF_RESTORETOMAXIMIZED = 0x0002;
constexpr UINT WPF_ASYNCWINDOWPLACEMENT = 0x0004;

struct WINDOWPLACEMENT {
    UINT length = sizeof(WINDOWPLACEMENT);
    UINT flags = 0;
    UINT showCmd = 0;
    POINT ptMinPosition;
    POINT ptMaxPosition;
    RECT rcNormalPosition;
};
static_assert(sizeof(WINDOWPLACEMENT) == 44, "the record has the platform's layout");

// GetWindowPlacement gives flags (WPF_RESTORETOMAXIMIZED when a minimised
// window returns to maximised), showCmd (SW_SHOWNORMAL, SW_SHOWMINIMIZED or
// SW_SHOWMAXIMIZED: the state, also for a hidden window), the minimised and
// maximised positions (-1, -1 until set) and the normal rectangle.
// SetWindowPlacement stores the rectangle and the maximised position, the
// minimised position only with WPF_SETMINPOSITION, and applies showCmd as
// ShowWindow does.  Both need length == sizeof(WINDOWPLACEMENT).
BOOL GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT* placement);
BOOL SetWindowPlacement(HWND hwnd, const WINDOWPLACEMENT* placement);
// Returns whether the window was visible before.  Sends WM_SHOWWINDOW when
// the visibility changes, WM_SIZE (SIZE_MINIMIZED, SIZE_MAXIMIZED,
// SIZE_RESTORED) when the state changes.
BOOL ShowWindow(HWND hwnd, int cmdShow);
BOOL IsIconic(HWND hwnd);
BOOL IsZoomed(HWND hwnd);
BOOL IsWindowVisible(HWND hwnd);
// The rectangle the window covers now: the normal rectangle, the screen
// (from the maximised position) when maximised, and a small one at the
// minimised position when minimised.
BOOL GetWindowRect(HWND hwnd, RECT* rect);
// Sets the normal rectangle; sends WM_MOVE and WM_SIZE when they change.
BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint);

// ---- the system menu ----------------------------------------------------------------
// Each window has a system menu record, made on first use with the items
// Restore, Move, Size, Minimize, Maximize, a separator and Close (positions
// 0 to 6), all enabled.  Its handle stays valid until the window is
// destroyed.  A backend reads it (after sending WM_INITMENUPOPUP with the
// handle in wParam and a high word of 1 in lParam, so the window's
// procedure can grey items) and lets the window manager offer only what is
// enabled.
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_BYPOSITION = 0x0400;
constexpr UINT MF_ENABLED = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_SEPARATOR = 0x0800;
constexpr UINT kMenuItemNotFound = 0xFFFFFFFF;

// The window's system menu; with revert TRUE the record goes back to its
// defaults and nullptr is returned.  nullptr for a window that does not exist
// (ERROR_INVALID_WINDOW_HANDLE).
HMENU GetSystemMenu(HWND hwnd, BOOL revert);
// Sets the item's MF_GRAYED and MF_DISABLED bits from `enable` (MF_BYCOMMAND:
// `item` is a command such as SC_SIZE; MF_BYPOSITION: a position) and returns
// the bits it had, or kMenuItemNotFound for no such item or menu
// (ERROR_INVALID_MENU_HANDLE).
UINT EnableMenuItem(HMENU menu, UINT item, UINT enable);
// The item's flags (MF_GRAYED, MF_DISABLED, MF_SEPARATOR), or kMenuItemNotFound.
UINT GetMenuState(HMENU menu, UINT item, UINT flags);
int GetMenuItemCount(HMENU menu);  // -1 for no such menu

// ---- system metrics and the module --------------------------------------------------
constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
constexpr int SM_CXVSCROLL = 2;
constexpr int SM_CYHSCROLL = 3;
constexpr int SM_CYCAPTION = 4;
constexpr int SM_CXBORDER = 5;
constexpr int SM_CYBORDER = 6;
constexpr int SM_CXDLGFRAME = 7;
constexpr int SM_CYDLGFRAME = 8;
constexpr int SM_CXFIXEDFRAME = SM_CXDLGFRAME;
constexpr int SM_CYFIXEDFRAME = SM_CYDLGFRAME;
constexpr int SM_CXICON = 11;
constexpr int SM_CYICON = 12;
constexpr int SM_CYMENU = 15;
constexpr int SM_CXFULLSCREEN = 16;
constexpr int SM_CYFULLSCREEN = 17;
constexpr int SM_CXMIN = 28;
constexpr int SM_CYMIN = 29;
constexpr int SM_CXFRAME = 32;
constexpr int SM_CYFRAME = 33;
constexpr int SM_CXSIZEFRAME = SM_CXFRAME;
constexpr int SM_CYSIZEFRAME = SM_CYFRAME;
constexpr int SM_CXMINIMIZED = 57;
constexpr int SM_CYMINIMIZED = 58;
constexpr int SM_CXMAXIMIZED = 61;
constexpr int SM_CYMAXIMIZED = 62;
constexpr int SM_CMONITORS = 80;

// The value for the index, from the current screen (see ScreenMetrics); 0 for
// an unknown index.
int GetSystemMetrics(int index);

// The module instance of the program (non-null) for nullptr; nullptr for any
// other module name.
HINSTANCE GetModuleHandle(const char* moduleName);
inline HINSTANCE GetModuleHandleA(const char* moduleName) {
    return GetModuleHandle(moduleName);
}

// ---- last error ------------------------------------------------------------------
// Bad arguments give 87, the platform's ERROR_INVALID_PARAMETER (that name,
// like ERROR_SUCCESS, comes with platform/registry/Registry.h).
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_INVALID_MENU_HANDLE = 1401;
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_CLASS_DOES_NOT_EXIST = 1411;
constexpr DWORD ERROR_INVALID_INDEX = 1413;
constexpr DWORD ERROR_NO_SYSTEM_RESOURCES = 1450;
constexpr DWORD ERROR_NOT_ENOUGH_QUOTA = 1816;
DWORD GetLastError();  // per thread
void SetLastError(DWORD error);

// ---- backend hook --------------------------------------------------------------------
// A GUI backend (the Qt one) plugs in here.  Headless, nothing needs setting.
//
// (a) Screen: the headless screen is 1024 x 768 at 96 pixels per inch; a
//     backend replaces it with its primary screen's.  GetSystemMetrics follows.
struct ScreenMetrics {
    int Width = 1024;
    int Height = 768;
    int PixelsPerInch = 96;
};
void SetScreenMetrics(const ScreenMetrics& metrics);
ScreenMetrics GetScreenMetrics();

// (b) Wait sources: what WaitMessage would poll.  WakeFd becomes readable
//     when a message is posted (from any thread); read it to reset it (any
//     8-byte read).  A backend registers WakeFd and each descriptor with its
//     own loop (for instance one notifier per descriptor and direction) and
//     a single-shot timer at NextTimer, and calls ProcessMessages() when any
//     of them fires.  Events of 0 mean "watched but not for now".
struct WaitSources {
    int WakeFd = -1;
    std::vector<std::pair<int, short>> Descriptors;  // fd, poll events
    std::optional<std::chrono::steady_clock::time_point> NextTimer;
};
WaitSources GetWaitSources();
//     The observer is called on the GUI thread whenever the sources may have
//     changed (a watch added, changed or dropped; a timer set, killed or
//     ticked, so the next deadline moved).  It may call GetWaitSources() but
//     must not send or dispatch messages.  An empty function removes it.
using WaitSourcesObserver = std::function<void()>;
void SetWaitSourcesObserver(WaitSourcesObserver observer);

// (c) The blocking wait: WaitMessage calls it with the time it may block
//     (never more than the caller's time-out or the next timer; -1 = no
//     bound) whenever nothing is pending.  It returns true when it woke for
//     something other than the time-out (it may have dispatched messages
//     itself, e.g. from the backend's own loop); WaitMessage then returns
//     true.  An empty function restores the built-in poll().
using WaitFunction = std::function<bool(int timeoutMs)>;
void SetWaitFunction(WaitFunction wait);
// True when a posted message, a due timer or a ready descriptor waits (the
// descriptors are polled without blocking).  For a backend's wait.
bool MessagesPending();

}  // namespace win

// The message record a window procedure's message is packed into for object
// methods; parameters and result are pointer-sized.
struct TMessage {
    win::UINT Msg;
    win::WPARAM WParam;
    win::LPARAM LParam;
    win::LRESULT Result;
};
