#include "gui/qt/QtBackend.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDateEdit>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSocketNotifier>
#include <QStyleOptionComboBox>
#include <QTimer>
#include <QTranslator>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <functional>
#include <map>
#include <vector>

#include "gui/Clipbrd.h"
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
            // A disabled control keeps the style's grey text.
            const QColor c = ToQColor(font->Color());
            for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
                palette.setColor(group, QPalette::WindowText, c);
                palette.setColor(group, QPalette::Text, c);
                palette.setColor(group, QPalette::ButtonText, c);
            }
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
        // F10 opens the menu bar's first menu, as on the classic desktop.
        auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), FWidget);
        QObject::connect(f10, &QShortcut::activated, FMenuBar, [bar = FMenuBar] {
            for (QAction* action : bar->actions()) {
                if (action->isVisible() && action->isEnabled()) {
                    bar->setActiveAction(action);
                    // Its first item is highlighted: Enter chooses it.
                    if (QMenu* menu = action->menu()) {
                        for (QAction* item : menu->actions()) {
                            if (item->isEnabled() && !item->isSeparator()) {
                                menu->setActiveAction(item);
                                break;
                            }
                        }
                    }
                    return;
                }
            }
        });
    }
    ~TFormPeer() override { FClosing = true; }

    QWidget* ChildParent() override { return FClient; }
    TCustomForm* Form() const { return FForm; }
    bool Applying() const { return FApplying; }

    // Whether the window's frame (and with it the frame's place) is known:
    // once the window manager has decorated it, at once where nothing does.
    bool FrameKnown() const {
        QWindow* window = FWidget->windowHandle();
        return window &&
               (QGuiApplication::platformName() != "xcb" ||
                (window->flags() & Qt::FramelessWindowHint) || !window->frameMargins().isNull());
    }

    // A centred form is centred again, frame and all, once the frame's size
    // is known (the framework centred it with its own idea of the frame).
    void CentreOnce() {
        if (FCentred)
            return;
        FCentred = true;
        const TPosition position = FForm->Position();
        QWindow* window = FWidget->windowHandle();
        if ((position != poScreenCenter && position != poDesktopCenter) || !window ||
            !window->screen())
            return;
        const QRect screen = window->screen()->geometry();
        const QRect frame = window->frameGeometry();
        const QPoint centred(screen.x() + (screen.width() - frame.width()) / 2,
                             screen.y() + (screen.height() - frame.height()) / 2);
        if (frame.topLeft() != centred)
            window->setFramePosition(centred);
    }

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
        if ((style == bsSizeable || style == bsSizeToolWin) && SystemMenuOffers(win::SC_SIZE)) {
            ApplyMinMax(menuHeight);
            if (FWidget->size() != size)
                FWidget->resize(size);
        } else if (FWidget->minimumSize() != size || FWidget->maximumSize() != size) {
            FWidget->setFixedSize(size);
        }
        PlaceFrame();
    }

    // The form's Left and Top are where its frame's outer corner goes.  A
    // window not made yet is placed frame and all when it is made; a window
    // that exists is given its frame's position, so the window manager puts
    // the frame there whether or not it has told us the frame's size yet.
    void PlaceFrame() {
        const QPoint wanted(FForm->Left(), FForm->Top());
        QWindow* window = FWidget->windowHandle();
        if (!window || !FWidget->testAttribute(Qt::WA_WState_Created)) {
            FWidget->move(wanted);
            return;
        }
        if (window->framePosition() != wanted)
            window->setFramePosition(wanted);
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

    // Whether the form's system menu, as its window prepares it for showing
    // (WM_INITMENUPOPUP from the defaults), leaves the command enabled: the
    // window manager offers only what the menu does, so a greyed Size gives
    // a fixed frame and a greyed Maximize no maximise button.
    bool SystemMenuOffers(win::WPARAM command) const {
        const win::HWND handle = FForm->Handle();
        win::GetSystemMenu(handle, win::TRUE);
        const win::HMENU menu = win::GetSystemMenu(handle, win::FALSE);
        win::SendMessage(handle, win::WM_INITMENUPOPUP, reinterpret_cast<win::WPARAM>(menu),
                         win::MAKELPARAM(0, 1));
        const win::UINT state =
            win::GetMenuState(menu, static_cast<win::UINT>(command), win::MF_BYCOMMAND);
        return state == win::kMenuItemNotFound || (state & win::MF_GRAYED) == 0;
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
                    if (icons.Contains(biMaximize) && SystemMenuOffers(win::SC_MAXIMIZE))
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
            // A pop-up is a window of its own: it takes the bar's font itself.
            QObject::connect(sub, &QMenu::aboutToShow, sub,
                             [sub, bar = FMenuBar] { sub->setFont(bar->font()); });
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
    bool FCentred = false;
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
    // Until the window manager has framed the window, its frame's place is
    // not known: the framework keeps the place it asked for.
    QWindow* window = windowHandle();
    if (!window || !FPeer->FrameKnown())
        return;
    FPeer->CentreOnce();
    TCustomForm* form = FPeer->Form();
    const QPoint frame = window->framePosition();
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

// A push button that Enter presses too while it has the focus, as Space does.
class TFrameworkButton : public QPushButton {
  public:
    using QPushButton::QPushButton;

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
            !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
            if (isEnabled())
                click();
            return;
        }
        QPushButton::keyPressEvent(event);
    }
};

class TButtonPeer : public TWidgetPeer {
  public:
    TButtonPeer(TButton* button, QWidget* parent)
        : TWidgetPeer(button, new TFrameworkButton(parent)), FButton(button) {
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

// The modifiers of a Qt key event as the framework's shift state.
TShiftState ShiftOf(const QKeyEvent* event) {
    TShiftState shift;
    if (event->modifiers() & Qt::ShiftModifier)
        shift << ssShift;
    if (event->modifiers() & Qt::ControlModifier)
        shift << ssCtrl;
    if (event->modifiers() & Qt::AltModifier)
        shift << ssAlt;
    return shift;
}

// A line edit whose keys go to the framework's edit, which decides what the
// field holds (the masked edit's rules live there) and where the caret and
// the selection are; the widget shows that.  The mouse selects in the widget
// itself, and each change of its selection is handed to the framework.
class TFrameworkLineEdit : public QLineEdit {
  public:
    TFrameworkLineEdit(TCustomEdit* edit, QWidget* parent) : QLineEdit(parent), FEdit(edit) {
        setAcceptDrops(false);
    }

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        const TShiftState shift = ShiftOf(event);
        const bool ctrl = shift.Contains(ssCtrl);
        const bool alt = shift.Contains(ssAlt);
        switch (event->key()) {
            case Qt::Key_Backspace:
                if (alt) {
                    SendKeyDown(FEdit, VK_BACK, shift);
                } else if (!ctrl) {
                    SendChars(FEdit, "\b");
                }
                return;
            case Qt::Key_Delete:
                SendKeyDown(FEdit, VK_DELETE, shift);
                return;
            case Qt::Key_Insert:
                SendKeyDown(FEdit, VK_INSERT, shift);
                return;
            case Qt::Key_Left:
                SendKeyDown(FEdit, VK_LEFT, shift);
                return;
            case Qt::Key_Right:
                SendKeyDown(FEdit, VK_RIGHT, shift);
                return;
            case Qt::Key_Home:
                SendKeyDown(FEdit, VK_HOME, shift);
                return;
            case Qt::Key_End:
                SendKeyDown(FEdit, VK_END, shift);
                return;
            default:
                break;
        }
        if (ctrl && !alt) {
            // The control characters the edit answers (select all, copy,
            // paste, cut, undo); other shortcuts belong to the window.
            static const std::map<int, char> controls{{Qt::Key_A, '\x01'},
                                                      {Qt::Key_C, '\x03'},
                                                      {Qt::Key_V, '\x16'},
                                                      {Qt::Key_X, '\x18'},
                                                      {Qt::Key_Z, '\x1A'}};
            if (auto it = controls.find(event->key()); it != controls.end()) {
                SendChars(FEdit, std::string_view(&it->second, 1));
                return;
            }
            event->ignore();
            return;
        }
        const String typed = FromQString(event->text());
        if (alt || typed.empty() || static_cast<unsigned char>(typed[0]) < 32) {
            // Tab, Enter, Escape and the menu's accelerators go on to the window.
            event->ignore();
            return;
        }
        SendChars(FEdit, typed);
    }

    void contextMenuEvent(QContextMenuEvent* event) override {
        // The edit's own menu, in the words of Qt's translations, acting
        // through the framework's edit like the keys do.
        QMenu menu(this);
        const bool selected = FEdit->SelLength() > 0;
        const bool writable = !FEdit->ReadOnly();
        auto add = [&](const char* text, QKeySequence::StandardKey key, bool enabled,
                       std::function<void()> action) {
            QString caption = QCoreApplication::translate("QLineEdit", text);
            const QString shortcut = QKeySequence(key).toString(QKeySequence::NativeText);
            if (!shortcut.isEmpty())
                caption += '\t' + shortcut;
            QAction* item = menu.addAction(caption);
            item->setEnabled(enabled);
            QObject::connect(item, &QAction::triggered, &menu, std::move(action));
        };
        TCustomEdit* edit = FEdit;
        auto send = [edit](win::UINT message) {
            return [edit, message] { win::SendMessage(edit->Handle(), message, 0, 0); };
        };
        add("&Undo", QKeySequence::Undo, writable && FEdit->CanUndo(), send(WM_UNDO));
        menu.addSeparator();
        add("Cu&t", QKeySequence::Cut, writable && selected, send(WM_CUT));
        add("&Copy", QKeySequence::Copy, selected, send(WM_COPY));
        add("&Paste", QKeySequence::Paste, writable && Clipboard()->HasText(), send(WM_PASTE));
        add("Delete", QKeySequence::UnknownKey, writable && selected, send(WM_CLEAR));
        menu.addSeparator();
        add("Select All", QKeySequence::SelectAll, !FEdit->Text().empty(),
            [edit] { edit->SelectAll(); });
        menu.exec(event->globalPos());
    }

  private:
    TCustomEdit* FEdit;
};

class TEditPeer : public TWidgetPeer {
  public:
    TEditPeer(TCustomEdit* edit, QWidget* parent)
        : TWidgetPeer(edit, new TFrameworkLineEdit(edit, parent)), FEdit(edit) {
        auto* line = static_cast<QLineEdit*>(FWidget.data());
        // What reaches the widget some other way (an input method) is
        // handed over as a text change, and a masked field shows what its
        // mask makes of it.
        QObject::connect(line, &QLineEdit::textEdited, [this](const QString& text) {
            if (FApplying)
                return;
            SendTextChange(FEdit, FromQString(text));
            if (FWidget)
                Changed(ccText);
        });
        // The mouse (and focus by Tab, which selects all) selects in the
        // widget: the framework follows.
        QObject::connect(line, &QLineEdit::selectionChanged, [this] { TakeSelection(); });
        QObject::connect(line, &QLineEdit::cursorPositionChanged,
                         [this](int, int) { TakeSelection(); });
    }

  protected:
    void ApplyText() override {
        auto* widget = static_cast<QLineEdit*>(FWidget.data());
        auto* masked = dynamic_cast<TMaskEdit*>(FEdit);
        const QString text = ToQString(masked ? masked->EditText() : FEdit->Text());
        const bool applying = FApplying;
        FApplying = true;
        if (widget->text() != text)
            widget->setText(text);
        // The selection as the framework has it: from its anchor to the caret.
        const int caret = FEdit->CaretPos();
        const int anchor =
            caret == FEdit->SelStart() ? FEdit->SelStart() + FEdit->SelLength() : FEdit->SelStart();
        if (anchor == caret) {
            if (widget->hasSelectedText() || widget->cursorPosition() != caret)
                widget->setCursorPosition(caret);
        } else if (widget->cursorPosition() != caret ||
                   widget->selectionStart() != std::min(anchor, caret) ||
                   widget->selectedText().size() != std::abs(caret - anchor)) {
            widget->setSelection(anchor, caret - anchor);
        }
        FApplying = applying;
    }
    void ApplyState() override {
        auto* widget = static_cast<QLineEdit*>(FWidget.data());
        widget->setReadOnly(FEdit->ReadOnly());
        widget->setMaxLength(32767);
        ApplyText();
    }

  private:
    void TakeSelection() {
        if (FApplying || !FWidget)
            return;
        auto* widget = static_cast<QLineEdit*>(FWidget.data());
        const int caret = widget->cursorPosition();
        int anchor = caret;
        if (widget->hasSelectedText()) {
            const int start = widget->selectionStart();
            const int end = start + static_cast<int>(widget->selectedText().size());
            anchor = caret == start ? end : start;
        }
        FEdit->Select(anchor, caret);
    }

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

// A classic group box: an etched frame whose top line runs through the
// middle of the caption, the caption inset from the left on the frame line.
class TGroupFrame : public QWidget {
  public:
    using QWidget::QWidget;
    void SetCaption(const QString& caption) {
        FCaption = caption;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        const int top = metrics.height() / 2;
        const QRect frame(0, top, width() - 1, height() - top - 1);
        const QColor dark = palette().color(QPalette::Dark);
        const QColor light = palette().color(QPalette::Light);
        // The etch: a dark line with a light one below and right of it.
        painter.setPen(light);
        painter.drawRect(frame.translated(1, 1).adjusted(0, 0, -1, -1));
        painter.setPen(dark);
        painter.drawRect(frame.adjusted(0, 0, -1, -1));
        if (FCaption.isEmpty())
            return;
        const QString caption = QString(FCaption).remove('&');
        const int captionWidth = metrics.horizontalAdvance(caption);
        const QRect captionRect(8, 0, captionWidth + 4, metrics.height());
        painter.fillRect(captionRect, palette().color(QPalette::Window));
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::WindowText));
        painter.drawText(captionRect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         caption);
    }

  private:
    QString FCaption;
};

class TGroupBoxPeer : public TWidgetPeer {
  public:
    TGroupBoxPeer(TGroupBox* box, QWidget* parent)
        : TWidgetPeer(box, new TGroupFrame(parent)), FBox(box) {}

  protected:
    void ApplyText() override {
        static_cast<TGroupFrame*>(FWidget.data())->SetCaption(ToQString(FBox->Caption()));
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

// A date field whose keys go to the framework's picker, which keeps the date
// and the selected field; the widget shows both.  Tab and Shift+Tab leave
// the field; F4 and Alt+Down open the calendar.
class TFrameworkDateEdit : public QDateEdit {
  public:
    TFrameworkDateEdit(TDateTimePicker* picker, QWidget* parent)
        : QDateEdit(parent), FPicker(picker) {}

    // Shows the picker's selected field as the selected section.
    void ShowSelectedPart() {
        const std::vector<TDatePart> parts = FPicker->Parts();
        const TDatePart part = parts[static_cast<std::size_t>(FPicker->SelectedPart())];
        const Section section = part == dpDay     ? DaySection
                                : part == dpMonth ? MonthSection
                                                  : YearSection;
        if (currentSection() != section)
            setCurrentSection(section);
        setSelectedSection(section);
    }

    void OpenCalendar() {
        if (!calendarPopup())
            return;
        // The drop-down button's place, where a click opens the calendar.
        QStyleOptionComboBox option;
        option.initFrom(this);
        option.editable = true;
        option.subControls = QStyle::SC_All;
        const QPoint at =
            style()
                ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxArrow, this)
                .center();
        QMouseEvent press(QEvent::MouseButtonPress, at, mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(this, &press);
    }

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        const TShiftState shift = ShiftOf(event);
        const int key = event->key();
        if (key == Qt::Key_F4 || (key == Qt::Key_Down && shift.Contains(ssAlt))) {
            OpenCalendar();
            return;
        }
        if (shift.Contains(ssAlt) || shift.Contains(ssCtrl)) {
            event->ignore();
            return;
        }
        switch (key) {
            case Qt::Key_Left:
                SendKeyDown(FPicker, VK_LEFT, shift);
                return;
            case Qt::Key_Right:
                SendKeyDown(FPicker, VK_RIGHT, shift);
                return;
            case Qt::Key_Up:
                SendKeyDown(FPicker, VK_UP, shift);
                return;
            case Qt::Key_Down:
                SendKeyDown(FPicker, VK_DOWN, shift);
                return;
            case Qt::Key_Home:
            case Qt::Key_End:
            case Qt::Key_PageUp:
            case Qt::Key_PageDown:
            case Qt::Key_Backspace:
            case Qt::Key_Delete:
                return;
            default:
                break;
        }
        const String typed = FromQString(event->text());
        if (typed.empty() || static_cast<unsigned char>(typed[0]) < 32) {
            event->ignore();
            return;
        }
        SendChars(FPicker, typed);
    }
    // Tab leaves the field instead of walking its sections.
    bool focusNextPrevChild(bool next) override { return QWidget::focusNextPrevChild(next); }
    void focusInEvent(QFocusEvent* event) override {
        QDateEdit::focusInEvent(event);
        ShowSelectedPart();
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        QDateEdit::mouseReleaseEvent(event);
        // A click into a section selects that field.
        const Section clicked = currentSection();
        const std::vector<TDatePart> parts = FPicker->Parts();
        for (std::size_t i = 0; i < parts.size(); ++i) {
            const Section section = parts[i] == dpDay     ? DaySection
                                    : parts[i] == dpMonth ? MonthSection
                                                          : YearSection;
            if (section == clicked)
                FPicker->SelectPart(static_cast<int>(i));
        }
        ShowSelectedPart();
    }

  private:
    TDateTimePicker* FPicker;
};

class TDatePickerPeer : public TWidgetPeer {
  public:
    TDatePickerPeer(TDateTimePicker* picker, QWidget* parent)
        : TWidgetPeer(picker, new TFrameworkDateEdit(picker, parent)), FPicker(picker) {
        auto* widget = static_cast<QDateEdit*>(FWidget.data());
        widget->setMinimumDate(QDate(100, 1, 1));
        // The calendar and the mouse wheel change the date in the widget.
        QObject::connect(widget, &QDateEdit::dateChanged, [this, picker](const QDate& date) {
            if (FApplying || !date.isValid())
                return;
            SendDateChange(picker, EncodeDate(date.year(), date.month(), date.day()));
        });
    }

  protected:
    void ApplyText() override { ApplyState(); }
    void ApplyState() override {
        auto* widget = static_cast<TFrameworkDateEdit*>(FWidget.data());
        const bool popup = FPicker->DateMode() == dmComboBox;
        if (widget->calendarPopup() != popup)
            widget->setCalendarPopup(popup);
        // A new display format resets the widget's sections: only on a change.
        const QString format =
            QtDateFormat(FPicker->DateFormat() == dfLong ? LongDateFormat() : ShortDateFormat());
        if (widget->displayFormat() != format)
            widget->setDisplayFormat(format);
        int y = 0, m = 0, d = 0;
        DecodeDate(FPicker->Date(), y, m, d);
        const QDate date(y, m, d);
        if (widget->date() != date)
            widget->setDate(date);
        widget->ShowSelectedPart();
    }

  private:
    TDateTimePicker* FPicker;
};

// A message box centred on the screen, frame and all.  Its own frame is not
// known before it is shown; the main window's frame (the same window
// manager's) stands for it.
class TCentredMessageBox : public QMessageBox {
  protected:
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        QWindow* window = windowHandle();
        QScreen* screen = window ? window->screen() : QGuiApplication::primaryScreen();
        if (!window || !screen)
            return;
        QMargins frame = window->frameMargins();
        if (frame.isNull()) {
            TCustomForm* main = Application->MainForm();
            if (QWidget* mainWindow = main ? TQtBackend::WidgetOf(main) : nullptr) {
                if (QWindow* handle = mainWindow->windowHandle())
                    frame = handle->frameMargins();
            }
        }
        const QSize outer = size().grownBy(frame);
        const QRect area = screen->geometry();
        const QPoint corner(area.x() + (area.width() - outer.width()) / 2,
                            area.y() + (area.height() - outer.height()) / 2);
        // Placed by its client area: before the window manager has framed
        // the box, Qt would take a frame position for the client's, and the
        // frame would land a title bar too high.
        setGeometry(QRect(corner + QPoint(frame.left(), frame.top()), size()));
    }
};

// ---- signals -----------------------------------------------------------------------

int SignalPipe[2] = {-1, -1};
// While the close that a termination signal asked for runs.
bool ClosingOnSignal = false;

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

namespace {

std::string& NoDisplayText() {
    static std::string text;
    return text;
}

QtMessageHandler PreviousHandler = nullptr;
std::vector<QString>* HeldMessages = nullptr;

// While the application object is made: its complaints are held back, and a
// platform that cannot start ends the program with one line of ours.
void StartupMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        const std::string line = NoDisplayText() + "\n";
        ssize_t ignored = ::write(STDERR_FILENO, line.data(), line.size());
        (void)ignored;
        ::_exit(1);
    }
    if (HeldMessages)
        HeldMessages->push_back(qFormatLogMessage(type, context, text));
}

void LoadTranslations() {
    // The window speaks Russian: so do Qt's own texts (context menus,
    // standard buttons).
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(QLocale(QLocale::Russian, QLocale::Russia), "qtbase", "_", folder)) {
        QCoreApplication::installTranslator(translator);
    } else {
        delete translator;
    }
}

}  // namespace

void TQtBackend::SetNoDisplayMessage(const std::string& text) {
    NoDisplayText() = text;
}

bool TQtBackend::SetDesktopIdentity(const std::string& desktopEntry, const std::string& iconFile) {
    QGuiApplication::setDesktopFileName(QString::fromStdString(desktopEntry));
    const QIcon icon(QString::fromStdString(iconFile));
    // An icon whose picture cannot be read (a missing file, an SVG without
    // the plugin) is not null but draws nothing.
    if (icon.isNull() || icon.pixmap(32, 32).isNull())
        return false;
    QApplication::setWindowIcon(icon);
    return true;
}

TQtBackend::TQtBackend(int& argc, char** argv) : F(std::make_unique<TImpl>()) {
    if (!QApplication::instance()) {
        if (NoDisplayText().empty()) {
            F->OwnApplication = std::make_unique<QApplication>(argc, argv);
        } else {
            std::vector<QString> held;
            HeldMessages = &held;
            PreviousHandler = qInstallMessageHandler(StartupMessageHandler);
            F->OwnApplication = std::make_unique<QApplication>(argc, argv);
            qInstallMessageHandler(PreviousHandler);
            HeldMessages = nullptr;
            for (const QString& line : held)
                std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
        }
        QGuiApplication::setDesktopFileName(QCoreApplication::applicationName());
        LoadTranslations();
    }
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
            // Nor may the close the signal asks for open one on its way out:
            // nobody would press OK, and the next signal would start over.
            if (TCustomForm* form = Application->MainForm()) {
                ClosingOnSignal = true;
                SendCloseRequest(form);
                ClosingOnSignal = false;
            }
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
    if (Application->Terminated() || ClosingOnSignal)
        return win::IDOK;
    TCentredMessageBox box;
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
    // The button says OK and nothing more: no icon from the style.
    if (QAbstractButton* ok = box.button(QMessageBox::Ok))
        ok->setIcon(QIcon());
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

bool TQtBackend::ClipboardText(String& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    text = FromQString(clipboard->text());
    return true;
}

bool TQtBackend::SetClipboardText(const String& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->setText(ToQString(text));
    return true;
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
