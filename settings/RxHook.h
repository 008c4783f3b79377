#pragma once
// Window hooks: a TRxWindowHook lets a component watch, and optionally
// consume, every message of one windowed control, before and after the
// control's own window procedure.  All hooks of one control share a
// TControlHook, which subclasses the control's window (GWL_WNDPROC) with its
// own entry point and calls the replaced procedure on.  Every TControlHook
// of the process sits in the one THookList, whose hidden window carries the
// two deferred actions: re-installing the procedure on a re-created window
// (CM_HOOKRESTORE) and freeing a TControlHook that lost its last hook
// (CM_HOOKRELEASE), each on a later turn of the message loop.

#include <functional>
#include <vector>

#include "gui/Controls.h"
#include "platform/messages/Messages.h"
#include "runtime/Classes.h"

class TControlHook;

// Sender is the window hook; the handler may change any field of Msg and
// set Handled to hide the message from the rest.
using THookMessageEvent = std::function<void(TObject* Sender, TMessage& Msg, bool& Handled)>;

// The hook list window's private messages; lParam is the TControlHook.
constexpr win::UINT CM_HOOKRESTORE = 0xB052;
constexpr win::UINT CM_HOOKRELEASE = 0xB053;

class TRxWindowHook : public TComponent {
  public:
    explicit TRxWindowHook(TComponent* AOwner);
    ~TRxWindowHook() override;
    String ClassName() const override { return "TRxWindowHook"; }

    // Whether the hook is attached while it has a control.
    bool Active() const { return FActive; }
    void SetActive(bool Value);
    // The watched control: the attached one, or the one last written while
    // detached.
    TWinControl* WinControl() const;
    void SetWinControl(TWinControl* Value);
    TWinControl* PendingControl() const { return FPendingControl; }
    TControlHook* ControlHook() const { return FControlHook; }

    THookMessageEvent BeforeMessage;
    THookMessageEvent AfterMessage;

    virtual void NotifyAfter(TMessage& Msg, bool& Handled);
    virtual void NotifyBefore(TMessage& Msg, bool& Handled);

    void Notification(TComponent* AComponent, TOperation Operation) override;

  private:
    friend class TControlHook;
    void Attach();
    // The TControlHook this hook left, or nullptr.
    TControlHook* Detach();

    bool FActive = true;
    TWinControl* FPendingControl = nullptr;
    TControlHook* FControlHook = nullptr;
};

enum THookPhase { hpBeforeMessage, hpAfterMessage };

class TControlHook : public TObject {
  public:
    TControlHook() = default;
    // Unregisters every hook (the last first; the last one restores the
    // window procedure) and leaves the hook list.
    ~TControlHook() override;
    String ClassName() const override { return "TControlHook"; }

    TWinControl* Control() const { return FControl; }
    // The procedure the hook replaced on the control's window, or nullptr.
    win::WNDPROC SavedWndProc() const { return FSavedWndProc; }
    // The entry point installed on hooked windows.
    static win::WNDPROC ThunkProc();
    int HookCount() const { return static_cast<int>(FHooks.size()); }
    TRxWindowHook* Hooks(int Index) const { return FHooks.at(static_cast<std::size_t>(Index)); }

    void RegisterHook(TRxWindowHook* Hook);
    void UnregisterHook(TRxWindowHook* Hook);
    void InstallWindowProc();
    void RestoreWindowProc();
    void ChangeControl(TWinControl* Value);
    // One message of the hooked window.
    void HookedWindowProc(TMessage& Msg);
    void DispatchToHooks(THookPhase Phase, TMessage& Msg, bool& Handled);

  private:
    bool ControlGone() const;

    TWinControl* FControl = nullptr;
    // The window ThunkProc was installed on.
    win::HWND FWindow = nullptr;
    win::WNDPROC FSavedWndProc = nullptr;
    std::vector<TRxWindowHook*> FHooks;
    bool FDestroying = false;
};

class THookList : public TObject {
  public:
    // Creates the hidden window.
    THookList();
    // Frees the TControlHook objects, the last first, then the window.
    ~THookList() override;
    String ClassName() const override { return "THookList"; }

    int Count() const { return static_cast<int>(FItems.size()); }
    TControlHook* Items(int Index) const { return FItems.at(static_cast<std::size_t>(Index)); }
    bool Contains(const TControlHook* Hook) const;
    win::HWND HookListWindow() const { return FWindow; }

    // The first TControlHook of the control, or nullptr (also for none).
    TControlHook* FindByControl(TWinControl* Control) const;
    // The control's TControlHook, made and added when it has none.
    TControlHook* FindOrCreate(TWinControl* Control);

  private:
    friend class TControlHook;
    void Remove(TControlHook* Hook);
    static win::LRESULT WindowProc(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                                   win::LPARAM lParam);

    std::vector<TControlHook*> FItems;
    win::HWND FWindow = nullptr;
};

// The process's hook list, or nullptr while none is needed.
THookList* GlobalHookList();
// The hook list, created on first need; it is freed when the program ends.
THookList* NeedGlobalHookList();
// Frees the hook list now (with every TControlHook in it).
void FreeGlobalHookList();
