#include "gui/Forms.h"

#include <algorithm>

#include "gui/GuardedHandler.h"

namespace {

int MulDiv(int value, int numerator, int denominator) {
    if (denominator == 0)
        return value;
    long long product = static_cast<long long>(value) * numerator;
    return static_cast<int>((product + denominator / 2) / denominator);
}

int ShowCommand(TWindowState state) {
    switch (state) {
        case wsMinimized:
            return win::SW_SHOWMINIMIZED;
        case wsMaximized:
            return win::SW_SHOWMAXIMIZED;
        default:
            return win::SW_SHOWNORMAL;
    }
}

// Gives a window a new style; a shown window stays shown.
void ApplyStyle(win::HWND handle, win::DWORD style) {
    const auto visible =
        static_cast<win::DWORD>(win::GetWindowLongPtr(handle, win::GWL_STYLE)) & win::WS_VISIBLE;
    win::SetWindowLongPtr(handle, win::GWL_STYLE, static_cast<win::LONG_PTR>(style | visible));
}

}  // namespace

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner) {
    TControl::SetVisible(false);
    SetBounds(0, 0, 320, 240);
    FPixelsPerInch = Screen->PixelsPerInch();
    Screen->FForms.push_back(this);
    BeginLoading();
}

TCustomForm::~TCustomForm() {
    BeforeDestruction();
    auto& forms = Screen->FForms;
    forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
    if (FMenu)
        FMenu->FFormHook = nullptr;
    // The components go while the form is whole: their destructors may still
    // talk to it (hand events back, detach from its window).
    while (ComponentCount() > 0)
        delete Components(ComponentCount() - 1);
    DestroyHandle();
}

void TCustomForm::AfterConstruction() {
    if (FCreated)
        return;
    FCreated = true;
    if (ComponentState().Contains(csLoading))
        EndLoading();
    Realign();
    DoCreate();
    if (FShowAfterLoading) {
        FShowAfterLoading = false;
        Show();
    }
}

void TCustomForm::BeforeDestruction() {
    if (FDestroyDone)
        return;
    FDestroyDone = true;
    Destroying();
    DoDestroy();
}

void TCustomForm::SetBorderStyle(TFormBorderStyle value) {
    if (value == FBorderStyle)
        return;
    KeepClientSize([&] { FBorderStyle = value; });
    if (HandleAllocated()) {
        TCreateParams params;
        CreateParams(params);
        ApplyStyle(Handle(), params.Style);
    }
    Changed(ccBorder);
}

void TCustomForm::SetBorderIcons(TBorderIcons value) {
    if (value == FBorderIcons)
        return;
    FBorderIcons = value;
    if (HandleAllocated()) {
        TCreateParams params;
        CreateParams(params);
        ApplyStyle(Handle(), params.Style);
    }
    Changed(ccBorder);
}

void TCustomForm::SetWindowState(TWindowState value) {
    if (value == FWindowState)
        return;
    FWindowState = value;
    if (HandleAllocated() && win::IsWindowVisible(Handle())) {
        win::ShowWindow(Handle(), ShowCommand(value));
    }
    Changed(ccWindowState);
}

void TCustomForm::SetFormStyle(TFormStyle value) {
    if (value == FFormStyle)
        return;
    FFormStyle = value;
    Changed(ccBorder);
}

void TCustomForm::SetMenu(TMainMenu* value) {
    if (value == FMenu)
        return;
    KeepClientSize([&] {
        if (FMenu)
            FMenu->FFormHook = nullptr;
        FMenu = value;
        if (FMenu) {
            FMenu->FreeNotification(this);
            FMenu->FFormHook = [this] { MenuChanged(); };
        }
        FMenuBarShown = FMenu && FMenu->Items()->Count() > 0;
    });
    Changed(ccMenu);
}

void TCustomForm::MenuChanged() {
    // A menu bar that gains its first item (or loses its last) changes the
    // frame; the client area keeps its size.
    const bool shown = FMenu && FMenu->Items()->Count() > 0;
    if (shown != FMenuBarShown)
        KeepClientSize([&] { FMenuBarShown = shown; });
    Changed(ccMenu);
}

void TCustomForm::SetActiveControl(TWinControl* value) {
    if (value == FActiveControl)
        return;
    if (value && value->GetParentForm() != this) {
        throw EInvalidOperation(String("Invalid parent for the active control"));
    }
    TWinControl* previous = FActiveControl;
    FActiveControl = value;
    if (value)
        value->FreeNotification(this);
    if (!ComponentState().Contains(csLoading)) {
        if (previous && previous->OnExit)
            previous->OnExit(previous);
        if (value && value->OnEnter)
            value->OnEnter(value);
    }
    Changed(ccFocus);
}

win::RECT TCustomForm::NonClientExtent() const {
    win::RECT r;
    int bx = 0;
    int by = 0;
    switch (FBorderStyle) {
        case bsNone:
            return r;
        case bsSizeable:
        case bsSizeToolWin:
            bx = win::GetSystemMetrics(win::SM_CXFRAME);
            by = win::GetSystemMetrics(win::SM_CYFRAME);
            break;
        default:
            bx = win::GetSystemMetrics(win::SM_CXFIXEDFRAME);
            by = win::GetSystemMetrics(win::SM_CYFIXEDFRAME);
            break;
    }
    r.left = bx;
    r.right = bx;
    r.bottom = by;
    r.top = by + win::GetSystemMetrics(win::SM_CYCAPTION);
    if (FMenuBarShown)
        r.top += win::GetSystemMetrics(win::SM_CYMENU);
    return r;
}

int TCustomForm::ClientWidth() const {
    win::RECT r = NonClientExtent();
    return std::max(0, Width() - static_cast<int>(r.left + r.right));
}

int TCustomForm::ClientHeight() const {
    win::RECT r = NonClientExtent();
    return std::max(0, Height() - static_cast<int>(r.top + r.bottom));
}

void TCustomForm::SetClientSize(int width, int height) {
    win::RECT r = NonClientExtent();
    SetBounds(Left(), Top(), width + r.left + r.right, height + r.top + r.bottom);
}

void TCustomForm::KeepClientSize(const std::function<void()>& change) {
    const int width = ClientWidth();
    const int height = ClientHeight();
    change();
    SetClientSize(width, height);
}

void TCustomForm::SetVisible(bool value) {
    if (ComponentState().Contains(csLoading)) {
        FShowAfterLoading = value;
        return;
    }
    if (value) {
        if (!FCreated) {
            AfterConstruction();
            if (Visible())
                return;
        }
        if (Visible() && HandleAllocated() && win::IsWindowVisible(Handle()))
            return;
        HandleNeeded();
        TControl::SetVisible(true);
        CreatePeers();
        gui_detail::Guarded(this, [&] { DoShow(); });
        ApplyPosition();
        Realign();
        if (HandleAllocated())
            win::ShowWindow(Handle(), ShowCommand(FWindowState));
        Changed(ccVisible);
    } else {
        if (!Visible())
            return;
        TControl::SetVisible(false);
        if (HandleAllocated())
            win::ShowWindow(Handle(), win::SW_HIDE);
        gui_detail::Guarded(this, [&] {
            if (OnHide)
                OnHide(this);
        });
    }
}

void TCustomForm::Show() {
    SetVisible(true);
}

void TCustomForm::ApplyPosition() {
    switch (FPosition) {
        case poScreenCenter:
        case poDesktopCenter:
            SetBounds((Screen->Width() - Width()) / 2, (Screen->Height() - Height()) / 2, Width(),
                      Height());
            break;
        case poMainFormCenter:
        case poOwnerFormCenter: {
            TCustomForm* center = Application->MainForm();
            if (FPosition == poOwnerFormCenter) {
                if (auto* owner = dynamic_cast<TCustomForm*>(Owner()))
                    center = owner;
            }
            if (center && center != this) {
                SetBounds(center->Left() + (center->Width() - Width()) / 2,
                          center->Top() + (center->Height() - Height()) / 2, Width(), Height());
            } else {
                SetBounds((Screen->Width() - Width()) / 2, (Screen->Height() - Height()) / 2,
                          Width(), Height());
            }
            break;
        }
        default:
            break;
    }
}

void TCustomForm::Close() {
    if (!CloseQuery())
        return;
    TCloseAction action = FFormStyle == fsMDIChild ? caMinimize : caHide;
    DoClose(action);
    if (action == caNone)
        return;
    if (Application->MainForm() == this) {
        Application->Terminate();
    } else if (action == caHide) {
        Hide();
    } else if (action == caMinimize) {
        SetWindowState(wsMinimized);
    } else {
        Release();
    }
}

bool TCustomForm::CloseQuery() {
    bool canClose = true;
    if (OnCloseQuery)
        OnCloseQuery(this, canClose);
    return canClose;
}

void TCustomForm::Release() {
    win::PostMessage(Application->Handle(), CM_RELEASE, 0, reinterpret_cast<win::LPARAM>(this));
}

void TCustomForm::Notification(TComponent* AComponent, TOperation Operation) {
    TWinControl::Notification(AComponent, Operation);
    if (Operation == opInsert) {
        // Components made while the form lays itself out load with it.
        if (ComponentState().Contains(csLoading) && AComponent->Owner() == this &&
            !AComponent->ComponentState().Contains(csLoading)) {
            AComponent->BeginLoading();
        }
        return;
    }
    if (AComponent == FActiveControl)
        FActiveControl = nullptr;
    if (AComponent == FMenu) {
        FMenu = nullptr;
        KeepClientSize([&] { FMenuBarShown = false; });
        Changed(ccMenu);
    }
}

void TCustomForm::Loaded() {
    TWinControl::Loaded();
    const int screenPpi = Screen->PixelsPerInch();
    if (FScaled && FPixelsPerInch > 0 && screenPpi != FPixelsPerInch) {
        const int width = ClientWidth();
        const int height = ClientHeight();
        DisableAlign();
        for (int i = 0; i < ControlCount(); ++i)
            Controls(i)->ScaleBy(screenPpi, FPixelsPerInch);
        SetClientSize(MulDiv(width, screenPpi, FPixelsPerInch),
                      MulDiv(height, screenPpi, FPixelsPerInch));
        FPixelsPerInch = screenPpi;
        EnableAlign();
    }
    Realign();
}

void TCustomForm::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.WndParent = nullptr;
    params.Style = 0;
    params.ExStyle = 0;
    switch (FBorderStyle) {
        case bsNone:
            params.Style = win::WS_POPUP;
            break;
        case bsSingle:
        case bsToolWindow:
            params.Style = win::WS_CAPTION | win::WS_BORDER;
            break;
        case bsSizeable:
        case bsSizeToolWin:
            params.Style = win::WS_CAPTION | win::WS_THICKFRAME;
            break;
        case bsDialog:
            params.Style = win::WS_POPUP | win::WS_CAPTION | win::WS_DLGFRAME;
            break;
    }
    if (FBorderStyle == bsToolWindow || FBorderStyle == bsSizeToolWin) {
        params.ExStyle |= win::WS_EX_TOOLWINDOW;
    }
    if (FBorderStyle != bsNone && FBorderIcons.Contains(biSystemMenu)) {
        params.Style |= win::WS_SYSMENU;
        if (FBorderStyle != bsDialog && FBorderStyle != bsToolWindow &&
            FBorderStyle != bsSizeToolWin) {
            if (FBorderIcons.Contains(biMinimize))
                params.Style |= win::WS_MINIMIZEBOX;
            if (FBorderIcons.Contains(biMaximize))
                params.Style |= win::WS_MAXIMIZEBOX;
        }
    }
    if (FFormStyle == fsStayOnTop)
        params.ExStyle |= win::WS_EX_TOPMOST;
    if (!Enabled())
        params.Style |= win::WS_DISABLED;
}

void TCustomForm::WndProc(TMessage& message) {
    switch (message.Msg) {
        case win::WM_CLOSE:
            Close();
            message.Result = 0;
            return;
        case win::WM_COMMAND:
            if (message.LParam == 0 && FMenu) {
                if (TMenuItem* item = FMenu->FindItem(win::LOWORD(message.WParam))) {
                    bool enabled = true;
                    for (TMenuItem* i = item; i; i = i->Parent())
                        enabled = enabled && i->Enabled();
                    if (enabled)
                        item->Click();
                }
                message.Result = 0;
                return;
            }
            break;
        case win::WM_SYSCOMMAND:
            switch (message.WParam & 0xFFF0) {
                case win::SC_MINIMIZE:
                    if (Application->MainForm() == this) {
                        Application->Minimize();
                    } else {
                        SetWindowState(wsMinimized);
                    }
                    message.Result = 0;
                    return;
                case win::SC_MAXIMIZE:
                    SetWindowState(wsMaximized);
                    message.Result = 0;
                    return;
                case win::SC_RESTORE:
                    if (Application->MainForm() == this && Application->Minimized()) {
                        Application->Restore();
                    } else {
                        SetWindowState(wsNormal);
                    }
                    message.Result = 0;
                    return;
                case win::SC_CLOSE:
                    Close();
                    message.Result = 0;
                    return;
                default:
                    break;
            }
            break;
        case win::WM_SIZE:
            TWinControl::WndProc(message);
            if (message.WParam == win::SIZE_MINIMIZED || message.WParam == win::SIZE_MAXIMIZED ||
                message.WParam == win::SIZE_RESTORED) {
                TWindowState state = message.WParam == win::SIZE_MINIMIZED   ? wsMinimized
                                     : message.WParam == win::SIZE_MAXIMIZED ? wsMaximized
                                                                             : wsNormal;
                if (state != FWindowState && win::IsWindowVisible(Handle())) {
                    FWindowState = state;
                    Changed(ccWindowState);
                }
            }
            UpdateBoundsFromWindow();
            return;
        case win::WM_MOVE:
        case win::WM_WINDOWPOSCHANGED:
            TWinControl::WndProc(message);
            UpdateBoundsFromWindow();
            return;
        default:
            break;
    }
    TWinControl::WndProc(message);
}

void TCustomForm::UpdateBoundsFromWindow() {
    if (FSyncingBounds || !HandleAllocated())
        return;
    win::WINDOWPLACEMENT placement;
    if (!win::GetWindowPlacement(Handle(), &placement))
        return;
    const win::RECT& r = placement.rcNormalPosition;
    if (r.right < r.left || r.bottom < r.top)
        return;
    FSyncingBounds = true;
    TControl::SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
    FSyncingBounds = false;
}

void TCustomForm::BoundsChanged() {
    if (HandleAllocated() && !FSyncingBounds) {
        FSyncingBounds = true;
        win::MoveWindow(Handle(), Left(), Top(), Width(), Height(), win::TRUE);
        FSyncingBounds = false;
    }
    Realign();
}

void TCustomForm::DoCreate() {
    gui_detail::Guarded(this, [&] {
        if (OnCreate)
            OnCreate(this);
    });
}

void TCustomForm::DoShow() {
    if (OnShow)
        OnShow(this);
}

void TCustomForm::DoClose(TCloseAction& action) {
    if (OnClose)
        OnClose(this, action);
}

void TCustomForm::DoDestroy() {
    gui_detail::Guarded(this, [&] {
        if (OnDestroy)
            OnDestroy(this);
    });
}

void FreeForm(TCustomForm* form) {
    if (!form)
        return;
    form->BeforeDestruction();
    delete form;
}
