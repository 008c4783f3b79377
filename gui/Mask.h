#pragma once
// Masked edit fields.  A mask "999;1;_" has three fields separated by ";":
// the picture, whether Text keeps the literal characters ("1") or not
// ("0"), and the character shown in empty positions ("_").  Picture
// characters: 9 an optional digit, 0 a required digit, # an optional digit
// or sign, L/l a letter (required/optional), A/a a letter or digit, C/c any
// character; \ makes the next character a literal; > < ! are accepted and
// ignored; every other character is a literal.  One picture character is one
// position.
//
// Only a character its position accepts can be typed into it; typing
// overwrites the position at the caret and moves to the next editable one.
// A selection is emptied by typing, Backspace and Delete; the caret,
// selection, clipboard and undo work as in any edit field.
//
// Text is always the full width of the mask: the positions with the blank
// character in empty ones, the blank characters at the right end dropped,
// the remaining ones (empty positions between characters) turned into
// spaces, and the result padded with spaces to the number of positions.  So
// with "999;1;_", 20 reads "20 ", an empty field "   ", and 2 and 0 with the
// middle left empty "2 0".  EditText is what the field shows ("20_").

#include <vector>

#include "gui/StdCtrls.h"

class TEditMask {
  public:
    TEditMask() = default;
    explicit TEditMask(const String& mask);

    const String& Mask() const { return FMask; }
    bool Empty() const { return FPositions.empty(); }
    int Count() const { return static_cast<int>(FPositions.size()); }
    bool SaveLiterals() const { return FSaveLiterals; }
    char BlankChar() const { return FBlank; }
    bool IsLiteral(int position) const;
    char LiteralAt(int position) const;
    // Whether c may stand in the position.
    bool Accepts(int position, char c) const;

  private:
    struct Position {
        char Picture = 0;  // 0 for a literal
        char Literal = 0;
    };
    String FMask;
    std::vector<Position> FPositions;
    bool FSaveLiterals = true;
    char FBlank = '_';
};

class TMaskEdit : public TCustomEdit {
  public:
    explicit TMaskEdit(TComponent* AOwner);
    String ClassName() const override { return "TMaskEdit"; }

    const String& EditMask() const { return FMask.Mask(); }
    // Keeps what the editable positions hold where they still fit.
    void SetEditMask(const String& value);
    bool IsMasked() const { return !FMask.Empty(); }

    // The masked text (see the top of this file); without a mask, the plain text.
    String Text() const override;
    // Fills the positions from the value, one character per position: a
    // blank, the blank character or a character the position does not
    // accept leaves it empty; literal positions keep their literal.
    void SetText(const String& value) override;
    // What the field shows: literals, characters, the blank character in
    // empty positions.
    String EditText() const;
    void SetEditText(const String& value) { SetText(value); }
    // With a mask, the number of positions.
    void SetMaxLength(int value) override;

  protected:
    // Typing and pasting overwrite positions from the caret on, each
    // character in the next position that accepts it; deleting empties
    // positions.
    void InsertText(const String& text) override;
    void DeleteText(bool forward) override;
    void RestoreShown(const String& shown, int anchor, int caret) override;

  private:
    int NextEditable(int from) const;
    int PreviousEditable(int from) const;
    void Store(std::vector<char> cells);

    TEditMask FMask;
    std::vector<char> FCells;  // one per position; 0 = empty
};
