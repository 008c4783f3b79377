#include "settings/Placemnt.h"

#include "platform/registry/Registry.h"
#include "runtime/ScopeGuard.h"
#include "settings/AppUtils.h"
#include "settings/IniFiles.h"
#include "settings/Registry.h"

using namespace win;

namespace {

HKEY RootKeyOf(TPlacementRegRoot root) {
    switch (root) {
        case prLocalMachine:
            return HKEY_LOCAL_MACHINE;
        case prCurrentConfig:
            return HKEY_CURRENT_CONFIG;
        case prClassesRoot:
            return HKEY_CLASSES_ROOT;
        case prUsers:
            return HKEY_USERS;
        case prDynData:
            return HKEY_DYN_DATA;
        default:
            return HKEY_CURRENT_USER;
    }
}

// Reports what a form event's work raised and goes on, as the form
// framework does for its own handlers.
template <typename F>
void Reported(TObject* sender, F&& fn) {
    try {
        fn();
    } catch (...) {
        Application->HandleException(std::current_exception(), sender);
    }
}

}  // namespace

// ---- TWinMinMaxInfo ---------------------------------------------------------------------

int TWinMinMaxInfo::GetMinMaxInfo(int Index) const {
    if (Index < 0 || Index > 7)
        throw ERangeError(String("Range check error"));
    return FValues[Index];
}

void TWinMinMaxInfo::SetMinMaxInfo(int Index, int Value) {
    if (Index < 0 || Index > 7)
        throw ERangeError(String("Range check error"));
    if (FValues[Index] == Value)
        return;
    FValues[Index] = Value;
    Changed();
}

bool TWinMinMaxInfo::HasLimits() const {
    for (int v : FValues) {
        if (v != 0)
            return true;
    }
    return false;
}

void TWinMinMaxInfo::Assign(TPersistent* Source) {
    if (auto* other = dynamic_cast<TWinMinMaxInfo*>(Source)) {
        for (int i = 0; i < 8; ++i)
            FValues[i] = other->FValues[i];
        Changed();
        return;
    }
    TPersistent::Assign(Source);
}

void TWinMinMaxInfo::Changed() {
    if (FOwner)
        FOwner->LimitsChanged();
}

// ---- TFormPlacement ----------------------------------------------------------------------

TFormPlacement::TFormPlacement(TComponent* AOwner)
    : TComponent(AOwner), FMinMaxInfo(std::make_unique<TWinMinMaxInfo>(this)) {
    RegisterSettingsClasses();
    if (dynamic_cast<TCustomForm*>(AOwner))
        FOptions = TPlacementOptions{fpState, fpPosition};
    FWinHook = new TRxWindowHook(this);
    FWinHook->AfterMessage = [this](TObject* Sender, TMessage& Msg, bool& Handled) {
        HookMessageHandler(Sender, Msg, Handled);
    };
}

TFormPlacement::~TFormPlacement() {
    CloseStore();
    if (!Designing()) {
        FWinHook->SetWinControl(nullptr);
        RestoreEvents();
    }
}

TCustomForm* TFormPlacement::Form() const {
    return dynamic_cast<TCustomForm*>(Owner());
}

String TFormPlacement::IniFileName() const {
    if (!FIniFileName.empty() || Designing())
        return FIniFileName;
    return FUseRegistry ? DefaultRegistryKey() : DefaultIniFileName();
}

String TFormPlacement::IniSection() const {
    if (!FIniSection.empty() || Designing())
        return FIniSection;
    return GetDefaultSection(Owner());
}

void TFormPlacement::SetPreventResize(bool Value) {
    if (!Form() || Value == FPreventResize)
        return;
    FPreventResize = Value;
    UpdateMaximizedPosition();
    ApplyPreventResize();
}

void TFormPlacement::Loaded() {
    TComponent::Loaded();
    if (Designing())
        return;
    SetEvents();
    UpdateHookState();
}

void TFormPlacement::SetEvents() {
    TCustomForm* form = Form();
    if (!form || FEventsHooked)
        return;
    FEventsHooked = true;
    FSaveFormShow = form->OnShow;
    FSaveFormCloseQuery = form->OnCloseQuery;
    FSaveFormDestroy = form->OnDestroy;
    form->OnShow = [this](TObject* Sender) { FormShowHandler(Sender); };
    form->OnCloseQuery = [this](TObject* Sender, bool& CanClose) {
        FormCloseQueryHandler(Sender, CanClose);
    };
    form->OnDestroy = [this](TObject* Sender) { FormDestroyHandler(Sender); };
    FDefMaximize = form->BorderIcons().Contains(biMaximize);
    if (FPreventResize)
        ApplyPreventResize();
}

void TFormPlacement::RestoreEvents() {
    TCustomForm* form = Form();
    if (!form || !FEventsHooked)
        return;
    FEventsHooked = false;
    form->OnShow = FSaveFormShow;
    form->OnCloseQuery = FSaveFormCloseQuery;
    form->OnDestroy = FSaveFormDestroy;
}

void TFormPlacement::UpdateHookState() {
    TCustomForm* form = Form();
    if ((FMinMaxInfo->HasLimits() || FPreventResize) && !Designing() && form)
        FWinHook->SetWinControl(form);
    else
        FWinHook->SetWinControl(nullptr);
}

void TFormPlacement::LimitsChanged() {
    UpdateMaximizedPosition();
    if (!ComponentState().Contains(csLoading))
        UpdateHookState();
}

void TFormPlacement::ApplyPreventResize() {
    TCustomForm* form = Form();
    if (Designing() || !form)
        return;
    if (FPreventResize)
        FDefMaximize = form->BorderIcons().Contains(biMaximize);
    {
        const bool wasActive = FActive;
        FActive = false;
        ScopeExit restore([&] { FActive = wasActive; });
        TBorderIcons icons = form->BorderIcons();
        if (FPreventResize || !FDefMaximize || form->BorderStyle() == bsDialog)
            icons.Exclude(biMaximize);
        else
            icons.Include(biMaximize);
        form->SetBorderIcons(icons);
    }
    if (!ComponentState().Contains(csLoading))
        UpdateHookState();
}

void TFormPlacement::UpdateMaximizedPosition() {
    TCustomForm* form = Form();
    if (!form || !form->HandleAllocated() || ComponentState().Contains(csLoading) ||
        FPreventResize || FMinMaxInfo->HasLimits())
        return;
    const HWND handle = form->Handle();
    WINDOWPLACEMENT placement;
    if (!GetWindowPlacement(handle, &placement))
        return;
    if (!IsWindowVisible(handle))
        placement.showCmd = SW_HIDE;
    int cx = 0, cy = 0;
    switch (form->BorderStyle()) {
        case bsSingle:
        case bsToolWindow:
            cx = GetSystemMetrics(SM_CXBORDER);
            cy = GetSystemMetrics(SM_CYBORDER);
            break;
        case bsSizeable:
        case bsSizeToolWin:
            cx = GetSystemMetrics(SM_CXFRAME);
            cy = GetSystemMetrics(SM_CYFRAME);
            break;
        case bsDialog:
            cx = GetSystemMetrics(SM_CXDLGFRAME);
            cy = GetSystemMetrics(SM_CYDLGFRAME);
            break;
        case bsNone:
            break;
    }
    placement.ptMaxPosition = POINT{-cx, -cy};
    SetWindowPlacement(handle, &placement);
}

void TFormPlacement::HookMessageHandler(TObject*, TMessage& Msg, bool&) {
    TCustomForm* form = Form();
    if (FPreventResize && form) {
        switch (Msg.Msg) {
            case WM_GETMINMAXINFO:
                if (form->HandleAllocated() && IsWindowVisible(form->Handle()) && Msg.LParam) {
                    auto* info = reinterpret_cast<MINMAXINFO*>(Msg.LParam);
                    info->ptMinTrackSize = POINT{form->Width(), form->Height()};
                    info->ptMaxTrackSize = POINT{form->Width(), form->Height()};
                    Msg.Result = 1;
                }
                break;
            case WM_NCHITTEST:
                if (Msg.Result >= HTLEFT && Msg.Result <= HTBOTTOMRIGHT)
                    Msg.Result = HTNOWHERE;
                break;
            case WM_INITMENUPOPUP:
                // The system menu (a high word of lParam not 0).  This runs
                // after the form's own procedure, which is where the main
                // menu handles a popup of its own, so nothing it does there
                // can give the items back.
                if (HIWORD(static_cast<UINT_PTR>(Msg.LParam)) != 0) {
                    const HMENU menu = reinterpret_cast<HMENU>(Msg.WParam);
                    EnableMenuItem(menu, static_cast<UINT>(SC_SIZE), MF_BYCOMMAND | MF_GRAYED);
                    EnableMenuItem(menu, static_cast<UINT>(SC_MAXIMIZE), MF_BYCOMMAND | MF_GRAYED);
                    Msg.Result = 1;
                }
                break;
            default:
                break;
        }
        return;
    }
    if (Msg.Msg != WM_GETMINMAXINFO || !Msg.LParam)
        return;
    auto* info = reinterpret_cast<MINMAXINFO*>(Msg.LParam);
    if (FMinMaxInfo->HasLimits()) {
        const TWinMinMaxInfo& l = *FMinMaxInfo;
        if (l.MaxPosLeft() != 0)
            info->ptMaxPosition.x = l.MaxPosLeft();
        if (l.MaxPosTop() != 0)
            info->ptMaxPosition.y = l.MaxPosTop();
        if (l.MaxSizeHeight() != 0)
            info->ptMaxSize.y = l.MaxSizeHeight();
        if (l.MaxSizeWidth() != 0)
            info->ptMaxSize.x = l.MaxSizeWidth();
        if (l.MaxTrackHeight() != 0)
            info->ptMaxTrackSize.y = l.MaxTrackHeight();
        if (l.MaxTrackWidth() != 0)
            info->ptMaxTrackSize.x = l.MaxTrackWidth();
        if (l.MinTrackHeight() != 0)
            info->ptMinTrackSize.y = l.MinTrackHeight();
        if (l.MinTrackWidth() != 0)
            info->ptMinTrackSize.x = l.MinTrackWidth();
    } else {
        info->ptMaxPosition = POINT{0, 0};
    }
    Msg.Result = 1;
}

void TFormPlacement::FormShowHandler(TObject* Sender) {
    if (FActive)
        Reported(this, [&] { RestoreSettings(); });
    if (FSaveFormShow)
        FSaveFormShow(Sender);
}

void TFormPlacement::FormCloseQueryHandler(TObject* Sender, bool& CanClose) {
    if (FSaveFormCloseQuery)
        FSaveFormCloseQuery(Sender, CanClose);
    TCustomForm* form = Form();
    if (CanClose && FActive && form && form->HandleAllocated())
        Reported(this, [&] { SaveSettings(); });
}

void TFormPlacement::FormDestroyHandler(TObject* Sender) {
    if (FActive && !FSaved) {
        FDestroying = true;
        Reported(this, [&] { SaveSettings(); });
        FDestroying = false;
    }
    if (FSaveFormDestroy)
        FSaveFormDestroy(Sender);
}

// ---- the store ------------------------------------------------------------------------------

void TFormPlacement::OpenStore(bool ReadOnly) {
    if (FStore)
        return;
    const String locator = IniFileName();
    if (FUseRegistry) {
        // The key path is opened (and made) below the current user first,
        // whatever the root, so it always exists there afterwards.
        auto registry = std::make_unique<TRegIniFile>(locator);
        if (ReadOnly)
            registry->SetAccess(KEY_READ);
        if (FRegistryRoot != prCurrentUser) {
            registry->SetRootKey(RootKeyOf(FRegistryRoot));
            registry->OpenKey(locator, !ReadOnly);
        }
        FStore = std::move(registry);
    } else {
        FStore = std::make_unique<TIniFile>(locator);
    }
}

void TFormPlacement::CloseStore() {
    FStore.reset();
}

template <typename F>
auto TFormPlacement::WithStore(bool ReadOnly, F&& fn) {
    if (FStore)
        return fn(FStore.get());
    OpenStore(ReadOnly);
    ScopeExit close([&] { CloseStore(); });
    return fn(FStore.get());
}

String TFormPlacement::ReadString(const String& Section, const String& Ident,
                                  const String& Default) {
    return WithStore(
        true, [&](TObject* store) { return StoreReadString(store, Section, Ident, Default); });
}

void TFormPlacement::WriteString(const String& Section, const String& Ident, const String& Value) {
    WithStore(false, [&](TObject* store) { StoreWriteString(store, Section, Ident, Value); });
}

String TFormPlacement::ReadString(const String& Ident, const String& Default) {
    return ReadString(IniSection(), Ident, Default);
}

void TFormPlacement::WriteString(const String& Ident, const String& Value) {
    WriteString(IniSection(), Ident, Value);
}

int TFormPlacement::ReadInteger(const String& Ident, int Default) {
    const String section = IniSection();
    return WithStore(
        true, [&](TObject* store) { return StoreReadInteger(store, section, Ident, Default); });
}

void TFormPlacement::WriteInteger(const String& Ident, int Value) {
    const String section = IniSection();
    WithStore(false, [&](TObject* store) { StoreWriteInteger(store, section, Ident, Value); });
}

// ---- save and restore ------------------------------------------------------------------------

void TFormPlacement::SaveSettings() {
    // A placement that was never restored is never saved: it would write
    // the layout's place over the stored one.
    if (!FRestored && FActive)
        return;
    OpenStore(false);
    ScopeExit close([&] { CloseStore(); });
    WriteInteger("FormVersion", FVersion);
    SavePlacementValues();
    if (OnSavePlacement)
        OnSavePlacement(this);
    FSaved = true;
}

void TFormPlacement::RestoreSettings() {
    FSaved = false;
    {
        OpenStore(true);
        ScopeExit close([&] { CloseStore(); });
        if (ReadInteger("FormVersion", 0) >= FVersion) {
            RestorePlacementValues();
            FRestored = true;
            if (OnRestorePlacement)
                OnRestorePlacement(this);
            TCustomForm* form = Form();
            if (FOptions.Contains(fpActiveControl) && form) {
                const String name = ReadString("ActiveControl", "");
                auto* control = dynamic_cast<TWinControl*>(form->FindComponent(name));
                if (control && control->CanFocus())
                    form->SetActiveControl(control);
            }
        }
        FRestored = true;
    }
    UpdateMaximizedPosition();
}

void TFormPlacement::SavePlacementValues() {
    TCustomForm* form = Form();
    if (!form)
        return;
    const String section = IniSection();
    if (FOptions.Contains(fpState) || FOptions.Contains(fpPosition)) {
        WriteWindowPlacement(form, FStore.get(), section);
        StoreWriteBool(FStore.get(), section, "Visible", FDestroying);
    }
    if (FOptions.Contains(fpActiveControl) && form->ActiveControl())
        StoreWriteRawString(FStore.get(), section, "ActiveControl", form->ActiveControl()->Name());
}

void TFormPlacement::RestorePlacementValues() {
    if (TCustomForm* form = Form()) {
        ReadWindowPlacement(form, FStore.get(), IniSection(), FOptions.Contains(fpState),
                            FOptions.Contains(fpPosition));
    }
}
