#include "gui/Mask.h"

#include <cctype>

namespace {

bool IsLetter(char c) {
    const auto u = static_cast<unsigned char>(c);
    // cp1251 letters: Latin, and the Cyrillic block 0xC0..0xFF with Ё/ё.
    return std::isalpha(u) || u >= 0xC0 || u == 0xA8 || u == 0xB8;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

// ---- TEditMask ------------------------------------------------------------------------

TEditMask::TEditMask(const String& mask) : FMask(mask) {
    // The picture runs up to the first ";" that is not escaped.
    std::size_t i = 0;
    String picture;
    for (; i < mask.size(); ++i) {
        if (mask[i] == '\\' && i + 1 < mask.size()) {
            picture += mask[i];
            picture += mask[++i];
            continue;
        }
        if (mask[i] == ';')
            break;
        picture += mask[i];
    }
    if (i < mask.size()) {
        ++i;
        if (i < mask.size() && mask[i] != ';') {
            FSaveLiterals = mask[i] != '0';
            ++i;
        }
        if (i < mask.size() && mask[i] == ';' && i + 1 < mask.size())
            FBlank = mask[i + 1];
    }
    for (std::size_t j = 0; j < picture.size(); ++j) {
        const char c = picture[j];
        switch (c) {
            case '>':
            case '<':
            case '!':
                break;
            case '\\':
                if (j + 1 < picture.size())
                    FPositions.push_back(Position{0, picture[++j]});
                break;
            case '9':
            case '0':
            case '#':
            case 'L':
            case 'l':
            case 'A':
            case 'a':
            case 'C':
            case 'c':
                FPositions.push_back(Position{c, 0});
                break;
            default:
                FPositions.push_back(Position{0, c});
                break;
        }
    }
}

bool TEditMask::IsLiteral(int position) const {
    return position >= 0 && position < Count() &&
           FPositions[static_cast<std::size_t>(position)].Picture == 0;
}

char TEditMask::LiteralAt(int position) const {
    return IsLiteral(position) ? FPositions[static_cast<std::size_t>(position)].Literal : 0;
}

bool TEditMask::Accepts(int position, char c) const {
    if (position < 0 || position >= Count())
        return false;
    if (c == 0 || c == FBlank)
        return false;
    switch (FPositions[static_cast<std::size_t>(position)].Picture) {
        case '9':
        case '0':
            return IsDigit(c);
        case '#':
            return IsDigit(c) || c == '+' || c == '-';
        case 'L':
        case 'l':
            return IsLetter(c);
        case 'A':
        case 'a':
            return IsLetter(c) || IsDigit(c);
        case 'C':
        case 'c':
            return static_cast<unsigned char>(c) >= 32;
        default:
            return false;
    }
}

// ---- TMaskEdit -------------------------------------------------------------------------

TMaskEdit::TMaskEdit(TComponent* AOwner) : TCustomEdit(AOwner) {}

void TMaskEdit::SetEditMask(const String& value) {
    if (value == FMask.Mask())
        return;
    const String old = EditText();
    const bool wasMasked = IsMasked();
    const String plain = TCustomEdit::Text();
    FMask = TEditMask(value);
    FCells.assign(static_cast<std::size_t>(FMask.Count()), 0);
    if (IsMasked()) {
        TCustomEdit::SetMaxLength(FMask.Count());
        SetText(wasMasked ? old : plain);
    }
    Changed(ccState);
    Changed(ccText);
}

String TMaskEdit::EditText() const {
    if (!IsMasked())
        return TCustomEdit::Text();
    String shown;
    for (int i = 0; i < FMask.Count(); ++i) {
        if (FMask.IsLiteral(i)) {
            shown += FMask.LiteralAt(i);
        } else {
            const char c = FCells[static_cast<std::size_t>(i)];
            shown += c ? c : FMask.BlankChar();
        }
    }
    return shown;
}

String TMaskEdit::Text() const {
    if (!IsMasked())
        return TCustomEdit::Text();
    const char blank = FMask.BlankChar();
    // 1. the edited content, the blank character in empty positions (and
    //    the literals only when the mask keeps them).
    String text;
    for (int i = 0; i < FMask.Count(); ++i) {
        if (FMask.IsLiteral(i)) {
            if (FMask.SaveLiterals())
                text += FMask.LiteralAt(i);
            continue;
        }
        const char c = FCells[static_cast<std::size_t>(i)];
        text += c ? c : blank;
    }
    const std::size_t width = text.size();
    // 2. the blank characters at the right end go.
    while (!text.empty() && text.back() == blank)
        text.pop_back();
    // 3. those left between characters become spaces.
    for (char& c : text) {
        if (c == blank)
            c = ' ';
    }
    // 4. padded with spaces to the full width.
    text.append(width - text.size(), ' ');
    return text;
}

void TMaskEdit::SetText(const String& value) {
    if (!IsMasked()) {
        TCustomEdit::SetText(value);
        return;
    }
    ClearUndo();
    std::vector<char> cells(static_cast<std::size_t>(FMask.Count()), 0);
    std::size_t next = 0;
    for (int i = 0; i < FMask.Count(); ++i) {
        if (FMask.IsLiteral(i)) {
            // A value that carries the literals steps over them.
            if (FMask.SaveLiterals() && next < value.size())
                ++next;
            continue;
        }
        if (next >= value.size())
            break;
        const char c = value[next++];
        if (FMask.Accepts(i, c))
            cells[static_cast<std::size_t>(i)] = c;
    }
    Store(std::move(cells));
}

void TMaskEdit::Store(std::vector<char> cells) {
    if (cells == FCells)
        return;
    FCells = std::move(cells);
    // The plain text field mirrors what is shown, for the base class's caret.
    SetTextField(EditText());
    Changed(ccText);
    Change();
}

void TMaskEdit::SetMaxLength(int value) {
    if (IsMasked())
        return;
    TCustomEdit::SetMaxLength(value);
}

int TMaskEdit::NextEditable(int from) const {
    for (int i = std::max(0, from); i < FMask.Count(); ++i) {
        if (!FMask.IsLiteral(i))
            return i;
    }
    return -1;
}

int TMaskEdit::PreviousEditable(int from) const {
    for (int i = std::min(from, FMask.Count() - 1); i >= 0; --i) {
        if (!FMask.IsLiteral(i))
            return i;
    }
    return -1;
}

void TMaskEdit::InsertText(const String& text) {
    if (!IsMasked()) {
        TCustomEdit::InsertText(text);
        return;
    }
    std::vector<char> cells = FCells;
    for (int i = SelStart(); i < SelStart() + SelLength() && i < FMask.Count(); ++i)
        cells[static_cast<std::size_t>(i)] = 0;
    int at = SelStart();
    bool placed = false;
    for (char c : text) {
        const int position = NextEditable(at);
        if (position < 0)
            break;
        if (!FMask.Accepts(position, c))
            continue;
        cells[static_cast<std::size_t>(position)] = c;
        at = position + 1;
        placed = true;
    }
    // A character no position takes changes nothing, the selection included.
    if (!placed)
        return;
    Store(std::move(cells));
    const int next = NextEditable(at);
    SetCaret(next < 0 ? FMask.Count() : next, 0);
}

void TMaskEdit::DeleteText(bool forward) {
    if (!IsMasked()) {
        TCustomEdit::DeleteText(forward);
        return;
    }
    std::vector<char> cells = FCells;
    int start = SelStart();
    int end = start + SelLength();
    if (start == end) {
        if (forward) {
            end = start + 1;
        } else {
            start = PreviousEditable(start - 1);
            if (start < 0)
                return;
            end = start + 1;
        }
    }
    for (int i = start; i < end && i < FMask.Count(); ++i) {
        if (!FMask.IsLiteral(i))
            cells[static_cast<std::size_t>(i)] = 0;
    }
    Store(std::move(cells));
    SetCaret(start, 0);
}

void TMaskEdit::RestoreShown(const String& shown, int anchor, int caret) {
    if (!IsMasked()) {
        TCustomEdit::RestoreShown(shown, anchor, caret);
        return;
    }
    std::vector<char> cells(static_cast<std::size_t>(FMask.Count()), 0);
    for (int i = 0; i < FMask.Count() && i < static_cast<int>(shown.size()); ++i) {
        const char c = shown[static_cast<std::size_t>(i)];
        if (!FMask.IsLiteral(i) && FMask.Accepts(i, c))
            cells[static_cast<std::size_t>(i)] = c;
    }
    Store(std::move(cells));
    Select(anchor, caret);
}
