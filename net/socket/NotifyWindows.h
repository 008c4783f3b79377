#pragma once
// The hidden windows through which asynchronous input reaches its object on
// the GUI thread.  Every socket component has a notification window of
// class "PsockWindowClass" (socket readiness, host-lookup replies); every
// TThreadTimer has a window of class "TmrWindowClass" (its ticks).  There is
// no table of objects: the window's extra bytes hold the object, and the
// registrations (WSAAsyncSelect, WSAAsyncGetHostByName, SetTimer) name the
// window.  Each class is registered at its first window and stays registered.

#include "platform/messages/Messages.h"

// Sent by a WSAAsyncSelect registration: wParam the socket (not consulted),
// lParam low word the FD_* event, high word the error number (0 = none).
constexpr win::UINT SocketEvent = win::WM_USER + 101;  // 1125
// Sent when a WSAAsyncGetHostByName lookup ends: wParam the task handle (not
// consulted), lParam low word the buffer length, high word the error number.
constexpr win::UINT HostLookupReply = win::WM_USER + 102;  // 1126

// What a notification window routes its messages to (the socket component).
class TAsyncMessageTarget {
  public:
    // Called for every message numbered SocketEvent or higher that reaches
    // the window once the object is stored in it; Msg.Result starts at 0 and
    // is what the window procedure returns.
    virtual void HandleAsyncMessage(TMessage& Msg) = 0;

  protected:
    TAsyncMessageTarget() = default;
    TAsyncMessageTarget(const TAsyncMessageTarget&) = delete;
    TAsyncMessageTarget& operator=(const TAsyncMessageTarget&) = delete;
    virtual ~TAsyncMessageTarget() = default;
};

class TThreadTimer;

// Create a hidden tool window (WS_EX_TOOLWINDOW, WS_POPUP, empty title, at
// 0, 0 with size 0) of the class, registering the class first when needed,
// and store Obj in it (when given) right after creation, so the messages of
// the creation itself get default handling.  nullptr when the class cannot
// be registered or the window cannot be created; no exception.
win::HWND AllocateSocketWindow(TAsyncMessageTarget* Obj);
win::HWND AllocateTimerWindow(TThreadTimer* Obj);

// The window procedures of the two classes.
// SocketWindowProc: messages from SocketEvent up go to the stored object's
// HandleAsyncMessage; the rest, and everything while no object is stored,
// get DefWindowProc.
win::LRESULT SocketWindowProc(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                              win::LPARAM lParam);
// TimerWindowProc: without a stored object, DefWindowProc; WM_ACTIVATEAPP is
// answered with 0; every other message goes to the object's TimerWndProc.
win::LRESULT TimerWindowProc(win::HWND hwnd, win::UINT msg, win::WPARAM wParam, win::LPARAM lParam);

// The class names, as registered.
inline constexpr const char* PsockWindowClassName = "PsockWindowClass";
inline constexpr const char* TmrWindowClassName = "TmrWindowClass";
