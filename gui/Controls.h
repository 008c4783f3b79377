#pragma once
// Controls: TControl (a rectangle with text, font, visibility and alignment,
// placed on a parent) and TWinControl (a control with a window of the
// message layer, created on demand).  Every windowed control's window runs
// one window procedure that hands the message to the control's WindowProc;
// a hook may replace that procedure through GWL_WNDPROC and call on.
//
// A rendering backend (gui/Backend.h) watches the controls through peers:
// each change of what is seen calls Changed() with what changed, and the
// backend's input reaches the controls as messages through their windows
// (gui/Input.h), so hooks see it and handler exceptions reach the
// application's exception handler.

#include <memory>
#include <vector>

#include "platform/messages/Messages.h"
#include "runtime/Classes.h"
#include "runtime/String.h"

class TWinControl;
class TControlPeer;

// Colours: 0x00BBGGRR, or a system colour with the high bit set.
using TColor = std::int32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clNavy = 0x800000;
constexpr TColor clGray = 0x808080;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clWindow = static_cast<TColor>(0x80000005);
constexpr TColor clWindowText = static_cast<TColor>(0x80000008);
constexpr TColor clBtnFace = static_cast<TColor>(0x8000000F);
constexpr TColor clBtnText = static_cast<TColor>(0x80000012);
// The RGB value of a colour (system colours resolved to the classic scheme).
std::uint32_t ColorToRGB(TColor color);

using TCursor = int;
constexpr TCursor crDefault = 0;
constexpr TCursor crArrow = -2;
constexpr TCursor crIBeam = -4;
constexpr TCursor crHourGlass = -11;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
using TFontStyles = TSet<TFontStyle>;

// Our own messages between the framework's pieces.
constexpr win::UINT CM_BASE = 0xB000;
// The user activated the control (button press, check box click): Click().
constexpr win::UINT CN_COMMAND = 0xBD11;
// The user picked a date in a picker; lParam points at the TDateTime.
constexpr win::UINT CN_DATECHANGE = 0xBD12;

// Key codes of WM_KEYDOWN the edits and the date picker handle.
constexpr win::WPARAM VK_BACK = 0x08;
constexpr win::WPARAM VK_TAB = 0x09;
constexpr win::WPARAM VK_RETURN = 0x0D;
constexpr win::WPARAM VK_END = 0x23;
constexpr win::WPARAM VK_HOME = 0x24;
constexpr win::WPARAM VK_LEFT = 0x25;
constexpr win::WPARAM VK_UP = 0x26;
constexpr win::WPARAM VK_RIGHT = 0x27;
constexpr win::WPARAM VK_DOWN = 0x28;
constexpr win::WPARAM VK_INSERT = 0x2D;
constexpr win::WPARAM VK_DELETE = 0x2E;

// The clipboard and undo requests an edit field answers.
constexpr win::UINT WM_CUT = 0x0300;
constexpr win::UINT WM_COPY = 0x0301;
constexpr win::UINT WM_PASTE = 0x0302;
constexpr win::UINT WM_CLEAR = 0x0303;
constexpr win::UINT WM_UNDO = 0x0304;

// The modifier keys.
enum TShiftStateItem { ssShift, ssAlt, ssCtrl };
using TShiftState = TSet<TShiftStateItem>;
// The modifiers that were held down when the key message now being handled
// was sent (empty outside a key message).
TShiftState KeyShiftState();

// A font: "MS Sans Serif" 8 points in window-text colour unless set.
class TFont : public TPersistent {
  public:
    TFont() = default;
    String ClassName() const override { return "TFont"; }

    const String& Name() const { return FName; }
    void SetName(const String& value);
    int Size() const { return FSize; }
    void SetSize(int value);
    // Height in pixels (negative: character height without internal leading),
    // at the 96 dpi design resolution.
    int Height() const;
    void SetHeight(int value);
    TColor Color() const { return FColor; }
    void SetColor(TColor value);
    TFontStyles Style() const { return FStyle; }
    void SetStyle(TFontStyles value);
    int PixelsPerInch() const { return FPixelsPerInch; }
    void SetPixelsPerInch(int value) { FPixelsPerInch = value; }

    void Assign(TPersistent* source) override;

    TNotifyEvent OnChange;

  private:
    void Changed();

    String FName = "MS Sans Serif";
    int FSize = 8;
    TColor FColor = clWindowText;
    TFontStyles FStyle;
    int FPixelsPerInch = 96;
};

// What a peer is told has changed.
enum TControlChange {
    ccBounds,       // Left, Top, Width, Height
    ccText,         // Caption / Text
    ccVisible,      // Visible
    ccEnabled,      // Enabled
    ccFont,         // Font
    ccColor,        // Color
    ccState,        // the control's own state: Checked, ReadOnly, Lines, Date, SimpleText...
    ccMenu,         // a form's menu or one of its items
    ccWindowState,  // a form's minimised / maximised / normal state
    ccBorder,       // a form's BorderStyle / BorderIcons / FormStyle
    ccFocus,        // the focused control of a form
    ccSelection     // the caret / selection of an edit
};

class TControl : public TComponent {
  public:
    explicit TControl(TComponent* AOwner);
    ~TControl() override;
    String ClassName() const override { return "TControl"; }

    TWinControl* Parent() const { return FParent; }
    virtual void SetParent(TWinControl* value);

    int Left() const { return FLeft; }
    int Top() const { return FTop; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    void SetLeft(int value) { SetBounds(value, FTop, FWidth, FHeight); }
    void SetTop(int value) { SetBounds(FLeft, value, FWidth, FHeight); }
    void SetWidth(int value) { SetBounds(FLeft, FTop, value, FHeight); }
    void SetHeight(int value) { SetBounds(FLeft, FTop, FWidth, value); }
    virtual void SetBounds(int left, int top, int width, int height);
    win::RECT BoundsRect() const;
    // The area inside the control's border, at (0, 0).
    virtual int ClientWidth() const { return FWidth; }
    virtual int ClientHeight() const { return FHeight; }
    void SetClientWidth(int value) { SetClientSize(value, ClientHeight()); }
    void SetClientHeight(int value) { SetClientSize(ClientWidth(), value); }
    virtual void SetClientSize(int width, int height);
    win::RECT ClientRect() const;
    // The control's top-left corner in the coordinates of its form's client area.
    win::POINT ClientOrigin() const;

    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign value);

    bool Visible() const { return FVisible; }
    virtual void SetVisible(bool value);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    // Visible, and every parent up to a visible form visible.
    bool Showing() const;

    bool Enabled() const { return FEnabled; }
    virtual void SetEnabled(bool value);

    TFont* Font() const { return FFont.get(); }
    void SetFont(TFont* value) { FFont->Assign(value); }
    TColor Color() const { return FColor; }
    void SetColor(TColor value);
    TCursor Cursor() const { return FCursor; }
    void SetCursor(TCursor value) { FCursor = value; }

    // Caption and Text are the same text.
    virtual String Text() const { return FText; }
    virtual void SetText(const String& value);
    String Caption() const { return Text(); }
    void SetCaption(const String& value) { SetText(value); }
    // The name a screen reader gives the control, when its caption or its
    // label does not tell (gui/Accessible.h).
    const String& AccessibleName() const { return FAccessibleName; }
    void SetAccessibleName(const String& value) { FAccessibleName = value; }

    // Asks the backend to draw the control again (nothing headless).
    void Invalidate() { Changed(ccState); }
    void Repaint() { Invalidate(); }

    // Fires OnClick when the control is enabled.
    virtual void Click();
    TNotifyEvent OnClick;

    // The message handler: WindowProc starts as WndProc; replace it to watch
    // the control's messages without a window (Perform calls it directly).
    std::function<void(TMessage&)> WindowProc;
    win::LRESULT Perform(win::UINT msg, win::WPARAM wParam, win::LPARAM lParam);

    // The form the control lies on (or the form itself), or nullptr.
    class TCustomForm* GetParentForm() const;

    TControlPeer* Peer() const { return FPeer.get(); }
    // Tells the peer (when there is one) that something it shows changed.
    void Changed(TControlChange what);
    // Makes the peers of this control and its children (with a backend, under a shown form).
    virtual void CreatePeers();
    // Scales position, size and font by m/d (a layout designed at d dpi shown at m dpi).
    virtual void ScaleBy(int m, int d);

  protected:
    virtual void WndProc(TMessage& message);
    virtual void DefaultHandler(TMessage& message);
    // Size or position changed (after the fields hold the new values).
    virtual void BoundsChanged();
    void RequestAlign();
    void FontChanged();
    // Sets the text without telling anyone (for controls that keep it themselves).
    void SetTextField(const String& value) { FText = value; }

  private:
    friend class TWinControl;

    TWinControl* FParent = nullptr;
    int FLeft = 0;
    int FTop = 0;
    int FWidth = 0;
    int FHeight = 0;
    TAlign FAlign = alNone;
    bool FVisible = true;
    bool FEnabled = true;
    std::unique_ptr<TFont> FFont;
    TColor FColor = clBtnFace;
    TCursor FCursor = crDefault;
    String FText;
    String FAccessibleName;
    std::unique_ptr<TControlPeer> FPeer;
};

// A control without a window of its own (a label).
class TGraphicControl : public TControl {
  public:
    using TControl::TControl;
    String ClassName() const override { return "TGraphicControl"; }
};

struct TCreateParams {
    String Caption;
    win::DWORD Style = 0;
    win::DWORD ExStyle = 0;
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
    win::HWND WndParent = nullptr;
    String WinClassName;
};

class TWinControl : public TControl {
  public:
    explicit TWinControl(TComponent* AOwner);
    // Frees the child controls (last first), then the window.
    ~TWinControl() override;
    String ClassName() const override { return "TWinControl"; }

    // The window, created on the first request (the parent's window first).
    win::HWND Handle();
    bool HandleAllocated() const { return FHandle != nullptr; }
    void HandleNeeded() { (void)Handle(); }
    // Destroys the window (WM_DESTROY reaches the window procedure); the
    // next Handle() makes a new one.
    void DestroyHandle();
    // The control owning a window made by this framework, or nullptr.
    static TWinControl* FindControl(win::HWND handle);

    int ControlCount() const { return static_cast<int>(FControls.size()); }
    TControl* Controls(int index) const;
    // Lays the aligned children out: alTop ones from the top down (by Top),
    // alBottom ones from the bottom up (by bottom edge, lowest first),
    // then alLeft, alRight, and alClient in what remains; equal positions
    // keep the child order.
    void Realign();
    void DisableAlign() { ++FAlignDisabled; }
    void EnableAlign();

    int TabOrder() const;
    void SetTabOrder(int value);
    bool TabStop() const { return FTabStop; }
    void SetTabStop(bool value) { FTabStop = value; }
    // Children that take part in the tab order, in that order.
    std::vector<TWinControl*> TabList() const;
    // Visible and enabled up to the form.
    virtual bool CanFocus() const;
    // Whether a sibling above it (made later), or one above a parent, covers
    // it whole, so the user cannot see it.
    bool Covered() const;
    // The control that Tab (goForward) or Shift+Tab moves to from current,
    // in the tab orders of this control and its children, round at the ends:
    // a tab stop that can take the focus and is not covered; nullptr when
    // there is none.
    TWinControl* FindNextControl(TWinControl* current, bool goForward) const;
    bool Focused() const;
    virtual void SetFocus();

    TNotifyEvent OnEnter;
    TNotifyEvent OnExit;

    void CreatePeers() override;
    void ScaleBy(int m, int d) override;
    void Loaded() override;

  protected:
    virtual void CreateParams(TCreateParams& params);
    virtual void CreateWnd();
    void WndProc(TMessage& message) override;
    void DefaultHandler(TMessage& message) override;
    // The client area that aligned children share (inside borders and bevels).
    virtual void AdjustClientRect(win::RECT& rect) const;
    virtual void KeyPress(char& key);
    virtual void KeyDown(win::WORD& key);
    void BoundsChanged() override;

  private:
    friend class TControl;
    void InsertControl(TControl* control);
    void RemoveControl(TControl* control);
    void AlignControls();
    static win::LRESULT InitWndProc(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                                    win::LPARAM lParam);

    win::HWND FHandle = nullptr;
    std::vector<TControl*> FControls;
    std::vector<TWinControl*> FTabList;
    int FAlignDisabled = 0;
    bool FAligning = false;
    bool FTabStop = false;
};

// A windowed control that draws itself (panels, group boxes).
class TCustomControl : public TWinControl {
  public:
    using TWinControl::TWinControl;
    String ClassName() const override { return "TCustomControl"; }
};
