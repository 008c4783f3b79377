#include "net/socket/NotifyWindows.h"

#include "net/socket/ThreadTimer.h"

namespace {

// The class records, completed with the module instance at first use.  The
// object reference in the extra bytes is pointer-sized.
win::WNDCLASSA ClassRecord(win::WNDPROC proc, const char* name) {
    win::WNDCLASSA c;
    c.style = 0;
    c.lpfnWndProc = proc;
    c.cbClsExtra = 0;
    c.cbWndExtra = sizeof(win::LONG_PTR);
    c.lpszClassName = name;
    return c;
}

win::WNDCLASSA& SocketWindowClass() {
    static win::WNDCLASSA wc = ClassRecord(&SocketWindowProc, PsockWindowClassName);
    return wc;
}

win::WNDCLASSA& TimerWindowClass() {
    static win::WNDCLASSA wc = ClassRecord(&TimerWindowProc, TmrWindowClassName);
    return wc;
}

win::HWND AllocateWindow(win::WNDCLASSA& wc, void* obj) {
    if (wc.hInstance == nullptr) {
        wc.hInstance = win::GetModuleHandle(nullptr);
    }
    win::WNDCLASSA existing;
    if (!win::GetClassInfo(wc.hInstance, wc.lpszClassName, &existing) &&
        win::RegisterClass(&wc) == 0) {
        return nullptr;
    }
    win::HWND hwnd = win::CreateWindowEx(win::WS_EX_TOOLWINDOW, wc.lpszClassName, "", win::WS_POPUP,
                                         0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
    if (hwnd != nullptr && obj != nullptr) {
        win::SetWindowLong(hwnd, 0, reinterpret_cast<win::LONG_PTR>(obj));
    }
    return hwnd;
}

}  // namespace

win::HWND AllocateSocketWindow(TAsyncMessageTarget* Obj) {
    return AllocateWindow(SocketWindowClass(), Obj);
}

win::HWND AllocateTimerWindow(TThreadTimer* Obj) {
    return AllocateWindow(TimerWindowClass(), Obj);
}

win::LRESULT SocketWindowProc(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                              win::LPARAM lParam) {
    auto* obj = reinterpret_cast<TAsyncMessageTarget*>(win::GetWindowLong(hwnd, 0));
    if (obj != nullptr && msg >= SocketEvent) {
        TMessage m{msg, wParam, lParam, 0};
        obj->HandleAsyncMessage(m);
        return m.Result;
    }
    return win::DefWindowProc(hwnd, msg, wParam, lParam);
}

win::LRESULT TimerWindowProc(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                             win::LPARAM lParam) {
    auto* obj = reinterpret_cast<TThreadTimer*>(win::GetWindowLong(hwnd, 0));
    if (obj == nullptr) {
        return win::DefWindowProc(hwnd, msg, wParam, lParam);
    }
    if (msg == win::WM_ACTIVATEAPP) {
        return 0;
    }
    TMessage m{msg, wParam, lParam, 0};
    obj->TimerWndProc(m);
    return m.Result;
}
