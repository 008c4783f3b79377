#include "gui/qt/QtBackend.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateEdit>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <climits>
#include <map>

#include "gui/ComCtrls.h"
#include "gui/Dialogs.h"
#include "gui/Forms.h"
#include "gui/Input.h"
#include "gui/Mask.h"
#include "gui/StdCtrls.h"
#include "runtime/DateTime.h"
#include "runtime/ExceptionHook.h"

QString ToQString(const String& text) {
    String normalised;
    normalised.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ||
            (c == '\n' && i + 1 < text.size() && text[i + 1] == '\r')) {
            normalised += '\n';
            ++i;
        } else if (c == '\r') {
            normalised += '\n';
        } else {
            normalised += c;
        }
    }
    return QString::fromStdString(Cp1251ToUtf8(normalised));
}

String FromQString(const QString& text) {
    return Utf8ToCp1251(text.toUtf8().toStdString());
}

namespace {

std::map<const TControl*, QWidget*>& Widgets() {
    static std::map<const TControl*, QWidget*> widgets;
    return widgets;
}

QColor ToQColor(TColor color) {
    const std::uint32_t rgb = ColorToRGB(color);
    return QColor(rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF);
}

// ---- peers ------------------------------------------------------------------------

class TWidgetPeer : public TControlPeer {
  public:
    TWidgetPeer(TControl* control, QWidget* widget) : FControl(control), FWidget(widget) {
        Widgets()[control] = widget;
    }
    ~TWidgetPeer() override {
        Widgets().erase(FControl);
        delete FWidget.data();
    }

    // Where the widgets of child controls go.
    virtual QWidget* ChildParent() { return FWidget; }

    void Changed(TControlChange what) override {
        if (!FWidget)
            return;
        FApplying = true;
        switch (what) {
            case ccBounds:
                ApplyBounds();
                break;
            case ccVisible:
                ApplyVisible();
                break;
            case ccEnabled:
                FWidget->setEnabled(FControl->Enabled());
                break;
            case ccFont:
            case ccColor:
                ApplyFont();
                break;
            case ccText:
            case ccSelection:
                ApplyText();
                break;
            default:
                ApplyState();
                break;
        }
        FApplying = false;
    }

    void Init() {
        FApplying = true;
        ApplyFont();
        ApplyText();
        ApplyState();
        ApplyBounds();
        FWidget->setEnabled(FControl->Enabled());
        ApplyVisible();
        FApplying = false;
    }

  protected:
    virtual void ApplyBounds() {
        FWidget->setGeometry(FControl->Left(), FControl->Top(), FControl->Width(),
                             FControl->Height());
    }
    virtual void ApplyVisible() { FWidget->setVisible(FControl->Visible()); }
    virtual void ApplyText() {}
    virtual void ApplyState() {}
    void ApplyFont() {
        TFont* font = FControl->Font();
        QFont f = QApplication::font();
        // The classic dialog font stands for the desktop's sans serif.
        if (AnsiSameText(font->Name(), "MS Sans Serif")) {
            // The classic face is narrow: the same size, condensed,
            // keeps captions inside their designed widths.
            f.setStretch(QFont::Condensed);
        } else {
            f.setFamily(ToQString(font->Name()));
        }
        f.setPointSize(font->Size());
        f.setBold(font->Style().Contains(fsBold));
        f.setItalic(font->Style().Contains(fsItalic));
        f.setUnderline(font->Style().Contains(fsUnderline));
        f.setStrikeOut(font->Style().Contains(fsStrikeOut));
        FWidget->setFont(f);
        QPalette palette = FWidget->palette();
        if (font->Color() != clWindowText) {
            const QColor c = ToQColor(font->Color());
            palette.setColor(QPalette::WindowText, c);
            palette.setColor(QPalette::Text, c);
            palette.setColor(QPalette::ButtonText, c);
        }
        FWidget->setPalette(palette);
    }

    TControl* FControl;
    QPointer<QWidget> FWidget;
    bool FApplying = false;
};

// The form: a top-level window holding the menu bar and the client area.
class TFormPeer;

class TFormWindow : public QWidget {
  public:
    explicit TFormWindow(TFormPeer* peer) : FPeer(peer) {}

  protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    TFormPeer* FPeer;
};

class TFormPeer : public TWidgetPeer {
  public:
    explicit TFormPeer(TCustomForm* form) : TWidgetPeer(form, new TFormWindow(this)), FForm(form) {
        FMenuBar = new QMenuBar(FWidget);
        FClient = new QWidget(FWidget);
        FClient->setAutoFillBackground(true);
        RebuildMenu();
    }
    ~TFormPeer() override { FClosing = true; }

    QWidget* ChildParent() override { return FClient; }
    TCustomForm* Form() const { return FForm; }
    bool Applying() const { return FApplying; }

    void Changed(TControlChange what) override {
        if (!FWidget)
            return;
        FApplying = true;
        switch (what) {
            case ccMenu:
                ScheduleMenu();
                ApplyBounds();
                break;
            case ccBorder:
                ApplyFlags();
                ApplyBounds();
                break;
            case ccWindowState:
                ApplyWindowState();
                break;
            case ccFocus:
                if (TWinControl* active = FForm->ActiveControl()) {
                    if (QWidget* widget = TQtBackend::WidgetOf(active))
                        widget->setFocus();
                }
                break;
            case ccText:
                FWidget->setWindowTitle(ToQString(FForm->Caption()));
                break;
            default:
                FApplying = false;
                TWidgetPeer::Changed(what);
                return;
        }
        FApplying = false;
    }

    void InitForm() {
        ApplyFlags();
        FWidget->setWindowTitle(ToQString(FForm->Caption()));
        Init();
    }

  protected:
    void ApplyBounds() override {
        const int menuHeight = HasMenuBar() ? MenuHeight() : 0;
        const int width = FForm->ClientWidth();
        const int height = FForm->ClientHeight();
        FMenuBar->setGeometry(0, 0, width, menuHeight);
        FMenuBar->setVisible(menuHeight > 0);
        FClient->setGeometry(0, menuHeight, width, height);
        const QSize size(width, menuHeight + height);
        const TFormBorderStyle style = FForm->BorderStyle();
        if (style == bsSizeable || style == bsSizeToolWin) {
            ApplyMinMax(menuHeight);
            FWidget->resize(size);
        } else {
            FWidget->setFixedSize(size);
        }
        FWidget->move(FForm->Left(), FForm->Top());
    }

    void ApplyVisible() override {
        if (!FForm->Visible()) {
            FWidget->hide();
            return;
        }
        ApplyWindowState();
    }

    void ApplyState() override {}

  private:
    bool HasMenuBar() const { return FForm->Menu() && FForm->Menu()->Items()->Count() > 0; }
    int MenuHeight() const {
        // The framework's frame reserves this much for the bar.
        const win::RECT extent = FForm->NonClientExtent();
        const int reserved =
            static_cast<int>(extent.top - extent.bottom) - win::GetSystemMetrics(win::SM_CYCAPTION);
        return reserved > 0 ? reserved : FMenuBar->sizeHint().height();
    }

    void ApplyFlags() {
        Qt::WindowFlags flags = Qt::Window | Qt::CustomizeWindowHint;
        const TFormBorderStyle style = FForm->BorderStyle();
        const TBorderIcons icons = FForm->BorderIcons();
        if (style == bsNone) {
            flags |= Qt::FramelessWindowHint;
        } else {
            flags |= Qt::WindowTitleHint;
            if (icons.Contains(biSystemMenu)) {
                flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
                if (style != bsDialog && style != bsToolWindow && style != bsSizeToolWin) {
                    if (icons.Contains(biMinimize))
                        flags |= Qt::WindowMinimizeButtonHint;
                    if (icons.Contains(biMaximize))
                        flags |= Qt::WindowMaximizeButtonHint;
                }
            }
            if (style == bsToolWindow || style == bsSizeToolWin)
                flags |= Qt::Tool;
        }
        if (FForm->FormStyle() == fsStayOnTop)
            flags |= Qt::WindowStaysOnTopHint;
        const bool visible = FWidget->isVisible();
        FWidget->setWindowFlags(flags);
        if (visible)
            FWidget->show();
    }

    // The form's window procedure (and any hook on it) decides the limits.
    void ApplyMinMax(int menuHeight) {
        win::MINMAXINFO info;
        info.ptMinTrackSize =
            win::POINT{win::GetSystemMetrics(win::SM_CXMIN), win::GetSystemMetrics(win::SM_CYMIN)};
        info.ptMaxTrackSize = win::POINT{QWIDGETSIZE_MAX, QWIDGETSIZE_MAX};
        info.ptMaxSize = win::POINT{win::GetSystemMetrics(win::SM_CXSCREEN),
                                    win::GetSystemMetrics(win::SM_CYSCREEN)};
        win::SendMessage(FForm->Handle(), win::WM_GETMINMAXINFO, 0,
                         reinterpret_cast<win::LPARAM>(&info));
        const win::RECT extent = FForm->NonClientExtent();
        const int frameWidth = static_cast<int>(extent.left + extent.right);
        const int frameHeight = static_cast<int>(extent.top + extent.bottom) - menuHeight;
        auto clientSize = [&](win::POINT p) {
            const int w = p.x >= QWIDGETSIZE_MAX ? QWIDGETSIZE_MAX : std::max(0, p.x - frameWidth);
            const int h = p.y >= QWIDGETSIZE_MAX ? QWIDGETSIZE_MAX : std::max(0, p.y - frameHeight);
            return QSize(w, h);
        };
        FWidget->setMinimumSize(clientSize(info.ptMinTrackSize));
        FWidget->setMaximumSize(clientSize(info.ptMaxTrackSize));
    }

    void ApplyWindowState() {
        if (!FForm->Visible())
            return;
        switch (FForm->WindowState()) {
            case wsMinimized:
                FWidget->showMinimized();
                break;
            case wsMaximized:
                FWidget->showMaximized();
                break;
            default:
                if (FWidget->isMinimized() || FWidget->isMaximized()) {
                    FWidget->showNormal();
                } else {
                    FWidget->show();
                }
                break;
        }
    }

    // Menu changes come from inside menu actions; the bar is rebuilt on the
    // next turn of the loop, never under a running action.
    void ScheduleMenu() {
        if (FMenuPending)
            return;
        FMenuPending = true;
        QPointer<QWidget> guard = FWidget;
        QTimer::singleShot(0, FWidget, [this, guard] {
            if (!guard)
                return;
            FMenuPending = false;
            RebuildMenu();
        });
    }

    void RebuildMenu() {
        FMenuBar->clear();
        TMainMenu* menu = FForm->Menu();
        if (!menu)
            return;
        TCustomForm* form = FForm;
        for (int i = 0; i < menu->Items()->Count(); ++i) {
            TMenuItem* top = menu->Items()->Items(i);
            if (!top->Visible())
                continue;
            if (top->Count() == 0) {
                QAction* action = FMenuBar->addAction(ToQString(top->Caption()));
                Bind(action, top, form);
                continue;
            }
            QMenu* sub = FMenuBar->addMenu(ToQString(top->Caption()));
            sub->setEnabled(top->Enabled());
            AddItems(sub, top, form);
        }
    }

    void AddItems(QMenu* menu, TMenuItem* parent, TCustomForm* form) {
        for (int i = 0; i < parent->Count(); ++i) {
            TMenuItem* item = parent->Items(i);
            if (!item->Visible())
                continue;
            if (item->IsLine()) {
                menu->addSeparator();
            } else if (item->Count() > 0) {
                QMenu* sub = menu->addMenu(ToQString(item->Caption()));
                sub->setEnabled(item->Enabled());
                AddItems(sub, item, form);
            } else {
                Bind(menu->addAction(ToQString(item->Caption())), item, form);
            }
        }
    }

    static void Bind(QAction* action, TMenuItem* item, TCustomForm* form) {
        action->setCheckable(item->Checked());
        action->setChecked(item->Checked());
        action->setEnabled(item->Enabled());
        const unsigned command = item->Command();
        QObject::connect(action, &QAction::triggered, [form, command] {
            // Looked up again: the item may have changed since the bar was built.
            if (TMainMenu* menu = form->Menu()) {
                if (TMenuItem* target = menu->FindItem(command))
                    SendMenuCommand(target);
            }
        });
    }

    friend class TFormWindow;
    TCustomForm* FForm;
    QMenuBar* FMenuBar;
    QWidget* FClient;
    bool FMenuPending = false;
    bool FClosing = false;
};

void TFormWindow::closeEvent(QCloseEvent* event) {
    // The title bar's close button goes through the close query; the window
    // itself goes only when the framework frees the form.
    event->ignore();
    if (!FPeer->FClosing)
        SendCloseRequest(FPeer->Form());
}

void TFormWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (FPeer->Applying() || !isVisible() || isMinimized() || isMaximized())
        return;
    TCustomForm* form = FPeer->Form();
    const QRect frame = frameGeometry();
    if (frame.x() == form->Left() && frame.y() == form->Top())
        return;
    win::MoveWindow(form->Handle(), frame.x(), frame.y(), form->Width(), form->Height(), win::TRUE);
}

void TFormWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || FPeer->Applying())
        return;
    TCustomForm* form = FPeer->Form();
    const win::WPARAM command = isMinimized()   ? win::SC_MINIMIZE
                                : isMaximized() ? win::SC_MAXIMIZE
                                                : win::SC_RESTORE;
    win::SendMessage(form->Handle(), win::WM_SYSCOMMAND, command, 0);
}

class TLabelPeer : public TWidgetPeer {
  public:
    TLabelPeer(TLabel* label, QWidget* parent)
        : TWidgetPeer(label, new QLabel(parent)), FLabel(label) {}

  protected:
    void ApplyText() override {
        static_cast<QLabel*>(FWidget.data())->setText(ToQString(StripHotkey(FLabel->Caption())));
    }
    void ApplyState() override {
        auto* label = static_cast<QLabel*>(FWidget.data());
        label->setWordWrap(FLabel->WordWrap());
        Qt::Alignment align = Qt::AlignTop;
        align |= FLabel->Alignment() == taRightJustify ? Qt::AlignRight
                 : FLabel->Alignment() == taCenter     ? Qt::AlignHCenter
                                                       : Qt::AlignLeft;
        label->setAlignment(align);
    }

  private:
    TLabel* FLabel;
};

class TButtonPeer : public TWidgetPeer {
  public:
    TButtonPeer(TButton* button, QWidget* parent)
        : TWidgetPeer(button, new QPushButton(parent)), FButton(button) {
        QObject::connect(static_cast<QPushButton*>(FWidget.data()), &QPushButton::clicked,
                         [button] { SendClick(button); });
    }

  protected:
    void ApplyText() override {
        static_cast<QPushButton*>(FWidget.data())->setText(ToQString(FButton->Caption()));
    }
    void ApplyState() override {
        static_cast<QPushButton*>(FWidget.data())->setDefault(FButton->Default());
    }

  private:
    TButton* FButton;
};

class TCheckBoxPeer : public TWidgetPeer {
  public:
    TCheckBoxPeer(TCheckBox* box, QWidget* parent)
        : TWidgetPeer(box, new QCheckBox(parent)), FBox(box) {
        auto* widget = static_cast<QCheckBox*>(FWidget.data());
        QObject::connect(widget, &QCheckBox::clicked, [this, box] {
            SendClick(box);
            // The framework decides the state; the widget shows it.
            if (FWidget)
                Changed(ccState);
        });
    }

  protected:
    void ApplyText() override {
        static_cast<QCheckBox*>(FWidget.data())->setText(ToQString(FBox->Caption()));
    }
    void ApplyState() override {
        auto* widget = static_cast<QCheckBox*>(FWidget.data());
        widget->setTristate(FBox->AllowGrayed());
        widget->setCheckState(FBox->State() == cbChecked  ? Qt::Checked
                              : FBox->State() == cbGrayed ? Qt::PartiallyChecked
                                                          : Qt::Unchecked);
        // The caption to the left of the box.
        widget->setLayoutDirection(FBox->Alignment() == taLeftJustify ? Qt::RightToLeft
                                                                      : Qt::LeftToRight);
    }

  private:
    TCheckBox* FBox;
};

// A line edit whose keys go to the framework's edit, which decides what the
// field holds (the masked edit's rules live there).
class TFrameworkLineEdit : public QLineEdit {
  public:
    TFrameworkLineEdit(TCustomEdit* edit, QWidget* parent) : QLineEdit(parent), FEdit(edit) {}

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        switch (event->key()) {
            case Qt::Key_Backspace:
                SyncCaret();
                SendChars(FEdit, "\b");
                return;
            case Qt::Key_Delete:
                SyncCaret();
                SendKeyDown(FEdit, VK_DELETE);
                return;
            case Qt::Key_Left:
                SyncCaret();
                SendKeyDown(FEdit, VK_LEFT);
                return;
            case Qt::Key_Right:
                SyncCaret();
                SendKeyDown(FEdit, VK_RIGHT);
                return;
            case Qt::Key_Home:
                SendKeyDown(FEdit, VK_HOME);
                return;
            case Qt::Key_End:
                SendKeyDown(FEdit, VK_END);
                return;
            case Qt::Key_Tab:
            case Qt::Key_Backtab:
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_Escape:
                QLineEdit::keyPressEvent(event);
                return;
            default:
                break;
        }
        if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) {
            QLineEdit::keyPressEvent(event);
            return;
        }
        const String typed = FromQString(event->text());
        if (typed.empty())
            return;
        SyncCaret();
        SendChars(FEdit, typed);
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        QLineEdit::mouseReleaseEvent(event);
        SyncCaret();
    }

  private:
    void SyncCaret() {
        if (hasSelectedText()) {
            FEdit->SetSelStart(selectionStart());
            FEdit->SetSelLength(static_cast<int>(selectedText().size()));
        } else {
            FEdit->SetSelStart(cursorPosition());
        }
    }
    TCustomEdit* FEdit;
};

class TEditPeer : public TWidgetPeer {
  public:
    TEditPeer(TCustomEdit* edit, QWidget* parent)
        : TWidgetPeer(edit, new TFrameworkLineEdit(edit, parent)), FEdit(edit) {
        // Keys go through the framework; what reaches the widget some other
        // way (a paste, an input method) is handed over as a text change,
        // and a masked field shows what its mask makes of it.
        QObject::connect(static_cast<QLineEdit*>(FWidget.data()), &QLineEdit::textEdited,
                         [this](const QString& text) {
                             if (FApplying)
                                 return;
                             SendTextChange(FEdit, FromQString(text));
                             if (FWidget)
                                 Changed(ccText);
                         });
    }

  protected:
    void ApplyText() override {
        auto* widget = static_cast<QLineEdit*>(FWidget.data());
        auto* masked = dynamic_cast<TMaskEdit*>(FEdit);
        const QString text = ToQString(masked ? masked->EditText() : FEdit->Text());
        if (widget->text() != text)
            widget->setText(text);
        widget->setCursorPosition(FEdit->SelStart());
    }
    void ApplyState() override {
        auto* widget = static_cast<QLineEdit*>(FWidget.data());
        widget->setReadOnly(FEdit->ReadOnly());
        widget->setMaxLength(FEdit->MaxLength() > 0 ? FEdit->MaxLength() : 32767);
        ApplyText();
    }

  private:
    TCustomEdit* FEdit;
};

class TMemoPeer : public TWidgetPeer {
  public:
    TMemoPeer(TMemo* memo, QWidget* parent)
        : TWidgetPeer(memo, new QPlainTextEdit(parent)), FMemo(memo) {
        auto* widget = static_cast<QPlainTextEdit*>(FWidget.data());
        QObject::connect(widget, &QPlainTextEdit::textChanged, [this, widget] {
            if (FApplying || FMemo->ReadOnly())
                return;
            SendTextChange(FMemo, FromQString(widget->toPlainText()));
        });
    }

  protected:
    void ApplyText() override {
        auto* widget = static_cast<QPlainTextEdit*>(FWidget.data());
        const QString text = ToQString(FMemo->Text());
        if (widget->toPlainText() != text)
            widget->setPlainText(text);
    }
    void ApplyState() override {
        auto* widget = static_cast<QPlainTextEdit*>(FWidget.data());
        widget->setReadOnly(FMemo->ReadOnly());
        widget->setLineWrapMode(FMemo->WordWrap() ? QPlainTextEdit::WidgetWidth
                                                  : QPlainTextEdit::NoWrap);
        const TScrollStyle bars = FMemo->ScrollBars();
        widget->setVerticalScrollBarPolicy(
            bars == ssVertical || bars == ssBoth ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
        ApplyText();
    }

  private:
    TMemo* FMemo;
};

class TGroupBoxPeer : public TWidgetPeer {
  public:
    TGroupBoxPeer(TGroupBox* box, QWidget* parent)
        : TWidgetPeer(box, new QGroupBox(parent)), FBox(box) {}

  protected:
    void ApplyText() override {
        static_cast<QGroupBox*>(FWidget.data())->setTitle(ToQString(FBox->Caption()));
    }

  private:
    TGroupBox* FBox;
};

class TPanelPeer : public TWidgetPeer {
  public:
    TPanelPeer(TPanel* panel, QWidget* parent)
        : TWidgetPeer(panel, new QFrame(parent)), FPanel(panel) {
        FWidget->setAutoFillBackground(true);
    }

  protected:
    void ApplyState() override {
        auto* frame = static_cast<QFrame*>(FWidget.data());
        const int bevels = (FPanel->BevelOuter() != bvNone) + (FPanel->BevelInner() != bvNone);
        if (bevels == 0) {
            frame->setFrameStyle(QFrame::NoFrame);
            return;
        }
        const TPanelBevel shown =
            FPanel->BevelInner() != bvNone ? FPanel->BevelInner() : FPanel->BevelOuter();
        frame->setFrameStyle(QFrame::Panel |
                             (shown == bvLowered ? QFrame::Sunken : QFrame::Raised));
        frame->setLineWidth(FPanel->BevelWidth() * bevels);
    }

  private:
    TPanel* FPanel;
};

class TStatusBarPeer : public TWidgetPeer {
  public:
    TStatusBarPeer(TStatusBar* bar, QWidget* parent)
        : TWidgetPeer(bar, new QLabel(parent)), FBar(bar) {
        auto* label = static_cast<QLabel*>(FWidget.data());
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        label->setIndent(3);
    }

  protected:
    void ApplyState() override {
        static_cast<QLabel*>(FWidget.data())
            ->setText(FBar->SimplePanel() ? ToQString(FBar->SimpleText()) : QString());
    }
    void ApplyText() override { ApplyState(); }

  private:
    TStatusBar* FBar;
};

// The short date format as a Qt display format.
QString QtDateFormat(const String& format) {
    QString result;
    for (char c : format) {
        if (c == '/') {
            result += QChar(DateSeparator());
        } else if (c == 'm') {
            result += 'M';
        } else if (c == 'y' || c == 'd') {
            result += QChar(c);
        } else {
            result += QString::fromStdString(Cp1251ToUtf8(String(1, c)));
        }
    }
    return result;
}

class TDatePickerPeer : public TWidgetPeer {
  public:
    TDatePickerPeer(TDateTimePicker* picker, QWidget* parent)
        : TWidgetPeer(picker, new QDateEdit(parent)), FPicker(picker) {
        auto* widget = static_cast<QDateEdit*>(FWidget.data());
        QObject::connect(widget, &QDateEdit::dateChanged, [this, picker](const QDate& date) {
            if (FApplying || !date.isValid())
                return;
            SendDateChange(picker, EncodeDate(date.year(), date.month(), date.day()));
        });
    }

  protected:
    void ApplyText() override { ApplyState(); }
    void ApplyState() override {
        auto* widget = static_cast<QDateEdit*>(FWidget.data());
        widget->setCalendarPopup(FPicker->DateMode() == dmComboBox);
        widget->setDisplayFormat(
            QtDateFormat(FPicker->DateFormat() == dfLong ? LongDateFormat() : ShortDateFormat()));
        int y = 0, m = 0, d = 0;
        DecodeDate(FPicker->Date(), y, m, d);
        const QDate date(y, m, d);
        if (widget->date() != date)
            widget->setDate(date);
    }

  private:
    TDateTimePicker* FPicker;
};

// ---- signals -----------------------------------------------------------------------

int SignalPipe[2] = {-1, -1};

void OnTerminationSignal(int) {
    const char byte = 1;
    // Nothing else is safe here; the loop closes the main form.
    ssize_t ignored = ::write(SignalPipe[1], &byte, 1);
    (void)ignored;
}

}  // namespace

// ---- the backend ------------------------------------------------------------------------

struct TQtBackend::TImpl {
    std::unique_ptr<QApplication> OwnApplication;
    struct Watch {
        QSocketNotifier* Read = nullptr;
        QSocketNotifier* Write = nullptr;
    };
    std::map<int, Watch> Watches;
    QSocketNotifier* Wake = nullptr;
    int WakeFd = -1;
    QTimer* Timer = nullptr;
    QSocketNotifier* Signals = nullptr;
    QObject Context;
    void Deliver() {
        // Reentrant: a handler may open a modal box whose loop delivers again.
        win::ProcessMessages();
        Sync();
    }

    // Registers what the message layer would poll with Qt's loop.
    void Sync() {
        const win::WaitSources sources = win::GetWaitSources();
        if (sources.WakeFd != WakeFd) {
            delete Wake;
            Wake = nullptr;
            WakeFd = sources.WakeFd;
            if (WakeFd >= 0) {
                Wake = new QSocketNotifier(WakeFd, QSocketNotifier::Read, &Context);
                QObject::connect(Wake, &QSocketNotifier::activated, &Context, [this] {
                    std::uint64_t value = 0;
                    ssize_t n = ::read(WakeFd, &value, sizeof(value));
                    (void)n;
                    Deliver();
                });
            }
        }
        std::map<int, short> wanted;
        for (const auto& [fd, events] : sources.Descriptors)
            wanted[fd] = events;
        for (auto it = Watches.begin(); it != Watches.end();) {
            if (!wanted.count(it->first)) {
                it->second.Read->setEnabled(false);
                it->second.Write->setEnabled(false);
                it->second.Read->deleteLater();
                it->second.Write->deleteLater();
                it = Watches.erase(it);
            } else {
                ++it;
            }
        }
        for (const auto& [fd, events] : wanted) {
            Watch& watch = Watches[fd];
            if (!watch.Read) {
                watch.Read = new QSocketNotifier(fd, QSocketNotifier::Read, &Context);
                watch.Write = new QSocketNotifier(fd, QSocketNotifier::Write, &Context);
                QObject::connect(watch.Read, &QSocketNotifier::activated, &Context,
                                 [this] { Deliver(); });
                QObject::connect(watch.Write, &QSocketNotifier::activated, &Context,
                                 [this] { Deliver(); });
            }
            watch.Read->setEnabled((events & (POLLIN | POLLPRI)) != 0);
            watch.Write->setEnabled((events & POLLOUT) != 0);
        }
        if (sources.NextTimer) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
                *sources.NextTimer - std::chrono::steady_clock::now());
            Timer->start(static_cast<int>(std::clamp<long long>(wait.count(), 0, INT_MAX)));
        } else {
            Timer->stop();
        }
    }
};

TQtBackend::TQtBackend(int& argc, char** argv) : F(std::make_unique<TImpl>()) {
    if (!QApplication::instance())
        F->OwnApplication = std::make_unique<QApplication>(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        win::ScreenMetrics metrics;
        metrics.Width = screen->geometry().width();
        metrics.Height = screen->geometry().height();
        metrics.PixelsPerInch = static_cast<int>(screen->logicalDotsPerInch() + 0.5);
        win::SetScreenMetrics(metrics);
    }
    F->Timer = new QTimer(&F->Context);
    F->Timer->setSingleShot(true);
    F->Timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(F->Timer, &QTimer::timeout, &F->Context, [this] { F->Deliver(); });
    win::SetWaitSourcesObserver([this] { F->Sync(); });
    win::SetWaitFunction([](int timeoutMs) {
        // Qt's loop waits, and our notifiers deliver as they fire.
        QTimer guard;
        bool timedOut = false;
        if (timeoutMs >= 0) {
            guard.setSingleShot(true);
            QObject::connect(&guard, &QTimer::timeout, [&] { timedOut = true; });
            guard.start(timeoutMs);
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return !timedOut;
    });
    if (::pipe(SignalPipe) == 0) {
        F->Signals = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, &F->Context);
        QObject::connect(F->Signals, &QSocketNotifier::activated, &F->Context, [] {
            char buffer[16];
            ssize_t n = ::read(SignalPipe[0], buffer, sizeof(buffer));
            (void)n;
            // A box left open would keep the program alive after its window
            // has closed: dismiss it (once the main form has closed, no
            // further box is shown).
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible())
                    box->done(QMessageBox::Ok);
            if (TCustomForm* form = Application->MainForm())
                SendCloseRequest(form);
        });
        struct sigaction action {};
        action.sa_handler = OnTerminationSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGHUP, &action, nullptr);
    }
    // The focused widget makes its control the form's active control.
    QObject::connect(qApp, &QApplication::focusChanged, &F->Context, [](QWidget*, QWidget* now) {
        for (const auto& [control, widget] : Widgets()) {
            if (widget != now)
                continue;
            auto* win = dynamic_cast<TWinControl*>(const_cast<TControl*>(control));
            TCustomForm* form = win ? win->GetParentForm() : nullptr;
            if (form && form != win && form->ActiveControl() != win) {
                CallGuarded([form, win] { form->SetActiveControl(win); });
            }
            return;
        }
    });
    F->Sync();
    SetGuiBackend(this);
}

TQtBackend::~TQtBackend() {
    if (GuiBackend() == this)
        SetGuiBackend(nullptr);
    win::SetWaitSourcesObserver(nullptr);
    win::SetWaitFunction(nullptr);
    if (SignalPipe[0] >= 0) {
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        signal(SIGHUP, SIG_DFL);
        delete F->Signals;
        ::close(SignalPipe[0]);
        ::close(SignalPipe[1]);
        SignalPipe[0] = SignalPipe[1] = -1;
    }
}

std::unique_ptr<TControlPeer> TQtBackend::CreatePeer(TControl* control) {
    QWidget* parent = nullptr;
    if (TWinControl* p = control->Parent()) {
        auto* parentPeer = dynamic_cast<TWidgetPeer*>(p->Peer());
        if (!parentPeer)
            return nullptr;
        parent = parentPeer->ChildParent();
    }
    if (auto* form = dynamic_cast<TCustomForm*>(control)) {
        if (control->Parent())
            return nullptr;
        auto peer = std::make_unique<TFormPeer>(form);
        peer->InitForm();
        return peer;
    }
    if (!parent)
        return nullptr;
    std::unique_ptr<TWidgetPeer> peer;
    if (auto* label = dynamic_cast<TLabel*>(control)) {
        peer = std::make_unique<TLabelPeer>(label, parent);
    } else if (auto* button = dynamic_cast<TButton*>(control)) {
        peer = std::make_unique<TButtonPeer>(button, parent);
    } else if (auto* box = dynamic_cast<TCheckBox*>(control)) {
        peer = std::make_unique<TCheckBoxPeer>(box, parent);
    } else if (auto* memo = dynamic_cast<TMemo*>(control)) {
        peer = std::make_unique<TMemoPeer>(memo, parent);
    } else if (auto* edit = dynamic_cast<TCustomEdit*>(control)) {
        peer = std::make_unique<TEditPeer>(edit, parent);
    } else if (auto* group = dynamic_cast<TGroupBox*>(control)) {
        peer = std::make_unique<TGroupBoxPeer>(group, parent);
    } else if (auto* panel = dynamic_cast<TPanel*>(control)) {
        peer = std::make_unique<TPanelPeer>(panel, parent);
    } else if (auto* bar = dynamic_cast<TStatusBar*>(control)) {
        peer = std::make_unique<TStatusBarPeer>(bar, parent);
    } else if (auto* picker = dynamic_cast<TDateTimePicker*>(control)) {
        peer = std::make_unique<TDatePickerPeer>(picker, parent);
    } else {
        peer = std::make_unique<TWidgetPeer>(control, new QWidget(parent));
    }
    peer->Init();
    return peer;
}

int TQtBackend::ShowMessageBox(const String& text, const String& caption, win::UINT flags) {
    // The program is ending: nobody may be there to press OK.
    if (Application->Terminated())
        return win::IDOK;
    QMessageBox box;
    box.setWindowTitle(ToQString(caption));
    box.setText(ToQString(text));
    switch (flags & 0xF0) {
        case win::MB_ICONSTOP:
            box.setIcon(QMessageBox::Critical);
            break;
        case win::MB_ICONQUESTION:
            box.setIcon(QMessageBox::Question);
            break;
        case win::MB_ICONWARNING:
            box.setIcon(QMessageBox::Warning);
            break;
        case win::MB_ICONINFORMATION:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            box.setIcon(QMessageBox::NoIcon);
            break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return win::IDOK;
}

void TQtBackend::CursorChanged(TCursor cursor) {
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    switch (cursor) {
        case crHourGlass:
            QApplication::setOverrideCursor(Qt::WaitCursor);
            break;
        case crIBeam:
            QApplication::setOverrideCursor(Qt::IBeamCursor);
            break;
        default:
            break;
    }
}

void TQtBackend::ApplicationMinimized(bool minimized) {
    TCustomForm* form = Application->MainForm();
    QWidget* widget = form ? WidgetOf(form) : nullptr;
    if (!widget)
        return;
    if (minimized) {
        widget->showMinimized();
    } else {
        widget->showNormal();
    }
}

void TQtBackend::ProcessEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    F->Deliver();
}

void TQtBackend::WaitForEvents() {
    if (win::MessagesPending())
        return;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

QWidget* TQtBackend::WidgetOf(const TControl* control) {
    auto it = Widgets().find(control);
    return it == Widgets().end() ? nullptr : it->second;
}

bool SaveControlImage(const TControl* control, const std::string& fileName) {
    QWidget* widget = TQtBackend::WidgetOf(control);
    if (!widget)
        return false;
    QCoreApplication::processEvents();
    return widget->grab().save(QString::fromStdString(fileName), "PNG");
}
