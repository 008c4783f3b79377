#pragma once
// The standard controls: label, push button, check box, edit field,
// multi-line text area, group box and panel.

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

// A one-line edit field.  The caret and selection are byte positions from 0.
class TCustomEdit : public TWinControl {
  public:
    explicit TCustomEdit(TComponent* AOwner);
    String ClassName() const override { return "TCustomEdit"; }

    void SetText(const String& value) override;
    // 0 = no limit; typing stops at the limit (assigned text is not cut).
    int MaxLength() const { return FMaxLength; }
    virtual void SetMaxLength(int value);
    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value);
    int SelStart() const { return FSelStart; }
    void SetSelStart(int value);
    int SelLength() const { return FSelLength; }
    void SetSelLength(int value);
    void SelectAll();
    void Clear() { SetText(String()); }

    TNotifyEvent OnChange;

  protected:
    void KeyPress(char& key) override;
    void KeyDown(win::WORD& key) override;
    virtual void Change();
    void SetCaret(int start, int length);

  private:
    int FMaxLength = 0;
    bool FReadOnly = false;
    int FSelStart = 0;
    int FSelLength = 0;
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
