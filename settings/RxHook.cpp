#include "settings/RxHook.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_map>

#include "runtime/ExceptionHook.h"
#include "runtime/ScopeGuard.h"

using namespace win;

namespace {

// The object behind each hooked window.  A window whose procedure could not
// be given back (another procedure was installed over ours and still calls
// on to us) keeps an entry without an object that forwards to the procedure
// we had replaced, so its messages still reach the control.
struct ThunkEntry {
    TControlHook* Hook = nullptr;
    WNDPROC Forward = nullptr;
};

std::unordered_map<HWND, ThunkEntry>& Thunks() {
    // Never freed: the hook list may still use it while the program ends.
    static auto* thunks = new std::unordered_map<HWND, ThunkEntry>();
    return *thunks;
}

LRESULT HookThunk(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto it = Thunks().find(hwnd);
    if (it == Thunks().end())
        return DefWindowProc(hwnd, msg, wParam, lParam);
    if (!it->second.Hook) {
        const WNDPROC forward = it->second.Forward;
        if (msg == WM_NCDESTROY)
            Thunks().erase(it);
        return forward ? CallWindowProc(forward, hwnd, msg, wParam, lParam)
                       : DefWindowProc(hwnd, msg, wParam, lParam);
    }
    TMessage message{msg, wParam, lParam, 0};
    try {
        it->second.Hook->HookedWindowProc(message);
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
    return message.Result;
}

WNDPROC CurrentProc(HWND hwnd) {
    return reinterpret_cast<WNDPROC>(GetWindowLongPtr(hwnd, GWL_WNDPROC));
}

void SetProc(HWND hwnd, WNDPROC proc) {
    SetWindowLongPtr(hwnd, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(proc));
}

THookList* TheHookList = nullptr;

const char* const kHookListClass = "TRxHookListWindow";

// Frees a TControlHook that lost its last hook on a later turn of the loop.
void ReleaseLater(TControlHook* hook) {
    THookList* list = GlobalHookList();
    if (hook && hook->HookCount() == 0 && list && list->Contains(hook))
        PostMessage(list->HookListWindow(), CM_HOOKRELEASE, 0, reinterpret_cast<LPARAM>(hook));
}

}  // namespace

// ---- TRxWindowHook ------------------------------------------------------------------------

TRxWindowHook::TRxWindowHook(TComponent* AOwner) : TComponent(AOwner) {}

TRxWindowHook::~TRxWindowHook() {
    Destroying();
    TControlHook* left = FControlHook;
    SetActive(false);
    SetWinControl(nullptr);
    // Deactivating keeps the shared object for a later re-attach; a hook
    // that goes away gives it up.
    ReleaseLater(left);
}

void TRxWindowHook::SetActive(bool Value) {
    if (Value == FActive)
        return;
    if (Value)
        Attach();
    else
        Detach();
}

TWinControl* TRxWindowHook::WinControl() const {
    return FControlHook ? FControlHook->Control() : FPendingControl;
}

void TRxWindowHook::SetWinControl(TWinControl* Value) {
    if (Value == WinControl())
        return;
    const bool wasActive = FActive;
    TControlHook* left = Detach();
    if (FPendingControl && FPendingControl != Value)
        FPendingControl->RemoveFreeNotification(this);
    FPendingControl = Value;
    if (Value)
        Value->FreeNotification(this);
    ReleaseLater(left);
    if (wasActive)
        Attach();
}

void TRxWindowHook::Attach() {
    if (FPendingControl && !ComponentState().Contains(csDestroying))
        NeedGlobalHookList()->FindOrCreate(FPendingControl)->RegisterHook(this);
    FActive = true;
}

TControlHook* TRxWindowHook::Detach() {
    TControlHook* left = FControlHook;
    if (left)
        left->UnregisterHook(this);
    FActive = false;
    return left;
}

void TRxWindowHook::NotifyAfter(TMessage& Msg, bool& Handled) {
    if (AfterMessage)
        AfterMessage(this, Msg, Handled);
}

void TRxWindowHook::NotifyBefore(TMessage& Msg, bool& Handled) {
    if (BeforeMessage)
        BeforeMessage(this, Msg, Handled);
}

void TRxWindowHook::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation != opRemove)
        return;
    if (AComponent == WinControl() || AComponent == Owner() || !Owner())
        SetWinControl(nullptr);
}

// ---- TControlHook -------------------------------------------------------------------------

win::WNDPROC TControlHook::ThunkProc() {
    return &HookThunk;
}

TControlHook::~TControlHook() {
    FDestroying = true;
    if (TheHookList)
        TheHookList->Remove(this);
    while (!FHooks.empty())
        UnregisterHook(FHooks.back());
    if (FSavedWndProc)
        RestoreWindowProc();
    FControl = nullptr;
}

bool TControlHook::ControlGone() const {
    const TComponentState state = FControl->ComponentState();
    return state.Contains(csDesigning) || state.Contains(csDestroying);
}

void TControlHook::RegisterHook(TRxWindowHook* Hook) {
    if (std::find(FHooks.begin(), FHooks.end(), Hook) == FHooks.end()) {
        FHooks.push_back(Hook);
        Hook->FControlHook = this;
        ChangeControl(Hook->FPendingControl);
    }
    InstallWindowProc();
}

void TControlHook::UnregisterHook(TRxWindowHook* Hook) {
    Hook->FControlHook = nullptr;
    FHooks.erase(std::remove(FHooks.begin(), FHooks.end(), Hook), FHooks.end());
    if (FHooks.empty())
        RestoreWindowProc();
}

void TControlHook::InstallWindowProc() {
    // Without hooks there is nobody to hook for, and the control may be gone
    // already (no hook is left to hear of it).
    if (!FControl || FHooks.empty() || FDestroying || ControlGone())
        return;
    const HWND wnd = FControl->Handle();
    if (FWindow && FWindow != wnd)
        RestoreWindowProc();
    const WNDPROC current = CurrentProc(wnd);
    if (current != &HookThunk) {
        FSavedWndProc = current;
        FWindow = wnd;
        Thunks()[wnd] = ThunkEntry{this, nullptr};
        SetProc(wnd, &HookThunk);
        return;
    }
    // Already ours.  An entry left forwarding (our procedure was given back
    // to us by the one installed over it) is taken up again.
    ThunkEntry& entry = Thunks()[wnd];
    if (entry.Hook != this) {
        if (!entry.Hook) {
            FSavedWndProc = entry.Forward;
        }
        entry = ThunkEntry{this, nullptr};
        FWindow = wnd;
    }
}

void TControlHook::RestoreWindowProc() {
    if (FControl && FSavedWndProc && FWindow && IsWindow(FWindow)) {
        if (CurrentProc(FWindow) == &HookThunk) {
            SetProc(FWindow, FSavedWndProc);
            Thunks().erase(FWindow);
        } else {
            // Someone subclassed the window over us: leave it alone, but
            // keep passing what still reaches us on.
            Thunks()[FWindow] = ThunkEntry{nullptr, FSavedWndProc};
        }
    } else if (FWindow) {
        auto it = Thunks().find(FWindow);
        if (it != Thunks().end() && it->second.Hook == this)
            Thunks().erase(it);
    }
    FSavedWndProc = nullptr;
    FWindow = nullptr;
}

void TControlHook::ChangeControl(TWinControl* Value) {
    if (Value == FControl)
        return;
    RestoreWindowProc();
    FControl = Value;
    if (!FHooks.empty())
        InstallWindowProc();
}

void TControlHook::HookedWindowProc(TMessage& Msg) {
    bool handled = false;
    Msg.Result = 0;
    if (!FControl)
        return;
    const HWND wnd = FWindow;
    if (Msg.Msg != WM_QUIT)
        DispatchToHooks(hpBeforeMessage, Msg, handled);
    if (!handled || Msg.Msg == WM_DESTROY) {
        {
            // The hooks hear the after phase even when the procedure raises.
            ScopeFail afterPhase([&] { DispatchToHooks(hpAfterMessage, Msg, handled); });
            Msg.Result = FSavedWndProc
                             ? CallWindowProc(FSavedWndProc, wnd, Msg.Msg, Msg.WParam, Msg.LParam)
                             : DefWindowProc(wnd, Msg.Msg, Msg.WParam, Msg.LParam);
        }
        DispatchToHooks(hpAfterMessage, Msg, handled);
    }
    if (Msg.Msg == WM_DESTROY) {
        RestoreWindowProc();
        // The window goes but the control stays: it is being re-created,
        // so hook the new window once it is there.
        if (TheHookList && !FDestroying && FControl && !ControlGone()) {
            PostMessage(TheHookList->HookListWindow(), CM_HOOKRESTORE, 0,
                        reinterpret_cast<LPARAM>(this));
        }
    }
}

void TControlHook::DispatchToHooks(THookPhase Phase, TMessage& Msg, bool& Handled) {
    if (FHooks.empty() || !FControl || FDestroying || ControlGone())
        return;
    const std::vector<TRxWindowHook*> hooks = FHooks;
    for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) {
        // A handler may have detached another hook meanwhile.
        if (std::find(FHooks.begin(), FHooks.end(), *it) == FHooks.end())
            continue;
        try {
            if (Phase == hpBeforeMessage)
                (*it)->NotifyBefore(Msg, Handled);
            else
                (*it)->NotifyAfter(Msg, Handled);
        } catch (...) {
            HandleApplicationException(std::current_exception());
        }
        if (Handled)
            break;
    }
}

// ---- THookList ----------------------------------------------------------------------------

THookList::THookList() {
    const HINSTANCE instance = GetModuleHandle(nullptr);
    WNDCLASSA existing;
    if (!GetClassInfo(instance, kHookListClass, &existing)) {
        WNDCLASSA wc;
        wc.lpfnWndProc = &THookList::WindowProc;
        wc.hInstance = instance;
        wc.lpszClassName = kHookListClass;
        RegisterClass(&wc);
    }
    FWindow = CreateWindowEx(0, kHookListClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                             instance, nullptr);
    if (!FWindow)
        throw EOutOfResources(String("Error creating window"));
}

THookList::~THookList() {
    while (!FItems.empty())
        delete FItems.back();
    if (FWindow)
        DestroyWindow(FWindow);
}

bool THookList::Contains(const TControlHook* Hook) const {
    return Hook && std::find(FItems.begin(), FItems.end(), Hook) != FItems.end();
}

TControlHook* THookList::FindByControl(TWinControl* Control) const {
    if (!Control)
        return nullptr;
    for (TControlHook* hook : FItems) {
        if (hook->Control() == Control)
            return hook;
    }
    return nullptr;
}

TControlHook* THookList::FindOrCreate(TWinControl* Control) {
    if (TControlHook* found = FindByControl(Control))
        return found;
    auto* hook = new TControlHook();
    FItems.push_back(hook);
    // The hook takes itself off the list as it goes.
    ScopeFail freeHook([hook] { delete hook; });
    hook->ChangeControl(Control);
    return hook;
}

void THookList::Remove(TControlHook* Hook) {
    FItems.erase(std::remove(FItems.begin(), FItems.end(), Hook), FItems.end());
}

LRESULT THookList::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg != CM_HOOKRESTORE && msg != CM_HOOKRELEASE)
        return DefWindowProc(hwnd, msg, wParam, lParam);
    try {
        auto* hook = reinterpret_cast<TControlHook*>(lParam);
        if (TheHookList && TheHookList->Contains(hook)) {
            if (msg == CM_HOOKRESTORE)
                hook->InstallWindowProc();
            else if (hook->HookCount() == 0)
                delete hook;
        }
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
    return 0;
}

THookList* GlobalHookList() {
    return TheHookList;
}

THookList* NeedGlobalHookList() {
    if (!TheHookList) {
        TheHookList = new THookList();
        // Registered after the message layer's state exists, so this runs
        // before that state is torn down.
        static const bool registered = (std::atexit(&FreeGlobalHookList), true);
        (void)registered;
    }
    return TheHookList;
}

void FreeGlobalHookList() {
    THookList* list = TheHookList;
    if (!list)
        return;
    // The list stays reachable while its objects leave it.
    delete list;
    TheHookList = nullptr;
}
