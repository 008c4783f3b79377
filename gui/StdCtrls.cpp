#include "gui/StdCtrls.h"

#include <algorithm>

// ---- TLabel -----------------------------------------------------------------------

TLabel::TLabel(TComponent* AOwner) : TGraphicControl(AOwner) {
    SetBounds(0, 0, 65, 13);
}

void TLabel::SetAlignment(TAlignment value) {
    if (value == FAlignment)
        return;
    FAlignment = value;
    Changed(ccState);
}

void TLabel::SetWordWrap(bool value) {
    if (value == FWordWrap)
        return;
    FWordWrap = value;
    Changed(ccState);
}

// ---- TButton ----------------------------------------------------------------------

TButton::TButton(TComponent* AOwner) : TWinControl(AOwner) {
    SetBounds(0, 0, 75, 25);
    SetTabStop(true);
}

void TButton::SetDefault(bool value) {
    if (value == FDefault)
        return;
    FDefault = value;
    Changed(ccState);
}

// ---- TCheckBox ----------------------------------------------------------------------

TCheckBox::TCheckBox(TComponent* AOwner) : TWinControl(AOwner) {
    SetBounds(0, 0, 97, 17);
    SetTabStop(true);
}

void TCheckBox::SetState(TCheckBoxState value) {
    if (value == FState)
        return;
    FState = value;
    Changed(ccState);
    if (!ComponentState().Contains(csLoading))
        Click();
}

void TCheckBox::SetAlignment(TAlignment value) {
    if (value == FAlignment)
        return;
    FAlignment = value;
    Changed(ccState);
}

void TCheckBox::Toggle() {
    switch (FState) {
        case cbUnchecked:
            SetState(FAllowGrayed ? cbGrayed : cbChecked);
            break;
        case cbChecked:
            SetState(cbUnchecked);
            break;
        case cbGrayed:
            SetState(cbChecked);
            break;
    }
}

void TCheckBox::WndProc(TMessage& message) {
    if (message.Msg == CN_COMMAND) {
        if (Enabled())
            Toggle();
        message.Result = 0;
        return;
    }
    TWinControl::WndProc(message);
}

// ---- TCustomEdit ----------------------------------------------------------------------

TCustomEdit::TCustomEdit(TComponent* AOwner) : TWinControl(AOwner) {
    SetBounds(0, 0, 121, 21);
    SetTabStop(true);
    SetColor(clWindow);
}

void TCustomEdit::SetText(const String& value) {
    if (value == Text())
        return;
    TWinControl::SetText(value);
    SetCaret(std::min(FSelStart, static_cast<int>(Text().size())), 0);
    Change();
}

void TCustomEdit::SetMaxLength(int value) {
    FMaxLength = std::max(0, value);
}

void TCustomEdit::SetReadOnly(bool value) {
    if (value == FReadOnly)
        return;
    FReadOnly = value;
    Changed(ccState);
}

void TCustomEdit::SetSelStart(int value) {
    SetCaret(value, 0);
}

void TCustomEdit::SetSelLength(int value) {
    SetCaret(FSelStart, value);
}

void TCustomEdit::SelectAll() {
    SetCaret(0, static_cast<int>(Text().size()));
}

void TCustomEdit::SetCaret(int start, int length) {
    const int size = static_cast<int>(Text().size());
    start = std::clamp(start, 0, size);
    length = std::clamp(length, 0, size - start);
    if (start == FSelStart && length == FSelLength)
        return;
    FSelStart = start;
    FSelLength = length;
    Changed(ccSelection);
}

void TCustomEdit::KeyPress(char& key) {
    if (FReadOnly) {
        key = 0;
        return;
    }
    String text = Text();
    const auto start = static_cast<std::size_t>(FSelStart);
    const auto length = static_cast<std::size_t>(FSelLength);
    if (key == '\b') {
        if (length > 0) {
            text.erase(start, length);
            TWinControl::SetText(text);
            SetCaret(FSelStart, 0);
        } else if (start > 0) {
            text.erase(start - 1, 1);
            TWinControl::SetText(text);
            SetCaret(FSelStart - 1, 0);
        } else {
            return;
        }
        Change();
        return;
    }
    if (static_cast<unsigned char>(key) < 32) {
        key = 0;
        return;
    }
    text.erase(start, length);
    if (FMaxLength > 0 && static_cast<int>(text.size()) >= FMaxLength) {
        key = 0;
        return;
    }
    text.insert(start, 1, key);
    TWinControl::SetText(text);
    SetCaret(FSelStart + 1, 0);
    Change();
}

void TCustomEdit::KeyDown(win::WORD& key) {
    const int size = static_cast<int>(Text().size());
    switch (key) {
        case VK_LEFT:
            SetCaret(FSelLength > 0 ? FSelStart : FSelStart - 1, 0);
            break;
        case VK_RIGHT:
            SetCaret(FSelLength > 0 ? FSelStart + FSelLength : FSelStart + 1, 0);
            break;
        case VK_HOME:
            SetCaret(0, 0);
            break;
        case VK_END:
            SetCaret(size, 0);
            break;
        case VK_DELETE: {
            if (FReadOnly)
                return;
            String text = Text();
            std::size_t count = FSelLength > 0 ? static_cast<std::size_t>(FSelLength) : 1;
            if (static_cast<std::size_t>(FSelStart) >= text.size())
                return;
            text.erase(static_cast<std::size_t>(FSelStart), count);
            TWinControl::SetText(text);
            SetCaret(FSelStart, 0);
            Change();
            break;
        }
        default:
            break;
    }
}

void TCustomEdit::Change() {
    if (OnChange)
        OnChange(this);
}

// ---- TMemo ------------------------------------------------------------------------------

TMemo::TMemo(TComponent* AOwner) : TCustomEdit(AOwner), FLines(std::make_unique<TStringList>()) {
    SetBounds(0, 0, 185, 89);
    FLines->OnChange = [this](TObject*) {
        Changed(ccText);
        Change();
    };
}

TMemo::~TMemo() {
    FLines->OnChange = nullptr;
}

String TMemo::Text() const {
    String text;
    for (int i = 0; i < FLines->Count(); ++i) {
        if (i > 0)
            text += "\r\n";
        text += FLines->Strings(i);
    }
    return text;
}

void TMemo::SetText(const String& value) {
    if (value == Text())
        return;
    FLines->SetText(value);
}

void TMemo::SetScrollBars(TScrollStyle value) {
    if (value == FScrollBars)
        return;
    FScrollBars = value;
    Changed(ccState);
}

void TMemo::SetWordWrap(bool value) {
    if (value == FWordWrap)
        return;
    FWordWrap = value;
    Changed(ccState);
}

void TMemo::KeyPress(char& key) {
    if (ReadOnly()) {
        key = 0;
        return;
    }
    if (key == '\r') {
        FLines->Add(String());
        return;
    }
    if (key == '\b') {
        String text = Text();
        if (!text.empty()) {
            text.pop_back();
            if (!text.empty() && text.back() == '\r')
                text.pop_back();
            SetText(text);
        }
        return;
    }
    if (static_cast<unsigned char>(key) < 32)
        return;
    if (FLines->Count() == 0)
        FLines->Add(String());
    const int last = FLines->Count() - 1;
    FLines->SetStrings(last, FLines->Strings(last) + key);
}

void TMemo::KeyDown(win::WORD&) {}

// ---- TGroupBox ----------------------------------------------------------------------------

TGroupBox::TGroupBox(TComponent* AOwner) : TCustomControl(AOwner) {
    SetBounds(0, 0, 185, 105);
}

void TGroupBox::AdjustClientRect(win::RECT& rect) const {
    // The caption's line, then the etched frame.
    rect.top += (Font()->Height() < 0 ? -Font()->Height() : Font()->Height()) + 2;
    rect.left += 2;
    rect.top += 2;
    rect.right -= 2;
    rect.bottom -= 2;
}

// ---- TPanel ----------------------------------------------------------------------------------

TPanel::TPanel(TComponent* AOwner) : TCustomControl(AOwner) {
    SetBounds(0, 0, 185, 41);
}

void TPanel::SetBevelInner(TPanelBevel value) {
    if (value == FBevelInner)
        return;
    FBevelInner = value;
    Changed(ccState);
    Realign();
}

void TPanel::SetBevelOuter(TPanelBevel value) {
    if (value == FBevelOuter)
        return;
    FBevelOuter = value;
    Changed(ccState);
    Realign();
}

void TPanel::SetBevelWidth(int value) {
    if (value == FBevelWidth || value < 1)
        return;
    FBevelWidth = value;
    Changed(ccState);
    Realign();
}

void TPanel::SetBorderWidth(int value) {
    if (value == FBorderWidth || value < 0)
        return;
    FBorderWidth = value;
    Changed(ccState);
    Realign();
}

void TPanel::SetAlignment(TAlignment value) {
    if (value == FAlignment)
        return;
    FAlignment = value;
    Changed(ccState);
}

void TPanel::AdjustClientRect(win::RECT& rect) const {
    int inset = FBorderWidth;
    if (FBevelOuter != bvNone)
        inset += FBevelWidth;
    if (FBevelInner != bvNone)
        inset += FBevelWidth;
    rect.left += inset;
    rect.top += inset;
    rect.right -= inset;
    rect.bottom -= inset;
}
