#include "gui/qt/QtBackend.h"

#include <signal.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QSocketNotifier>
#include <QTranslator>
#include <QWindow>
#include <cstdio>
#include <vector>

#include "gui/ComCtrls.h"
#include "gui/Dialogs.h"
#include "gui/Forms.h"
#include "gui/Input.h"
#include "gui/StdCtrls.h"
#include "gui/qt/QtEventBridge.h"
#include "gui/qt/QtPeers.h"
#include "runtime/ExceptionHook.h"

// The application object when the backend made it, the bridge to Qt's loop,
// and the notifier of the termination signals' pipe.
struct TQtBackend::TImpl {
    std::unique_ptr<QApplication> OwnApplication;
    TQtEventBridge Bridge;
    QSocketNotifier* Signals = nullptr;
};

namespace {

// ---- start-up ---------------------------------------------------------------------------

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

// ---- termination signals --------------------------------------------------------------

int SignalPipe[2] = {-1, -1};
// While the close that a termination signal asked for runs.
bool ClosingOnSignal = false;

void OnTerminationSignal(int) {
    const char byte = 1;
    // Nothing else is safe here; the loop closes the main form.
    ssize_t ignored = ::write(SignalPipe[1], &byte, 1);
    (void)ignored;
}

// ---- message box ------------------------------------------------------------------------

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
    InstallAccessibleRoles();
    F->Bridge.Install();
    if (::pipe(SignalPipe) == 0) {
        F->Signals =
            new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, &F->Bridge.Context());
        QObject::connect(F->Signals, &QSocketNotifier::activated, &F->Bridge.Context(), [] {
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
    QObject::connect(qApp, &QApplication::focusChanged, &F->Bridge.Context(),
                     [](QWidget*, QWidget* now) {
                         auto* win = dynamic_cast<TWinControl*>(ControlOf(now));
                         TCustomForm* form = win ? win->GetParentForm() : nullptr;
                         if (form && form != win && form->ActiveControl() != win) {
                             CallGuarded([form, win] { form->SetActiveControl(win); });
                         }
                     });
    F->Bridge.Sync();
    SetGuiBackend(this);
}

TQtBackend::~TQtBackend() {
    if (GuiBackend() == this)
        SetGuiBackend(nullptr);
    F->Bridge.Uninstall();
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
        return NewFormPeer(form);
    }
    if (!parent)
        return nullptr;
    std::unique_ptr<TWidgetPeer> peer;
    if (auto* label = dynamic_cast<TLabel*>(control)) {
        peer = NewLabelPeer(label, parent);
    } else if (auto* button = dynamic_cast<TButton*>(control)) {
        peer = NewButtonPeer(button, parent);
    } else if (auto* box = dynamic_cast<TCheckBox*>(control)) {
        peer = NewCheckBoxPeer(box, parent);
    } else if (auto* memo = dynamic_cast<TMemo*>(control)) {
        peer = NewMemoPeer(memo, parent);
    } else if (auto* edit = dynamic_cast<TCustomEdit*>(control)) {
        peer = NewEditPeer(edit, parent);
    } else if (auto* group = dynamic_cast<TGroupBox*>(control)) {
        peer = NewGroupBoxPeer(group, parent);
    } else if (auto* panel = dynamic_cast<TPanel*>(control)) {
        peer = NewPanelPeer(panel, parent);
    } else if (auto* bar = dynamic_cast<TStatusBar*>(control)) {
        peer = NewStatusBarPeer(bar, parent);
    } else if (auto* picker = dynamic_cast<TDateTimePicker*>(control)) {
        peer = NewDatePickerPeer(picker, parent);
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
    F->Bridge.Deliver();
}

void TQtBackend::WaitForEvents() {
    if (win::MessagesPending())
        return;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

std::vector<win::RECT> TQtBackend::WorkAreas() {
    std::vector<win::RECT> areas;
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect a = screen->availableGeometry();
        areas.push_back(win::RECT{a.left(), a.top(), a.left() + a.width(), a.top() + a.height()});
    }
    return areas;
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
    auto it = ControlWidgets().find(control);
    return it == ControlWidgets().end() ? nullptr : it->second;
}

bool SaveControlImage(const TControl* control, const std::string& fileName) {
    QWidget* widget = TQtBackend::WidgetOf(control);
    if (!widget)
        return false;
    QCoreApplication::processEvents();
    return widget->grab().save(QString::fromStdString(fileName), "PNG");
}
