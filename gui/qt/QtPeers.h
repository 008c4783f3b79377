#pragma once
// The Qt backend's own parts, shared by its files and by nothing outside
// gui/qt: the widget each shown control has, and the peer that keeps that
// widget in step with its control.  Each family of controls has its peers in
// a file of its own (QtFormPeer, QtStdCtrlPeers, QtEditPeers,
// QtComCtrlPeers); TQtBackend::CreatePeer picks the one for a control.

#include <QPalette>
#include <QPointer>
#include <QWidget>
#include <map>
#include <memory>
#include <vector>

#include "gui/Backend.h"

class QKeyEvent;
class TCustomForm;
class TLabel;
class TButton;
class TCheckBox;
class TGroupBox;
class TPanel;
class TCustomEdit;
class TMemo;
class TStatusBar;
class TDateTimePicker;

// The widget that shows each control, for as long as its peer lives.
std::map<const TControl*, QWidget*>& ControlWidgets();
// The control a widget shows; nullptr for a widget that shows none.
TControl* ControlOf(const QWidget* widget);

// The contrast of two colours as readers measure it, 1 to 21.
double ContrastRatio(const QColor& a, const QColor& b);

// The modifiers of a Qt key event as the framework's shift state.
TShiftState ShiftOf(const QKeyEvent* event);

// Shows one control in its own widget.  The control is the truth: Changed()
// reads again what it names and applies it to the widget; while it does,
// FApplying is set, so the widget's own change signals are not taken for the
// user's.
class TWidgetPeer : public TControlPeer {
  public:
    // Takes the widget; it goes with the peer.
    TWidgetPeer(TControl* control, QWidget* widget);
    ~TWidgetPeer() override;

    // Where the widgets of child controls go.
    virtual QWidget* ChildParent() { return FWidget; }

    void Changed(TControlChange what) override;
    // Applies the whole state of the control once, after the peer is made.
    void Init();

  protected:
    virtual void ApplyBounds();
    virtual void ApplyVisible() { FWidget->setVisible(FControl->Visible()); }
    virtual void ApplyText() {}
    virtual void ApplyState() {}
    void ApplyFont();
    // The colours drawn behind a text of the control: the palette's colour
    // of that background, unless the style paints more than one.
    virtual std::vector<QColor> DrawnBackground(const QPalette& palette, QPalette::ColorGroup group,
                                                QPalette::ColorRole background);

    TControl* FControl;
    QPointer<QWidget> FWidget;
    bool FApplying = false;
};

// Accessibility (QtAccessible.cpp): the factory that gives a widget the role
// SetAccessibleRole put on it (a QAccessible::Role), set before the widget
// is first asked for; and the control's name on its widget.
void InstallAccessibleRoles();
void SetAccessibleRole(QWidget* widget, int role);
void ApplyAccessibleName(const TControl* control, QWidget* widget);

// The peers of each family.  A form's peer is its top-level window, made
// with its frame, caption and menu bar applied; the others are made in the
// parent's widget and still need Init().
std::unique_ptr<TWidgetPeer> NewFormPeer(TCustomForm* form);
std::unique_ptr<TWidgetPeer> NewLabelPeer(TLabel* label, QWidget* parent);
std::unique_ptr<TWidgetPeer> NewButtonPeer(TButton* button, QWidget* parent);
std::unique_ptr<TWidgetPeer> NewCheckBoxPeer(TCheckBox* box, QWidget* parent);
std::unique_ptr<TWidgetPeer> NewGroupBoxPeer(TGroupBox* box, QWidget* parent);
std::unique_ptr<TWidgetPeer> NewPanelPeer(TPanel* panel, QWidget* parent);
std::unique_ptr<TWidgetPeer> NewEditPeer(TCustomEdit* edit, QWidget* parent);
std::unique_ptr<TWidgetPeer> NewMemoPeer(TMemo* memo, QWidget* parent);
std::unique_ptr<TWidgetPeer> NewStatusBarPeer(TStatusBar* bar, QWidget* parent);
std::unique_ptr<TWidgetPeer> NewDatePickerPeer(TDateTimePicker* picker, QWidget* parent);
