#include "settings/Placemnt.h"

#include <algorithm>
#include <limits>

#include "gui/Published.h"
#include "platform/registry/Registry.h"
#include "runtime/TypInfo.h"
#include "settings/AppUtils.h"
#include "settings/IniFiles.h"
#include "settings/RXProps.h"
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

// Word `n` (from 1) of a position text: maximal runs of characters other
// than blank and ",".
String PosWord(const String& text, int n) {
    std::size_t i = 0;
    for (int word = 1; i < text.size(); ++word) {
        while (i < text.size() && (text[i] == ' ' || text[i] == ','))
            ++i;
        std::size_t end = i;
        while (end < text.size() && text[end] != ' ' && text[end] != ',')
            ++end;
        if (end == i)
            break;
        if (word == n)
            return text.substr(i, end - i);
        i = end;
    }
    return String();
}

int PosNumber(const String& text, int n, int def) {
    return StrToIntDef(PosWord(text, n), def);
}

// A coordinate plus a size, kept within the coordinate range.
LONG ClampedSum(LONG a, int b) {
    const long long sum = static_cast<long long>(a) + b;
    return static_cast<LONG>(std::clamp<long long>(sum, std::numeric_limits<LONG>::min(),
                                                   std::numeric_limits<LONG>::max()));
}

// Whether the rectangle's width and height are coordinates too: a damaged
// store must not hand the window a size that overflows.
bool SizeFits(const RECT& r) {
    const long long width = static_cast<long long>(r.right) - r.left;
    const long long height = static_cast<long long>(r.bottom) - r.top;
    constexpr long long top = std::numeric_limits<LONG>::max();
    return width <= top && height <= top && height >= -top;
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

template <typename F>
struct TFinally {
    F fn;
    ~TFinally() { fn(); }
};
template <typename F>
TFinally(F) -> TFinally<F>;

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
        TFinally restore{[&] { FActive = wasActive; }};
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
    TFinally close{[&] { CloseStore(); }};
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
    TFinally close{[&] { CloseStore(); }};
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
        TFinally close{[&] { CloseStore(); }};
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

String TFormPlacement::ScreenSizeSuffix() {
    return Format("(%dx%d)", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
}

void TFormPlacement::WriteWindowPlacement(TCustomForm* Form, TObject* Store,
                                          const String& Section) {
    WINDOWPLACEMENT placement;
    placement.length = sizeof(WINDOWPLACEMENT);
    GetWindowPlacement(Form->Handle(), &placement);
    if (Form == Application->MainForm() && IsIconic(Application->Handle()))
        placement.showCmd = SW_SHOWMINIMIZED;
    if (Form->FormStyle() == fsMDIChild && Form->WindowState() == wsMinimized)
        placement.flags |= WPF_SETMINPOSITION;
    StoreWriteInteger(Store, Section, "Flags", static_cast<int>(placement.flags));
    StoreWriteInteger(Store, Section, "ShowCmd", static_cast<int>(placement.showCmd));
    StoreWriteInteger(Store, Section, "PixelsPerInch", Screen->PixelsPerInch());
    const String suffix = ScreenSizeSuffix();
    const String minMax =
        Format("%d,%d,%d,%d", placement.ptMinPosition.x, placement.ptMinPosition.y,
               placement.ptMaxPosition.x, placement.ptMaxPosition.y);
    StoreWriteString(Store, Section, "MinMaxPos" + suffix, minMax);
    StoreWriteString(Store, Section, "MinMaxPos", minMax);
    const RECT& r = placement.rcNormalPosition;
    const String norm = Format("%d,%d,%d,%d", r.left, r.top, r.right, r.bottom);
    StoreWriteString(Store, Section, "NormPos" + suffix, norm);
    StoreWriteString(Store, Section, "NormPos", norm);
}

void TFormPlacement::ReadWindowPlacement(TCustomForm* Form, TObject* Store, const String& Section,
                                         bool LoadState, bool LoadPosition) {
    if (!LoadState && !LoadPosition)
        return;
    const HWND handle = Form->Handle();
    WINDOWPLACEMENT placement;
    placement.length = sizeof(WINDOWPLACEMENT);
    GetWindowPlacement(handle, &placement);
    // Applying the record must not show a window that is still hidden.
    if (!IsWindowVisible(handle))
        placement.showCmd = SW_HIDE;
    if (LoadPosition) {
        bool found = false;
        placement.flags = static_cast<UINT>(
            StoreReadInteger(Store, Section, "Flags", static_cast<int>(placement.flags)));
        const String suffix = ScreenSizeSuffix();
        String text = StoreReadString(Store, Section, "MinMaxPos" + suffix, "");
        if (text.empty())
            text = StoreReadString(Store, Section, "MinMaxPos", "");
        if (!text.empty()) {
            placement.ptMinPosition = POINT{PosNumber(text, 1, 0), PosNumber(text, 2, 0)};
            placement.ptMaxPosition = POINT{PosNumber(text, 3, 0), PosNumber(text, 4, 0)};
            found = true;
        }
        text = StoreReadString(Store, Section, "NormPos" + suffix, "");
        if (text.empty())
            text = StoreReadString(Store, Section, "NormPos", "");
        if (!text.empty()) {
            RECT& r = placement.rcNormalPosition;
            r.left = PosNumber(text, 1, Form->Left());
            r.top = PosNumber(text, 2, Form->Top());
            r.right = PosNumber(text, 3, Form->Left() + Form->Width());
            r.bottom = PosNumber(text, 4, Form->Top() + Form->Height());
            found = true;
        }
        // A place stored at another resolution would be wrong here.
        if (StoreReadInteger(Store, Section, "PixelsPerInch", Screen->PixelsPerInch()) !=
            Screen->PixelsPerInch())
            found = false;
        if (found) {
            RECT& r = placement.rcNormalPosition;
            if (Form->BorderStyle() != bsSizeable && Form->BorderStyle() != bsSizeToolWin) {
                r.right = ClampedSum(r.left, Form->Width());
                r.bottom = ClampedSum(r.top, Form->Height());
            }
            if (r.right > r.left && SizeFits(r)) {
                if ((Form->Position() == poScreenCenter || Form->Position() == poDesktopCenter) &&
                    !Form->ComponentState().Contains(csDesigning)) {
                    Form->SetPosition(poDesigned);
                }
                SetWindowPlacement(handle, &placement);
            }
        }
    }
    if (LoadState) {
        const bool mainOrNone = Form == Application->MainForm() || !Application->MainForm();
        TWindowState state = wsNormal;
        if (mainOrNone && (Form->FormStyle() == fsMDIForm ||
                           (Form->FormStyle() == fsNormal && Form->Position() == poDefault)))
            state = wsMaximized;
        switch (StoreReadInteger(Store, Section, "ShowCmd", SW_HIDE)) {
            case SW_SHOWNORMAL:
            case SW_SHOW:
            case SW_RESTORE:
                state = wsNormal;
                break;
            case SW_SHOWMINIMIZED:
            case SW_MINIMIZE:
            case SW_SHOWMINNOACTIVE:
                state = wsMinimized;
                break;
            case SW_SHOWMAXIMIZED:
                state = wsMaximized;
                break;
            default:
                break;
        }
        if (state == wsMinimized && mainOrNone) {
            // The application minimises, not the form: the form's state
            // becomes normal for its next showing, and a form already on
            // screen is left as it is.
            Form->SetRecordedWindowState(wsNormal);
            PostMessage(Application->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
            return;
        }
        // An MDI frame or child has its state arranged by the frame; only
        // the recorded state changes.
        if (Form->FormStyle() == fsMDIChild || Form->FormStyle() == fsMDIForm)
            Form->SetRecordedWindowState(state);
        else
            Form->SetWindowState(state);
    }
    Form->Repaint();
}

// ---- TStoredValue ---------------------------------------------------------------------------

TStoredValue::TStoredValue(TCollection* Collection) : TCollectionItem(Collection) {
    RegisterSettingsClasses();
}

void TStoredValue::SetName(const String& Value) {
    if (!Value.empty() && !AnsiSameText(Value, FName)) {
        if (auto* values = dynamic_cast<TStoredValues*>(Collection())) {
            if (values->IndexOf(Value) >= 0)
                throw Exception(String("String list does not allow duplicates"));
        }
    }
    FName = Value;
    Changed(false);
}

String TStoredValue::DisplayName() const {
    return FName.empty() ? TCollectionItem::DisplayName() : FName;
}

void TStoredValue::Assign(TPersistent* Source) {
    if (auto* other = dynamic_cast<TStoredValue*>(Source)) {
        if (other == this)
            return;
        if (other->FValue.IsEmpty())
            FValue.Clear();
        else
            FValue = other->FValue;
        SetName(other->FName);
        FKeyString = other->FKeyString;
        return;
    }
    TCollectionItem::Assign(Source);
}

TFormStorage* TStoredValue::Storage() const {
    auto* values = dynamic_cast<TStoredValues*>(Collection());
    return values ? values->Storage() : nullptr;
}

void TStoredValue::WriteValue() {
    Variant value = FValue;
    if (OnSave)
        OnSave(this, value);
    String text = VarToStr(value);
    if (!FKeyString.empty())
        text = ScrambleText(text, FKeyString);
    if (TFormStorage* storage = Storage())
        storage->WriteString(FName, text);
}

void TStoredValue::ReadValue() {
    TFormStorage* storage = Storage();
    if (!storage)
        return;
    String def = VarToStr(FValue);
    if (!FKeyString.empty())
        def = ScrambleText(def, FKeyString);
    String text = storage->ReadString(FName, def);
    if (!FKeyString.empty())
        text = UnscrambleText(text, FKeyString);
    Variant value(text);
    if (OnRestore)
        OnRestore(this, value);
    FValue = value;
}

// ---- TStoredValues --------------------------------------------------------------------------

TStoredValues::TStoredValues(TPersistent* AOwner)
    : TOwnedCollection(AOwner, TCollection::ItemFactoryOf<TStoredValue>()) {
    FStorage = dynamic_cast<TFormStorage*>(AOwner);
}

TStoredValue* TStoredValues::Items(int Index) const {
    return static_cast<TStoredValue*>(TCollection::Items(Index));
}

int TStoredValues::IndexOf(const String& Name) const {
    for (int i = 0; i < Count(); ++i) {
        if (AnsiSameText(Items(i)->Name(), Name))
            return i;
    }
    return -1;
}

Variant TStoredValues::StoredValue(const String& Name) const {
    const int i = IndexOf(Name);
    return i >= 0 ? Items(i)->Value() : Variant();
}

void TStoredValues::SetStoredValue(const String& Name, const Variant& Value) {
    const int i = IndexOf(Name);
    TStoredValue* item = i >= 0 ? Items(i) : nullptr;
    if (!item) {
        item = Add();
        item->SetName(Name);
    }
    item->SetValue(Value);
}

void TStoredValues::WriteAll() {
    for (int i = 0; i < Count(); ++i)
        Items(i)->WriteValue();
}

void TStoredValues::ReadAll() {
    for (int i = 0; i < Count(); ++i)
        Items(i)->ReadValue();
}

// ---- scrambling -----------------------------------------------------------------------------

namespace {

// A keystream from the key: FNV-1a of the key seeds xorshift64*.
class TKeyStream {
  public:
    explicit TKeyStream(const String& key) {
        std::uint64_t h = 1469598103934665603ULL;
        for (unsigned char c : key) {
            h ^= c;
            h *= 1099511628211ULL;
        }
        FState = h ? h : 0x9E3779B97F4A7C15ULL;
    }
    unsigned char Next() {
        FState ^= FState >> 12;
        FState ^= FState << 25;
        FState ^= FState >> 27;
        return static_cast<unsigned char>((FState * 2685821657736338717ULL) >> 56);
    }

  private:
    std::uint64_t FState;
};

const char kHexDigits[] = "0123456789ABCDEF";

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

}  // namespace

String ScrambleText(const String& Text, const String& Key) {
    if (Key.empty())
        return Text;
    TKeyStream stream(Key);
    String out;
    out.reserve(Text.size() * 2);
    unsigned char previous = 0;
    for (unsigned char c : Text) {
        // Each byte also depends on the one before, so repeated characters
        // do not show through.
        const unsigned char s = static_cast<unsigned char>(c ^ stream.Next() ^ previous);
        previous = s;
        out += kHexDigits[s >> 4];
        out += kHexDigits[s & 0x0F];
    }
    return out;
}

String UnscrambleText(const String& Text, const String& Key) {
    if (Key.empty() || Text.size() % 2 != 0)
        return Text;
    String out;
    out.reserve(Text.size() / 2);
    for (std::size_t i = 0; i < Text.size(); i += 2) {
        const int high = HexValue(Text[i]);
        const int low = HexValue(Text[i + 1]);
        if (high < 0 || low < 0)
            return Text;
        out += static_cast<char>((high << 4) | low);
    }
    TKeyStream stream(Key);
    unsigned char previous = 0;
    for (char& ch : out) {
        const unsigned char s = static_cast<unsigned char>(ch);
        ch = static_cast<char>(s ^ stream.Next() ^ previous);
        previous = s;
    }
    return out;
}

// ---- TFormStorage ---------------------------------------------------------------------------

TFormStorage::TFormStorage(TComponent* AOwner)
    : TFormPlacement(AOwner),
      FStoredProps(std::make_unique<TStringList>()),
      FStoredValues(std::make_unique<TStoredValues>(this)) {
    FStoredValues->SetStorage(this);
}

TFormStorage::~TFormStorage() {
    Destroying();
    FStoredProps.reset();
    FStoredValues.reset();
}

void TFormStorage::SetStoredProps(TStrings* Value) {
    FStoredProps->Assign(Value);
    for (int i = 0; i < FStoredProps->Count(); ++i) {
        if (auto* component = dynamic_cast<TComponent*>(FStoredProps->Objects(i)))
            component->FreeNotification(this);
    }
}

void TFormStorage::SetStoredValues(TStoredValues* Value) {
    FStoredValues->Assign(Value);
}

void TFormStorage::Loaded() {
    TFormPlacement::Loaded();
    SyncStoredList(Owner(), FStoredProps.get(), true);
}

void TFormStorage::WriteState() {
    SyncStoredList(Owner(), FStoredProps.get(), false);
}

void TFormStorage::Notification(TComponent* AComponent, TOperation Operation) {
    TFormPlacement::Notification(AComponent, Operation);
    if (ComponentState().Contains(csDestroying) || Operation != opRemove || !FStoredProps)
        return;
    for (int i = FStoredProps->Count() - 1; i >= 0; --i) {
        if (FStoredProps->Objects(i) == AComponent)
            FStoredProps->Delete(i);
    }
}

void TFormStorage::SavePlacementValues() {
    TFormPlacement::SavePlacementValues();
    SaveStoredProps();
    FStoredValues->WriteAll();
}

void TFormStorage::RestorePlacementValues() {
    TFormPlacement::RestorePlacementValues();
    // The placement values are in: a failure after this point must not
    // keep the next close from saving.
    MarkRestored();
    RestoreStoredProps();
    FStoredValues->ReadAll();
}

void TFormStorage::SaveStoredProps() {
    TPropsStorage storage;
    storage.Section = IniSection();
    storage.OnWriteString = [this](const String& Section, const String& Item, const String& Value) {
        WriteString(Section, Item, Value);
    };
    storage.OnEraseSection = [this](const String& Section) {
        StoreEraseSection(IniFileObject(), Section);
    };
    storage.SaveListedProperties(Owner(), FStoredProps.get());
}

void TFormStorage::RestoreStoredProps() {
    try {
        TPropsStorage storage;
        storage.Section = IniSection();
        storage.OnReadString = [this](const String& Section, const String& Item,
                                      const String& Default) {
            return ReadString(Section, Item, Default);
        };
        storage.RestoreListedProperties(Owner(), FStoredProps.get());
    } catch (...) {
        // Restoring never reports.
    }
}

// ---- published properties ---------------------------------------------------------------------

void RegisterSettingsClasses() {
    static const bool done = [] {
        RegisterGuiClasses();
        RegisterPublishedClass<TWinMinMaxInfo, TObject>(
            "TWinMinMaxInfo", [](TPublishedProperties<TWinMinMaxInfo>& p) {
                p.Integer("MaxPosLeft", &TWinMinMaxInfo::MaxPosLeft,
                          &TWinMinMaxInfo::SetMaxPosLeft);
                p.Integer("MaxPosTop", &TWinMinMaxInfo::MaxPosTop, &TWinMinMaxInfo::SetMaxPosTop);
                p.Integer("MaxSizeHeight", &TWinMinMaxInfo::MaxSizeHeight,
                          &TWinMinMaxInfo::SetMaxSizeHeight);
                p.Integer("MaxSizeWidth", &TWinMinMaxInfo::MaxSizeWidth,
                          &TWinMinMaxInfo::SetMaxSizeWidth);
                p.Integer("MaxTrackHeight", &TWinMinMaxInfo::MaxTrackHeight,
                          &TWinMinMaxInfo::SetMaxTrackHeight);
                p.Integer("MaxTrackWidth", &TWinMinMaxInfo::MaxTrackWidth,
                          &TWinMinMaxInfo::SetMaxTrackWidth);
                p.Integer("MinTrackHeight", &TWinMinMaxInfo::MinTrackHeight,
                          &TWinMinMaxInfo::SetMinTrackHeight);
                p.Integer("MinTrackWidth", &TWinMinMaxInfo::MinTrackWidth,
                          &TWinMinMaxInfo::SetMinTrackWidth);
            });
        const TTypeInfo* minMaxType = ClassInfoOf<TWinMinMaxInfo>()->ClassType();
        const TTypeInfo* optionType =
            NewEnumTypeInfo("TPlacementOption", {"fpState", "fpPosition", "fpActiveControl"});
        const TTypeInfo* optionsType = NewSetTypeInfo("TPlacementOptions", optionType);
        const TTypeInfo* rootType = NewEnumTypeInfo(
            "TPlacementRegRoot", {"prCurrentUser", "prLocalMachine", "prCurrentConfig",
                                  "prClassesRoot", "prUsers", "prDynData"});
        RegisterPublishedClass<TFormPlacement, TComponent>(
            "TFormPlacement", [&](TPublishedProperties<TFormPlacement>& p) {
                p.Boolean("Active", &TFormPlacement::Active, &TFormPlacement::SetActive)
                    .SetDefault(1);
                p.String("IniFileName", &TFormPlacement::IniFileName,
                         &TFormPlacement::SetIniFileName);
                p.String("IniSection", &TFormPlacement::IniSection, &TFormPlacement::SetIniSection);
                p.Class("MinMaxInfo", minMaxType, &TFormPlacement::MinMaxInfo,
                        &TFormPlacement::SetMinMaxInfo);
                p.Set("Options", optionsType, &TFormPlacement::Options, &TFormPlacement::SetOptions)
                    .SetDefault(
                        static_cast<long long>(TPlacementOptions{fpState, fpPosition}.Bits()));
                p.Boolean("PreventResize", &TFormPlacement::PreventResize,
                          &TFormPlacement::SetPreventResize)
                    .SetDefault(0);
                p.Enumeration("RegistryRoot", rootType, &TFormPlacement::RegistryRoot,
                              &TFormPlacement::SetRegistryRoot)
                    .SetDefault(prCurrentUser);
                p.Boolean("UseRegistry", &TFormPlacement::UseRegistry,
                          &TFormPlacement::SetUseRegistry)
                    .SetDefault(0);
                p.Integer("Version", &TFormPlacement::Version, &TFormPlacement::SetVersion)
                    .SetDefault(0);
                p.Method("OnRestorePlacement", &TFormPlacement::OnRestorePlacement);
                p.Method("OnSavePlacement", &TFormPlacement::OnSavePlacement);
            });
        RegisterPublishedClass<TStoredValue, TObject>(
            "TStoredValue", [](TPublishedProperties<TStoredValue>& p) {
                p.String("KeyString", &TStoredValue::KeyString, &TStoredValue::SetKeyString);
                p.String("Name", &TStoredValue::Name, &TStoredValue::SetName);
                p.VariantProp("Value", &TStoredValue::Value, &TStoredValue::SetValue);
                p.Method("OnRestore", &TStoredValue::OnRestore,
                         NewMethodTypeInfo("TStoredValueEvent"));
                p.Method("OnSave", &TStoredValue::OnSave, NewMethodTypeInfo("TStoredValueEvent"));
            });
        const TTypeInfo* stringsType = NewClassTypeInfo("TStrings");
        const TTypeInfo* valuesType = NewClassTypeInfo("TStoredValues");
        RegisterPublishedClass<TFormStorage, TFormPlacement>(
            "TFormStorage", [&](TPublishedProperties<TFormStorage>& p) {
                p.Class("StoredProps", stringsType, &TFormStorage::StoredProps,
                        &TFormStorage::SetStoredProps);
                p.Class("StoredValues", valuesType, &TFormStorage::StoredValues,
                        &TFormStorage::SetStoredValues);
            });
        const TTypeInfo* hookEventType = NewMethodTypeInfo("THookMessageEvent");
        const TTypeInfo* winControlType = ClassInfoOf<TWinControl>()->ClassType();
        RegisterPublishedClass<TRxWindowHook, TComponent>(
            "TRxWindowHook", [&](TPublishedProperties<TRxWindowHook>& p) {
                p.Boolean("Active", &TRxWindowHook::Active, &TRxWindowHook::SetActive)
                    .SetDefault(1);
                p.Class("WinControl", winControlType, &TRxWindowHook::WinControl,
                        &TRxWindowHook::SetWinControl);
                p.Method("AfterMessage", &TRxWindowHook::AfterMessage, hookEventType);
                p.Method("BeforeMessage", &TRxWindowHook::BeforeMessage, hookEventType);
            });
        return true;
    }();
    (void)done;
}
