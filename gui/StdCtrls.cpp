#include "gui/StdCtrls.h"

#include <algorithm>

#include "gui/Clipbrd.h"

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

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// Ctrl+Right: past the rest of this word and the blanks after it.
int NextWord(const String& text, int from) {
    const int size = static_cast<int>(text.size());
    int i = from;
    while (i < size && !IsBlank(text[static_cast<std::size_t>(i)]))
        ++i;
    while (i < size && IsBlank(text[static_cast<std::size_t>(i)]))
        ++i;
    return i;
}

// Ctrl+Left: back over blanks, then to the start of the word before them.
int PreviousWord(const String& text, int from) {
    int i = from;
    while (i > 0 && IsBlank(text[static_cast<std::size_t>(i - 1)]))
        --i;
    while (i > 0 && !IsBlank(text[static_cast<std::size_t>(i - 1)]))
        --i;
    return i;
}

// Pasted text is one line: it ends at the first line break or NUL.
String FirstLine(const String& text) {
    const std::size_t end = text.find_first_of(String("\r\n\0", 3));
    return end == String::npos ? text : text.substr(0, end);
}

}  // namespace

TCustomEdit::TCustomEdit(TComponent* AOwner) : TWinControl(AOwner) {
    SetBounds(0, 0, 121, 21);
    SetTabStop(true);
    SetColor(clWindow);
}

void TCustomEdit::SetText(const String& value) {
    FCanUndo = false;
    FTypingAt = -1;
    if (value == Text())
        return;
    TWinControl::SetText(value);
    SetCaret(std::min(SelStart(), static_cast<int>(Shown().size())), 0);
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
    SetCaret(SelStart(), value);
}

void TCustomEdit::SelectAll() {
    SetCaret(0, static_cast<int>(Shown().size()));
}

void TCustomEdit::SetCaret(int start, int length) {
    const int size = static_cast<int>(Shown().size());
    start = std::clamp(start, 0, size);
    length = std::clamp(length, 0, size - start);
    Select(start, start + length);
}

void TCustomEdit::Select(int anchor, int caret) {
    const int size = static_cast<int>(Shown().size());
    anchor = std::clamp(anchor, 0, size);
    caret = std::clamp(caret, 0, size);
    if (anchor == FAnchor && caret == FCaret)
        return;
    FAnchor = anchor;
    FCaret = caret;
    FTypingAt = -1;
    Changed(ccSelection);
}

void TCustomEdit::MoveCaret(int caret, bool extend) {
    Select(extend ? FAnchor : caret, caret);
}

String TCustomEdit::SelText() const {
    return Shown().substr(static_cast<std::size_t>(SelStart()),
                          static_cast<std::size_t>(SelLength()));
}

void TCustomEdit::SetSelText(const String& value) {
    UserEdit(false, [&] { InsertText(value); });
}

void TCustomEdit::ClearSelection() {
    if (SelLength() > 0)
        UserEdit(false, [&] { DeleteText(true); });
}

void TCustomEdit::CopyToClipboard() {
    if (SelLength() > 0)
        Clipboard()->SetAsText(SelText());
}

void TCustomEdit::CutToClipboard() {
    if (FReadOnly || SelLength() == 0)
        return;
    CopyToClipboard();
    ClearSelection();
}

void TCustomEdit::PasteFromClipboard() {
    const String text = FirstLine(Clipboard()->AsText());
    if (!text.empty())
        SetSelText(text);
}

void TCustomEdit::Undo() {
    if (FReadOnly || !FCanUndo)
        return;
    // The undone state can be undone in turn (a second undo redoes).
    const String shown = Shown();
    const int anchor = FAnchor;
    const int caret = FCaret;
    RestoreShown(FUndoShown, FUndoAnchor, FUndoCaret);
    FUndoShown = shown;
    FUndoAnchor = anchor;
    FUndoCaret = caret;
    FCanUndo = true;
    FTypingAt = -1;
}

void TCustomEdit::UserEdit(bool typing, const std::function<void()>& edit) {
    if (FReadOnly)
        return;
    const bool continuing = typing && FTypingAt >= 0 && FTypingAt == FCaret && SelLength() == 0;
    const String before = Shown();
    const int anchor = FAnchor;
    const int caret = FCaret;
    edit();
    if (Shown() == before)
        return;
    if (!continuing || !FCanUndo) {
        FUndoShown = before;
        FUndoAnchor = anchor;
        FUndoCaret = caret;
    }
    FCanUndo = true;
    FTypingAt = typing ? FCaret : -1;
}

void TCustomEdit::InsertText(const String& text) {
    String shown = Shown();
    const auto start = static_cast<std::size_t>(SelStart());
    const auto length = static_cast<std::size_t>(SelLength());
    String inserted = text;
    if (FMaxLength > 0) {
        const std::size_t kept = shown.size() - length;
        const std::size_t room =
            kept >= static_cast<std::size_t>(FMaxLength) ? 0 : FMaxLength - kept;
        inserted.resize(std::min(inserted.size(), room));
    }
    // Nothing fits: the field stays as it was, selection included.
    if (inserted.empty() && !text.empty())
        return;
    shown.erase(start, length);
    shown.insert(start, inserted);
    TWinControl::SetText(shown);
    const int caret = static_cast<int>(start + inserted.size());
    Select(caret, caret);
    Change();
}

void TCustomEdit::DeleteText(bool forward) {
    String shown = Shown();
    int start = SelStart();
    int length = SelLength();
    if (length == 0) {
        if (forward && start < static_cast<int>(shown.size())) {
            length = 1;
        } else if (!forward && start > 0) {
            start -= 1;
            length = 1;
        } else {
            return;
        }
    }
    shown.erase(static_cast<std::size_t>(start), static_cast<std::size_t>(length));
    TWinControl::SetText(shown);
    Select(start, start);
    Change();
}

void TCustomEdit::RestoreShown(const String& shown, int anchor, int caret) {
    TWinControl::SetText(shown);
    Select(anchor, caret);
    Change();
}

void TCustomEdit::WndProc(TMessage& message) {
    switch (message.Msg) {
        case WM_CUT:
            CutToClipboard();
            break;
        case WM_COPY:
            CopyToClipboard();
            break;
        case WM_PASTE:
            if (!FReadOnly)
                PasteFromClipboard();
            break;
        case WM_CLEAR:
            ClearSelection();
            break;
        case WM_UNDO:
            Undo();
            message.Result = FCanUndo ? win::TRUE : win::FALSE;
            return;
        default:
            TWinControl::WndProc(message);
            return;
    }
    message.Result = 0;
}

void TCustomEdit::KeyPress(char& key) {
    switch (key) {
        case 0x01:  // Ctrl+A
            SelectAll();
            return;
        case 0x03:  // Ctrl+C
            CopyToClipboard();
            return;
        case 0x16:  // Ctrl+V
            if (!FReadOnly)
                PasteFromClipboard();
            return;
        case 0x18:  // Ctrl+X
            CutToClipboard();
            return;
        case 0x1A:  // Ctrl+Z
            Undo();
            return;
        default:
            break;
    }
    if (FReadOnly) {
        key = 0;
        return;
    }
    if (key == '\b') {
        UserEdit(false, [&] { DeleteText(false); });
        return;
    }
    if (static_cast<unsigned char>(key) < 32) {
        key = 0;
        return;
    }
    UserEdit(true, [&] { InsertText(String(1, key)); });
}

void TCustomEdit::KeyDown(win::WORD& key) {
    const TShiftState shift = KeyShiftState();
    const bool extend = shift.Contains(ssShift);
    const bool words = shift.Contains(ssCtrl);
    const String shown = Shown();
    switch (key) {
        case VK_LEFT:
            if (!extend && SelLength() > 0) {
                SetCaret(SelStart(), 0);
            } else {
                MoveCaret(words ? PreviousWord(shown, FCaret) : FCaret - 1, extend);
            }
            break;
        case VK_RIGHT:
            if (!extend && SelLength() > 0) {
                SetCaret(SelStart() + SelLength(), 0);
            } else {
                MoveCaret(words ? NextWord(shown, FCaret) : FCaret + 1, extend);
            }
            break;
        case VK_HOME:
            MoveCaret(0, extend);
            break;
        case VK_END:
            MoveCaret(static_cast<int>(shown.size()), extend);
            break;
        case VK_DELETE:
            if (extend) {
                CutToClipboard();
            } else {
                UserEdit(false, [&] { DeleteText(true); });
            }
            break;
        case VK_INSERT:
            if (words) {
                CopyToClipboard();
            } else if (extend && !FReadOnly) {
                PasteFromClipboard();
            }
            break;
        case VK_BACK:
            // Alt+Backspace undoes, as Ctrl+Z does.
            if (shift.Contains(ssAlt))
                Undo();
            break;
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
