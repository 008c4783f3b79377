// The form's peer: a top-level window holding the menu bar and the client
// area, placed frame and all where the form says, with the window manager's
// buttons the form's border and system menu allow.
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QWindow>
#include <algorithm>

#include "gui/Forms.h"
#include "gui/Input.h"
#include "gui/qt/QtBackend.h"
#include "gui/qt/QtPeers.h"

namespace {

class TFormPeer;

class TFormWindow : public QWidget {
  public:
    explicit TFormWindow(TFormPeer* peer) : FPeer(peer) {
        SetAccessibleRole(this, QAccessible::Window);
    }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;

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

// Tab and Shift+Tab follow the form's tab order and pass over what the
// user cannot see (a control hidden under another).
bool TFormWindow::focusNextPrevChild(bool next) {
    TCustomForm* form = FPeer->Form();
    TWinControl* current = nullptr;
    for (QWidget* w = QApplication::focusWidget(); w && w != this && !current;
         w = w->parentWidget())
        current = dynamic_cast<TWinControl*>(ControlOf(w));
    TWinControl* target = form->FindNextControl(current, next);
    QWidget* widget = target ? TQtBackend::WidgetOf(target) : nullptr;
    if (!widget)
        return true;
    widget->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    return true;
}

}  // namespace

std::unique_ptr<TWidgetPeer> NewFormPeer(TCustomForm* form) {
    auto peer = std::make_unique<TFormPeer>(form);
    peer->InitForm();
    return peer;
}
