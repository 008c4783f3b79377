#pragma once
// The standard controls: label, push button, check box, edit field,
// multi-line text area, group box and panel.

#include <algorithm>
#include <memory>

#include "gui/Controls.h"
#include "runtime/StringList.h"

class TLabel : public TGraphicControl {
  public:
    explicit TLabel(TComponent* AOwner);
    String ClassName() const override { return "TLabel"; }

    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool value) { FAutoSize = value; }
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value) { FTransparent = value; }

  private:
    TAlignment FAlignment = taLeftJustify;
    bool FAutoSize = true;
    bool FWordWrap = false;
    bool FTransparent = false;
};

class TButton : public TWinControl {
  public:
    explicit TButton(TComponent* AOwner);
    String ClassName() const override { return "TButton"; }

    // The button pressed by Enter / Escape on its form.
    bool Default() const { return FDefault; }
    void SetDefault(bool value);
    bool Cancel() const { return FCancel; }
    void SetCancel(bool value) { FCancel = value; }

  private:
    bool FDefault = false;
    bool FCancel = false;
};

enum TCheckBoxState { cbUnchecked, cbChecked, cbGrayed };

class TCheckBox : public TWinControl {
  public:
    explicit TCheckBox(TComponent* AOwner);
    String ClassName() const override { return "TCheckBox"; }

    bool Checked() const { return FState == cbChecked; }
    // A change fires OnClick, as a click on the box does.
    void SetChecked(bool value) { SetState(value ? cbChecked : cbUnchecked); }
    TCheckBoxState State() const { return FState; }
    void SetState(TCheckBoxState value);
    bool AllowGrayed() const { return FAllowGrayed; }
    void SetAllowGrayed(bool value) { FAllowGrayed = value; }
    // taLeftJustify puts the caption to the left of the box, taRightJustify
    // (the default) to its right.
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);
    // What a click of the user does: the next state.
    void Toggle();

  protected:
    void WndProc(TMessage& message) override;

  private:
    TCheckBoxState FState = cbUnchecked;
    bool FAllowGrayed = false;
    TAlignment FAlignment = taRightJustify;
};

// A one-line edit field, edited as the desktop's own single-line edits are:
// the caret and the selection move by keyboard (Shift extends the selection
// from its anchor, Ctrl moves by words) and by mouse; typing replaces the
// selection; Backspace and Delete remove the selection or one character;
// Ctrl+C/X/V, Ctrl+Insert, Shift+Insert and Shift+Delete use the clipboard;
// Ctrl+Z (or Alt+Backspace) undoes the last edit, and a second undo redoes
// it.  Positions are byte positions from 0.
class TCustomEdit : public TWinControl {
  public:
    explicit TCustomEdit(TComponent* AOwner);
    String ClassName() const override { return "TCustomEdit"; }

    // Replaces the text (and forgets what could be undone).
    void SetText(const String& value) override;
    // 0 = no limit; typing stops at the limit (assigned text is not cut).
    int MaxLength() const { return FMaxLength; }
    virtual void SetMaxLength(int value);
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value);
    // The selection runs from its anchor to the caret, in either direction.
    int SelStart() const { return std::min(FAnchor, FCaret); }
    void SetSelStart(int value);
    int SelLength() const { return FAnchor > FCaret ? FAnchor - FCaret : FCaret - FAnchor; }
    void SetSelLength(int value);
    // Where the caret is: SelStart or SelStart + SelLength.
    int CaretPos() const { return FCaret; }
    // Sets the anchor and the caret (a mouse drag, a backend's selection).
    void Select(int anchor, int caret);
    void SelectAll();
    String SelText() const;
    // Replaces the selection as typing would (the mask applies; undoable).
    void SetSelText(const String& value);
    void ClearSelection();
    void CopyToClipboard();
    void CutToClipboard();
    void PasteFromClipboard();
    bool CanUndo() const { return FCanUndo; }
    void Undo();
    void ClearUndo() { FCanUndo = false; }
    void Clear() { SetText(String()); }

    TNotifyEvent OnChange;

  protected:
    void WndProc(TMessage& message) override;
    void KeyPress(char& key) override;
    void KeyDown(win::WORD& key) override;
    virtual void Change();
    // Anchor at start, caret at start + length.
    void SetCaret(int start, int length);
    // What the field shows (the text a masked field edits).
    String Shown() const { return TControl::Text(); }
    // The user's edits; a masked field performs them under its mask.
    // Inserting replaces the selection; deleting removes the selection, or
    // the character before (Backspace) or after (Delete) the caret.
    virtual void InsertText(const String& text);
    virtual void DeleteText(bool forward);
    // Puts back a shown text and selection (undo).
    virtual void RestoreShown(const String& shown, int anchor, int caret);
    // Runs one edit of the user's; when it changed the text, the state
    // before it is what Undo puts back.  A run of typing is one edit.
    void UserEdit(bool typing, const std::function<void()>& edit);

  private:
    void MoveCaret(int caret, bool extend);

    int FMaxLength = 0;
    bool FReadOnly = false;
    int FAnchor = 0;
    int FCaret = 0;
    bool FCanUndo = false;
    String FUndoShown;
    int FUndoAnchor = 0;
    int FUndoCaret = 0;
    // The caret where a run of typing continues, or -1.
    int FTypingAt = -1;
};

class TEdit : public TCustomEdit {
  public:
    using TCustomEdit::TCustomEdit;
    String ClassName() const override { return "TEdit"; }
};

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// A multi-line text area; its lines are Lines(), its Text the lines joined
// with CR LF.
class TMemo : public TCustomEdit {
  public:
    explicit TMemo(TComponent* AOwner);
    ~TMemo() override;
    String ClassName() const override { return "TMemo"; }

    TStrings* Lines() const { return FLines.get(); }
    void SetLines(TStrings* value) { FLines->Assign(value); }
    String Text() const override;
    void SetText(const String& value) override;
    TScrollStyle ScrollBars() const { return FScrollBars; }
    void SetScrollBars(TScrollStyle value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool value);

  protected:
    void KeyPress(char& key) override;
    void KeyDown(win::WORD& key) override;

  private:
    std::unique_ptr<TStringList> FLines;
    TScrollStyle FScrollBars = ssNone;
    bool FWordWrap = true;
};

class TGroupBox : public TCustomControl {
  public:
    explicit TGroupBox(TComponent* AOwner);
    String ClassName() const override { return "TGroupBox"; }

  protected:
    void AdjustClientRect(win::RECT& rect) const override;
};

enum TPanelBevel { bvNone, bvLowered, bvRaised, bvSpace };

class TPanel : public TCustomControl {
  public:
    explicit TPanel(TComponent* AOwner);
    String ClassName() const override { return "TPanel"; }

    TPanelBevel BevelInner() const { return FBevelInner; }
    void SetBevelInner(TPanelBevel value);
    TPanelBevel BevelOuter() const { return FBevelOuter; }
    void SetBevelOuter(TPanelBevel value);
    int BevelWidth() const { return FBevelWidth; }
    void SetBevelWidth(int value);
    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);

  protected:
    void AdjustClientRect(win::RECT& rect) const override;

  private:
    TPanelBevel FBevelInner = bvNone;
    TPanelBevel FBevelOuter = bvRaised;
    int FBevelWidth = 1;
    int FBorderWidth = 0;
    TAlignment FAlignment = taCenter;
};
