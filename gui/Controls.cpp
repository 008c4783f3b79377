#include "gui/Controls.h"

#include <algorithm>
#include <set>

#include "gui/Backend.h"
#include "gui/Forms.h"
#include "gui/Published.h"
#include "runtime/ExceptionHook.h"

namespace {

int MulDiv(int value, int numerator, int denominator) {
    if (denominator == 0)
        return -1;
    long long product = static_cast<long long>(value) * numerator;
    long long half = (product >= 0 ? denominator : -denominator) / 2;
    if (denominator < 0)
        half = -half;
    return static_cast<int>((product + half) / denominator);
}

// The control whose window CreateWindowEx is making: the first messages of a
// new window arrive before its extra bytes can be written.
thread_local TWinControl* CreationControl = nullptr;

std::set<String>& RegisteredClasses() {
    static std::set<String> names;
    return names;
}

}  // namespace

std::uint32_t ColorToRGB(TColor color) {
    if (color >= 0)
        return static_cast<std::uint32_t>(color) & 0xFFFFFF;
    switch (static_cast<std::uint32_t>(color) & 0xFF) {
        case 5:  // window background
            return 0xFFFFFF;
        case 8:   // window text
        case 18:  // button text
            return 0x000000;
        case 15:  // button face
            return 0xC8D0D4;
        case 16:  // button shadow
            return 0x808080;
        case 20:  // button highlight
            return 0xFFFFFF;
        default:
            return 0xC8D0D4;
    }
}

// ---- TFont -------------------------------------------------------------------------

void TFont::SetName(const String& value) {
    if (value == FName)
        return;
    FName = value;
    Changed();
}

void TFont::SetSize(int value) {
    if (value == FSize)
        return;
    FSize = value;
    Changed();
}

int TFont::Height() const {
    return -MulDiv(FSize, FPixelsPerInch, 72);
}

void TFont::SetHeight(int value) {
    SetSize(-MulDiv(value, 72, FPixelsPerInch));
}

void TFont::SetColor(TColor value) {
    if (value == FColor)
        return;
    FColor = value;
    Changed();
}

void TFont::SetStyle(TFontStyles value) {
    if (value == FStyle)
        return;
    FStyle = value;
    Changed();
}

void TFont::Assign(TPersistent* source) {
    if (auto* font = dynamic_cast<TFont*>(source)) {
        FName = font->FName;
        FSize = font->FSize;
        FColor = font->FColor;
        FStyle = font->FStyle;
        FPixelsPerInch = font->FPixelsPerInch;
        Changed();
        return;
    }
    TPersistent::Assign(source);
}

void TFont::Changed() {
    if (OnChange)
        OnChange(this);
}

// ---- TControl ------------------------------------------------------------------------

TControl::TControl(TComponent* AOwner) : TComponent(AOwner), FFont(std::make_unique<TFont>()) {
    RegisterGuiClasses();
    FFont->OnChange = [this](TObject*) { FontChanged(); };
    WindowProc = [this](TMessage& message) { WndProc(message); };
}

TControl::~TControl() {
    FPeer.reset();
    if (FParent)
        FParent->RemoveControl(this);
}

void TControl::SetParent(TWinControl* value) {
    if (value == FParent)
        return;
    if (value == this)
        throw EInvalidOperation(String("A control cannot have itself as its parent"));
    if (auto* self = dynamic_cast<TWinControl*>(this)) {
        for (TWinControl* p = value; p; p = p->Parent()) {
            if (p == self)
                throw EInvalidOperation(String("A control cannot be its own parent's parent"));
        }
        self->DestroyHandle();
    }
    FPeer.reset();
    if (FParent) {
        TWinControl* old = FParent;
        old->RemoveControl(this);
        FParent = nullptr;
        old->Realign();
    }
    if (value) {
        value->InsertControl(this);
        FParent = value;
        if (value->Peer())
            CreatePeers();
        value->Realign();
    }
}

void TControl::SetBounds(int left, int top, int width, int height) {
    if (width < 0)
        width = 0;
    if (height < 0)
        height = 0;
    if (left == FLeft && top == FTop && width == FWidth && height == FHeight)
        return;
    FLeft = left;
    FTop = top;
    FWidth = width;
    FHeight = height;
    BoundsChanged();
    Changed(ccBounds);
    RequestAlign();
}

win::RECT TControl::BoundsRect() const {
    return win::RECT{FLeft, FTop, FLeft + FWidth, FTop + FHeight};
}

void TControl::SetClientSize(int width, int height) {
    SetBounds(FLeft, FTop, FWidth + (width - ClientWidth()), FHeight + (height - ClientHeight()));
}

win::RECT TControl::ClientRect() const {
    return win::RECT{0, 0, ClientWidth(), ClientHeight()};
}

win::POINT TControl::ClientOrigin() const {
    win::POINT p{FLeft, FTop};
    if (!FParent)
        return win::POINT{0, 0};
    for (TWinControl* c = FParent; c && c->Parent(); c = c->Parent()) {
        p.x += c->Left();
        p.y += c->Top();
    }
    return p;
}

void TControl::SetAlign(TAlign value) {
    if (value == FAlign)
        return;
    FAlign = value;
    RequestAlign();
}

void TControl::SetVisible(bool value) {
    if (value == FVisible)
        return;
    FVisible = value;
    Changed(ccVisible);
    if (FAlign != alNone)
        RequestAlign();
}

bool TControl::Showing() const {
    if (!FVisible)
        return false;
    return FParent ? FParent->Showing() : true;
}

void TControl::SetEnabled(bool value) {
    if (value == FEnabled)
        return;
    FEnabled = value;
    Changed(ccEnabled);
}

void TControl::SetColor(TColor value) {
    if (value == FColor)
        return;
    FColor = value;
    Changed(ccColor);
}

void TControl::SetText(const String& value) {
    if (value == FText)
        return;
    FText = value;
    Changed(ccText);
}

void TControl::Click() {
    if (OnClick)
        OnClick(this);
}

win::LRESULT TControl::Perform(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam) {
    TMessage message{msg, wParam, lParam, 0};
    WindowProc(message);
    return message.Result;
}

TCustomForm* TControl::GetParentForm() const {
    const TControl* c = this;
    while (c->FParent)
        c = c->FParent;
    return dynamic_cast<TCustomForm*>(const_cast<TControl*>(c));
}

void TControl::Changed(TControlChange what) {
    if (FPeer)
        FPeer->Changed(what);
}

void TControl::CreatePeers() {
    if (!FPeer && GuiBackend())
        FPeer = GuiBackend()->CreatePeer(this);
}

void TControl::ScaleBy(int m, int d) {
    SetBounds(MulDiv(FLeft, m, d), MulDiv(FTop, m, d), MulDiv(FWidth, m, d), MulDiv(FHeight, m, d));
}

void TControl::WndProc(TMessage& message) {
    switch (message.Msg) {
        case CN_COMMAND:
            if (FEnabled)
                Click();
            message.Result = 0;
            return;
        case win::WM_SETTEXT:
            SetText(message.LParam ? String(reinterpret_cast<const char*>(message.LParam))
                                   : String());
            message.Result = win::TRUE;
            return;
        default:
            DefaultHandler(message);
    }
}

void TControl::DefaultHandler(TMessage& message) {
    message.Result = 0;
}

void TControl::BoundsChanged() {}

void TControl::RequestAlign() {
    if (FParent && !FParent->FAligning)
        FParent->Realign();
}

void TControl::FontChanged() {
    Changed(ccFont);
}

// ---- TWinControl ------------------------------------------------------------------------

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl() {
    Destroying();
    while (!FControls.empty()) {
        TControl* child = FControls.back();
        RemoveControl(child);
        child->FParent = nullptr;
        delete child;
    }
    DestroyHandle();
}

win::HWND TWinControl::Handle() {
    if (!FHandle)
        CreateWnd();
    return FHandle;
}

void TWinControl::DestroyHandle() {
    if (!FHandle)
        return;
    win::HWND handle = FHandle;
    win::DestroyWindow(handle);
    if (FHandle == handle) {
        // The window procedure missed WM_NCDESTROY (a hook swallowed it).
        FHandle = nullptr;
    }
}

TWinControl* TWinControl::FindControl(win::HWND handle) {
    if (!handle || !win::IsWindow(handle))
        return nullptr;
    auto* control = reinterpret_cast<TWinControl*>(win::GetWindowLongPtr(handle, 0));
    return control && control->FHandle == handle ? control : nullptr;
}

TControl* TWinControl::Controls(int index) const {
    if (index < 0 || index >= ControlCount()) {
        throw EListError(String("List index out of bounds (%d)"), index);
    }
    return FControls[static_cast<std::size_t>(index)];
}

void TWinControl::InsertControl(TControl* control) {
    FControls.push_back(control);
    if (auto* win = dynamic_cast<TWinControl*>(control))
        FTabList.push_back(win);
}

void TWinControl::RemoveControl(TControl* control) {
    FControls.erase(std::remove(FControls.begin(), FControls.end(), control), FControls.end());
    FTabList.erase(std::remove(FTabList.begin(), FTabList.end(), control), FTabList.end());
}

void TWinControl::EnableAlign() {
    if (FAlignDisabled > 0 && --FAlignDisabled == 0)
        Realign();
}

void TWinControl::Realign() {
    if (FAlignDisabled > 0 || FAligning)
        return;
    if (ComponentState().Contains(csLoading) || ComponentState().Contains(csDestroying))
        return;
    AlignControls();
    for (TControl* child : std::vector<TControl*>(FControls)) {
        if (auto* win = dynamic_cast<TWinControl*>(child))
            win->Realign();
    }
}

void TWinControl::AlignControls() {
    FAligning = true;
    struct Guard {
        bool& flag;
        ~Guard() { flag = false; }
    } guard{FAligning};

    win::RECT rect = ClientRect();
    AdjustClientRect(rect);
    auto key = [](TControl* c, TAlign align) {
        switch (align) {
            case alTop:
                return c->Top();
            case alBottom:
                return -(c->Top() + c->Height());
            case alLeft:
                return c->Left();
            case alRight:
                return -(c->Left() + c->Width());
            default:
                return 0;
        }
    };
    for (TAlign align : {alTop, alBottom, alLeft, alRight, alClient}) {
        std::vector<TControl*> list;
        for (TControl* c : FControls) {
            if (c->Align() == align && c->Visible())
                list.push_back(c);
        }
        std::stable_sort(list.begin(), list.end(),
                         [&](TControl* a, TControl* b) { return key(a, align) < key(b, align); });
        for (TControl* c : list) {
            const int width = std::max(0, static_cast<int>(rect.right - rect.left));
            const int height = std::max(0, static_cast<int>(rect.bottom - rect.top));
            switch (align) {
                case alTop:
                    c->SetBounds(rect.left, rect.top, width, c->Height());
                    rect.top += c->Height();
                    break;
                case alBottom:
                    rect.bottom -= c->Height();
                    c->SetBounds(rect.left, rect.bottom, width, c->Height());
                    break;
                case alLeft:
                    c->SetBounds(rect.left, rect.top, c->Width(), height);
                    rect.left += c->Width();
                    break;
                case alRight:
                    rect.right -= c->Width();
                    c->SetBounds(rect.right, rect.top, c->Width(), height);
                    break;
                case alClient:
                    // Every client-aligned control fills what is left, so a
                    // second one lies over the first.
                    c->SetBounds(rect.left, rect.top, width, height);
                    break;
                default:
                    break;
            }
        }
    }
}

int TWinControl::TabOrder() const {
    if (!Parent())
        return -1;
    const auto& list = Parent()->FTabList;
    auto it = std::find(list.begin(), list.end(), this);
    return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TWinControl::SetTabOrder(int value) {
    if (!Parent())
        return;
    auto& list = Parent()->FTabList;
    auto it = std::find(list.begin(), list.end(), this);
    if (it == list.end())
        return;
    list.erase(it);
    value = std::clamp(value, 0, static_cast<int>(list.size()));
    list.insert(list.begin() + value, this);
}

std::vector<TWinControl*> TWinControl::TabList() const {
    return FTabList;
}

bool TWinControl::CanFocus() const {
    for (const TControl* c = this; c; c = c->Parent()) {
        if (!c->Visible() || !c->Enabled())
            return false;
    }
    return true;
}

bool TWinControl::Covered() const {
    for (const TControl* c = this; c->Parent(); c = c->Parent()) {
        const TWinControl* parent = c->Parent();
        bool above = false;
        for (const TControl* sibling : parent->FControls) {
            if (sibling == c) {
                above = true;
                continue;
            }
            if (above && sibling->Visible() && dynamic_cast<const TWinControl*>(sibling) &&
                sibling->Left() <= c->Left() && sibling->Top() <= c->Top() &&
                sibling->Left() + sibling->Width() >= c->Left() + c->Width() &&
                sibling->Top() + sibling->Height() >= c->Top() + c->Height())
                return true;
        }
    }
    return false;
}

namespace {

// The tab stops under a control, depth first, each container's children in
// its tab order.
void CollectTabStops(const TWinControl* container, std::vector<TWinControl*>& stops) {
    for (TWinControl* child : container->TabList()) {
        if (child->TabStop())
            stops.push_back(child);
        CollectTabStops(child, stops);
    }
}

}  // namespace

TWinControl* TWinControl::FindNextControl(TWinControl* current, bool goForward) const {
    std::vector<TWinControl*> stops;
    CollectTabStops(this, stops);
    if (!goForward)
        std::reverse(stops.begin(), stops.end());
    const auto at = std::find(stops.begin(), stops.end(), current);
    const std::size_t start = at == stops.end() ? stops.size() : at - stops.begin();
    for (std::size_t i = 1; i <= stops.size(); ++i) {
        TWinControl* candidate = stops[(start + i) % stops.size()];
        if (candidate != current && candidate->CanFocus() && !candidate->Covered())
            return candidate;
    }
    return nullptr;
}

bool TWinControl::Focused() const {
    TCustomForm* form = GetParentForm();
    return form && form->ActiveControl() == this;
}

void TWinControl::SetFocus() {
    if (TCustomForm* form = GetParentForm())
        form->SetActiveControl(this);
}

void TWinControl::CreatePeers() {
    TControl::CreatePeers();
    for (TControl* child : std::vector<TControl*>(FControls))
        child->CreatePeers();
}

void TWinControl::ScaleBy(int m, int d) {
    DisableAlign();
    TControl::ScaleBy(m, d);
    for (TControl* child : std::vector<TControl*>(FControls))
        child->ScaleBy(m, d);
    EnableAlign();
}

void TWinControl::Loaded() {
    TControl::Loaded();
    Realign();
}

void TWinControl::CreateParams(TCreateParams& params) {
    params.Caption = Text();
    params.Style =
        win::WS_CHILD | (Visible() ? win::WS_VISIBLE : 0) | (Enabled() ? 0 : win::WS_DISABLED);
    params.X = Left();
    params.Y = Top();
    params.Width = Width();
    params.Height = Height();
    params.WndParent = Parent() ? Parent()->Handle() : nullptr;
    params.WinClassName = ClassName();
}

void TWinControl::CreateWnd() {
    TCreateParams params;
    CreateParams(params);
    if (!params.WndParent)
        params.Style &= ~win::WS_CHILD;
    win::HINSTANCE instance = win::GetModuleHandle(nullptr);
    if (!RegisteredClasses().count(params.WinClassName)) {
        win::WNDCLASSA existing;
        if (!win::GetClassInfo(instance, params.WinClassName.c_str(), &existing)) {
            auto stored = RegisteredClasses().insert(params.WinClassName).first;
            win::WNDCLASSA wc;
            wc.lpfnWndProc = &TWinControl::InitWndProc;
            wc.cbWndExtra = sizeof(win::LONG_PTR);
            wc.hInstance = instance;
            wc.lpszClassName = stored->c_str();
            if (!win::RegisterClass(&wc)) {
                RegisteredClasses().erase(stored);
                throw EOutOfResources(String("Error creating window class"));
            }
        } else {
            RegisteredClasses().insert(params.WinClassName);
        }
    }
    TWinControl* previous = CreationControl;
    CreationControl = this;
    win::HWND handle = win::CreateWindowEx(
        params.ExStyle, params.WinClassName.c_str(), params.Caption.c_str(), params.Style, params.X,
        params.Y, params.Width, params.Height, params.WndParent, nullptr, instance, this);
    CreationControl = previous;
    if (!handle) {
        FHandle = nullptr;
        throw EOutOfResources(String("Error creating window"));
    }
    FHandle = handle;
}

win::LRESULT TWinControl::InitWndProc(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                                      win::LPARAM lParam) {
    auto* control = reinterpret_cast<TWinControl*>(win::GetWindowLongPtr(hwnd, 0));
    if (!control) {
        control = CreationControl;
        if (!control)
            return win::DefWindowProc(hwnd, msg, wParam, lParam);
        CreationControl = nullptr;
        win::SetWindowLongPtr(hwnd, 0, reinterpret_cast<win::LONG_PTR>(control));
        control->FHandle = hwnd;
    }
    TMessage message{msg, wParam, lParam, 0};
    try {
        control->WindowProc(message);
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
    if (msg == win::WM_NCDESTROY) {
        win::SetWindowLongPtr(hwnd, 0, 0);
        if (control->FHandle == hwnd)
            control->FHandle = nullptr;
    }
    return message.Result;
}

void TWinControl::WndProc(TMessage& message) {
    switch (message.Msg) {
        case win::WM_CHAR: {
            char key = static_cast<char>(message.WParam);
            KeyPress(key);
            message.Result = 0;
            return;
        }
        case win::WM_KEYDOWN: {
            win::WORD key = static_cast<win::WORD>(message.WParam);
            KeyDown(key);
            message.Result = 0;
            return;
        }
        case win::WM_SETFOCUS:
            if (OnEnter)
                OnEnter(this);
            message.Result = 0;
            return;
        case win::WM_KILLFOCUS:
            if (OnExit)
                OnExit(this);
            message.Result = 0;
            return;
        default:
            TControl::WndProc(message);
    }
}

void TWinControl::DefaultHandler(TMessage& message) {
    message.Result =
        FHandle ? win::DefWindowProc(FHandle, message.Msg, message.WParam, message.LParam) : 0;
}

void TWinControl::AdjustClientRect(win::RECT&) const {}

void TWinControl::KeyPress(char&) {}

void TWinControl::KeyDown(win::WORD&) {}

void TWinControl::BoundsChanged() {
    if (FHandle && Parent()) {
        win::MoveWindow(FHandle, Left(), Top(), Width(), Height(), win::TRUE);
    }
    Realign();
}
