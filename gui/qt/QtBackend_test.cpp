#include "gui/qt/QtBackend.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QClipboard>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <set>

#include "gui/ComCtrls.h"
#include "gui/Dialogs.h"
#include "gui/Forms.h"
#include "gui/Input.h"
#include "gui/Mask.h"
#include "gui/StdCtrls.h"
#include "gui/qt/QtPeers.h"

// The font library keeps a cache for the life of the process; it is not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

// Every kind of control on one small form.
class TDemoForm : public TForm {
  public:
    explicit TDemoForm(TComponent* AOwner) : TForm(AOwner) {
        SetCaption("Получение курсов валют ЦБ"_cp);
        SetBorderStyle(bsSingle);
        SetBorderIcons(TBorderIcons{biSystemMenu, biMinimize});
        SetPosition(poScreenCenter);
        SetClientSize(287, 225);
        MainMenu1 = new TMainMenu(this);
        N1 = Item("&Файл"_cp, MainMenu1->Items());
        N4 = Item("&Настройки..."_cp, N1);
        Item("-", N1);
        Item("&Выход"_cp, N1);
        TMenuItem* help = Item("&Справка"_cp, MainMenu1->Items());
        Item("&О программе..."_cp, help);
        SetMenu(MainMenu1);
        sb = new TStatusBar(this);
        sb->SetParent(this);
        sb->SetBounds(0, 206, 287, 19);
        sb->SetSimplePanel(true);
        sb->SetSimpleText("Все сделано..."_cp);
        Panel2 = new TPanel(this);
        Panel2->SetParent(this);
        Panel2->SetBounds(0, 178, 287, 28);
        Panel2->SetAlign(alBottom);
        Panel2->SetBevelOuter(bvNone);
        auto* label = new TLabel(this);
        label->SetParent(Panel2);
        label->SetBounds(6, 8, 32, 13);
        label->SetCaption("Дата: "_cp);
        dteKurs = new TDateTimePicker(this);
        dteKurs->SetParent(Panel2);
        dteKurs->SetBounds(45, 4, 90, 21);
        dteKurs->Font()->SetColor(clNavy);
        dteKurs->SetDate(EncodeDate(2000, 12, 7));
        Button1 = new TButton(this);
        Button1->SetParent(Panel2);
        Button1->SetBounds(140, 3, 147, 24);
        Button1->SetCaption("Получить курсы валют"_cp);
        Button1->Font()->SetColor(clNavy);
        Memo2 = new TMemo(this);
        Memo2->SetParent(this);
        Memo2->SetAlign(alClient);
        Memo2->SetReadOnly(true);
        Memo2->Font()->SetColor(clNavy);
        Memo2->Lines()->Add("Курсы валют ЦБ РФ на 07.12.2000"_cp);
        Memo2->Lines()->Add("Доллар США     27,8500"_cp);
        pSet = new TPanel(this);
        pSet->SetParent(this);
        pSet->SetAlign(alClient);
        pSet->SetBevelInner(bvLowered);
        pSet->SetVisible(false);
        auto* group = new TGroupBox(this);
        group->SetParent(pSet);
        group->SetHeight(79);
        group->SetAlign(alTop);
        group->SetCaption("Сервер ЦБ"_cp);
        edtServer = new TEdit(this);
        edtServer->SetParent(group);
        edtServer->SetBounds(172, 16, 105, 21);
        edtServer->SetText("127.0.0.1");
        edtTimeOut = new TMaskEdit(this);
        edtTimeOut->SetParent(group);
        edtTimeOut->SetBounds(172, 40, 41, 21);
        edtTimeOut->SetEditMask("999;1;_");
        edtTimeOut->SetText("20");
        auto* proxy = new TGroupBox(this);
        proxy->SetParent(pSet);
        proxy->SetBounds(2, 81, 283, 65);
        proxy->SetAlign(alTop);
        proxy->SetCaption("Прокси-сервер"_cp);
        cbxProxy = new TCheckBox(this);
        cbxProxy->SetParent(proxy);
        cbxProxy->SetBounds(14, 16, 99, 17);
        cbxProxy->SetCaption("Использовать :"_cp);
        cbxProxy->SetAlignment(taLeftJustify);
        N4->OnClick = [this](TObject*) {
            N4->SetChecked(!N4->Checked());
            pSet->SetVisible(N4->Checked());
        };
    }
    TMenuItem* Item(const String& caption, TMenuItem* parent) {
        auto* item = new TMenuItem(this);
        item->SetCaption(caption);
        parent->Add(item);
        return item;
    }

    TMainMenu* MainMenu1;
    TMenuItem *N1, *N4;
    TStatusBar* sb;
    TPanel *Panel2, *pSet;
    TDateTimePicker* dteKurs;
    TButton* Button1;
    TMemo* Memo2;
    TEdit* edtServer;
    TMaskEdit* edtTimeOut;
    TCheckBox* cbxProxy;
};

int Argc = 1;
char Arg0[] = "kurs_gui_qt_test";
char* Argv[] = {Arg0, nullptr};

class QtBackendTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        Backend = new TQtBackend(Argc, Argv);
    }
    void SetUp() override {
        Application->Initialize();
        Application->SetTitle("Курсы валют"_cp);
        ClearRecordedMessageBoxes();
        SetShortDateFormat("dd/mm/yyyy");
        Application->CreateForm(Form);
        Form->Show();
        Application->ProcessMessages();
    }
    void TearDown() override {
        Application->DoneApplication();
        Application->ProcessMessages();
    }
    static TQtBackend* Backend;
    TDemoForm* Form = nullptr;
};
TQtBackend* QtBackendTest::Backend = nullptr;

TEST_F(QtBackendTest, DemoFormRendersEveryControlAtItsGeometry) {
    QWidget* window = TQtBackend::WidgetOf(Form);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QString::fromUtf8("Получение курсов валют ЦБ"));
    auto* bar = window->findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(window->height(), bar->height() + 225);
    EXPECT_EQ(window->width(), 287);
    for (TControl* control : std::initializer_list<TControl*>{
             Form->sb, Form->Panel2, Form->dteKurs, Form->Button1, Form->Memo2, Form->edtServer,
             Form->edtTimeOut, Form->cbxProxy}) {
        QWidget* widget = TQtBackend::WidgetOf(control);
        ASSERT_NE(widget, nullptr) << control->ClassName();
        EXPECT_EQ(widget->geometry(),
                  QRect(control->Left(), control->Top(), control->Width(), control->Height()))
            << control->ClassName();
    }
    EXPECT_EQ(static_cast<QDateEdit*>(TQtBackend::WidgetOf(Form->dteKurs))->date(),
              QDate(2000, 12, 7));
    EXPECT_TRUE(static_cast<QPlainTextEdit*>(TQtBackend::WidgetOf(Form->Memo2))->isReadOnly());
    EXPECT_FALSE(TQtBackend::WidgetOf(Form->pSet)->isVisible());

    // The menu bar shows the captions with their accelerators and the check mark.
    ASSERT_GE(bar->actions().size(), 2);
    EXPECT_EQ(bar->actions()[0]->text(), QString::fromUtf8("&Файл"));
    SendMenuCommand(Form->N4);
    Application->ProcessMessages();
    QAction* settings = bar->actions()[0]->menu()->actions()[0];
    EXPECT_TRUE(settings->isChecked());
    EXPECT_TRUE(bar->actions()[0]->menu()->actions()[1]->isSeparator());
    EXPECT_TRUE(TQtBackend::WidgetOf(Form->pSet)->isVisible());

    // Screenshots of both views for the build folder.
    QDir().mkpath(KURS_SCREENSHOT_DIR);
    const QString settingsShot = QString(KURS_SCREENSHOT_DIR) + "/gui-demo-settings.png";
    ASSERT_TRUE(window->grab().save(settingsShot));
    SendMenuCommand(Form->N4);
    Application->ProcessMessages();
    const QString reportShot = QString(KURS_SCREENSHOT_DIR) + "/gui-demo.png";
    ASSERT_TRUE(window->grab().save(reportShot));
    QImage image(reportShot);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), window->width() * image.devicePixelRatio());
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3)
            colours.insert(image.pixel(x, y));
    }
    EXPECT_GT(colours.size(), 4u) << "something was drawn";
}

TEST_F(QtBackendTest, TypingIntoTheMaskedFieldYieldsTheFrameworksText) {
    SendMenuCommand(Form->N4);
    Application->ProcessMessages();
    auto* line = static_cast<QLineEdit*>(TQtBackend::WidgetOf(Form->edtTimeOut));
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->text(), "20_");
    auto key = [&](int code, const QString& text = QString()) {
        QKeyEvent press(QEvent::KeyPress, code, Qt::NoModifier, text);
        QApplication::sendEvent(line, &press);
    };
    key(Qt::Key_Home);
    key(Qt::Key_Delete);
    key(Qt::Key_Right);
    key(Qt::Key_Delete);
    EXPECT_EQ(Form->edtTimeOut->Text(), "   ");
    key(Qt::Key_Home);
    key(Qt::Key_2, "2");
    key(Qt::Key_A, "a");  // refused
    key(Qt::Key_Right);
    key(Qt::Key_0, "0");
    EXPECT_EQ(Form->edtTimeOut->Text(), "2 0");
    EXPECT_EQ(line->text(), "2_0");
    key(Qt::Key_Backspace);
    EXPECT_EQ(Form->edtTimeOut->Text(), "2  ");
    EXPECT_EQ(line->text(), "2__");
}

TEST_F(QtBackendTest, PastedTextReachesTheFrameworkAndTheMaskDecides) {
    SendMenuCommand(Form->N4);
    Application->ProcessMessages();
    auto paste = [](QWidget* widget, const QString& text) {
        QApplication::clipboard()->setText(text);
        auto* line = static_cast<QLineEdit*>(widget);
        line->selectAll();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_V, Qt::ControlModifier, "v");
        QApplication::sendEvent(widget, &press);
    };
    paste(TQtBackend::WidgetOf(Form->edtServer), QString::fromUtf8("cbr.example"));
    EXPECT_EQ(Form->edtServer->Text(), "cbr.example");
    QWidget* timeOut = TQtBackend::WidgetOf(Form->edtTimeOut);
    paste(timeOut, "9x");
    EXPECT_EQ(Form->edtTimeOut->Text(), "9  ");
    EXPECT_EQ(static_cast<QLineEdit*>(timeOut)->text(), "9__");
}

TEST_F(QtBackendTest, TimerOfTheMessageLayerFiresWhileAModalBoxIsOpen) {
    static int ticks = 0;
    ticks = 0;
    win::SetTimer(
        Form->Handle(), 42, 15, +[](win::HWND hwnd, win::UINT, win::UINT_PTR id, win::DWORD) {
            if (++ticks == 3) {
                win::KillTimer(hwnd, id);
                if (QWidget* modal = QApplication::activeModalWidget())
                    modal->close();
            }
        });
    // A safety net so that a broken loop fails instead of hanging.
    QTimer::singleShot(5000, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    ShowMessage("Время запроса истекло...\n\rВозможно нет подключения к Интернет."_cp);
    EXPECT_EQ(ticks, 3);
    ASSERT_EQ(RecordedMessageBoxes().size(), 1u);
    EXPECT_EQ(RecordedMessageBoxes()[0].Caption, String("Курсы валют"_cp));
}

TEST_F(QtBackendTest, PostedMessagesAndTimersFlowThroughQtsLoop) {
    static std::vector<int> order;
    order.clear();
    win::SetTimer(
        Form->Handle(), 43, 10, +[](win::HWND hwnd, win::UINT, win::UINT_PTR id, win::DWORD) {
            order.push_back(2);
            win::KillTimer(hwnd, id);
        });
    QTimer::singleShot(0, [] { order.push_back(1); });
    // Bounded so that a broken loop fails instead of hanging.
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (order.size() < 2 && std::chrono::steady_clock::now() < giveUp) {
        Application->HandleMessage();
    }
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST_F(QtBackendTest, MessagesKeepFlowingInAModalBoxOpenedByAHandler) {
    // A posted message's handler opens a box; a timer must still tick inside it.
    static int ticks = 0;
    ticks = 0;
    Form->Button1->OnClick = [this](TObject*) {
        win::SetTimer(
            Form->Handle(), 44, 10, +[](win::HWND hwnd, win::UINT, win::UINT_PTR id, win::DWORD) {
                if (++ticks == 2) {
                    win::KillTimer(hwnd, id);
                    if (QWidget* modal = QApplication::activeModalWidget())
                        modal->close();
                }
            });
        ShowMessage("inside");
    };
    QTimer::singleShot(5000, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    win::PostMessage(Form->Button1->Handle(), CN_COMMAND, 0, 0);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (RecordedMessageBoxes().empty() && std::chrono::steady_clock::now() < giveUp) {
        Application->HandleMessage();
    }
    EXPECT_EQ(ticks, 2);
    ASSERT_EQ(RecordedMessageBoxes().size(), 1u);
}

TEST_F(QtBackendTest, TitleBarCloseGoesThroughTheCloseQuery) {
    bool allow = false;
    int queries = 0;
    Form->OnCloseQuery = [&](TObject*, bool& canClose) {
        ++queries;
        canClose = allow;
    };
    QWidget* window = TQtBackend::WidgetOf(Form);
    window->close();
    Application->ProcessMessages();
    EXPECT_EQ(queries, 1);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(Application->Terminated());
    allow = true;
    window->close();
    EXPECT_TRUE(Application->Terminated());
}

TEST_F(QtBackendTest, TerminationSignalsCloseTheMainFormLikeItsCloseButton) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        int queries = 0;
        Form->OnCloseQuery = [&](TObject*, bool& canClose) {
            ++queries;
            canClose = false;  // so the next signal finds the form still there
        };
        std::raise(sig);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (queries == 0 && std::chrono::steady_clock::now() < giveUp) {
            Application->HandleMessage();
        }
        EXPECT_EQ(queries, 1) << "signal " << sig;
    }
    Form->OnCloseQuery = nullptr;
    std::raise(SIGTERM);
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!Application->Terminated() && std::chrono::steady_clock::now() < giveUp) {
        Application->HandleMessage();
    }
    EXPECT_TRUE(Application->Terminated());
}

TEST_F(QtBackendTest, ATerminationSignalDismissesAnOpenBoxAndShowsNoMore) {
    // A safety net so that a broken close fails instead of hanging.
    QTimer::singleShot(5000, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    QTimer::singleShot(50, [] { std::raise(SIGTERM); });
    const auto start = std::chrono::steady_clock::now();
    // Like a failed request: two boxes in a row from one handler.
    ShowMessage("first"_cp);
    ShowMessage("second"_cp);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!Application->Terminated() && std::chrono::steady_clock::now() < giveUp)
        Application->HandleMessage();
    EXPECT_TRUE(Application->Terminated());
    EXPECT_EQ(RecordedMessageBoxes().size(), 2u);
}

TEST_F(QtBackendTest, TheCloseASignalAsksForOpensNoBoxOnItsWay) {
    // A safety net so that a waiting box fails the test instead of hanging it.
    QTimer::singleShot(5000, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    // Like a window that tells at its close why its settings were not saved.
    Form->OnClose = [](TObject*, TCloseAction&) { ShowMessage("not saved"_cp); };
    const auto start = std::chrono::steady_clock::now();
    std::raise(SIGTERM);
    const auto giveUp = start + std::chrono::seconds(8);
    while (!Application->Terminated() && std::chrono::steady_clock::now() < giveUp)
        Application->HandleMessage();
    EXPECT_TRUE(Application->Terminated());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    ASSERT_EQ(RecordedMessageBoxes().size(), 1u);
    EXPECT_EQ(RecordedMessageBoxes()[0].Text, "not saved");
}

TEST_F(QtBackendTest, SizeLimitsComeFromTheFormsWindowProcedure) {
    TForm* sizeable = NewForm<TForm>(Application);
    sizeable->SetBorderStyle(bsSizeable);
    sizeable->SetClientSize(400, 300);
    // A hook on the form's window answers WM_GETMINMAXINFO.
    static win::WNDPROC previous = nullptr;
    previous = reinterpret_cast<win::WNDPROC>(win::SetWindowLongPtr(
        sizeable->Handle(), win::GWL_WNDPROC,
        reinterpret_cast<win::LONG_PTR>(
            +[](win::HWND h, win::UINT m, win::WPARAM w, win::LPARAM l) -> win::LRESULT {
                const win::LRESULT result = win::CallWindowProc(previous, h, m, w, l);
                if (m == win::WM_GETMINMAXINFO) {
                    auto* info = reinterpret_cast<win::MINMAXINFO*>(l);
                    info->ptMinTrackSize = win::POINT{300, 200};
                    info->ptMaxTrackSize = win::POINT{800, 600};
                }
                return result;
            })));
    sizeable->Show();
    Application->ProcessMessages();
    QWidget* window = TQtBackend::WidgetOf(sizeable);
    ASSERT_NE(window, nullptr);
    const win::RECT frame = sizeable->NonClientExtent();
    EXPECT_EQ(window->minimumWidth(), 300 - (frame.left + frame.right));
    EXPECT_EQ(window->maximumHeight(), 600 - (frame.top + frame.bottom));
    EXPECT_EQ(window->width(), 400);
    win::SetWindowLongPtr(sizeable->Handle(), win::GWL_WNDPROC,
                          reinterpret_cast<win::LONG_PTR>(previous));
}

// A window whose procedure greys Size and Maximize in its system menu gets a
// fixed frame and no maximise button, whatever its border style says.
TEST_F(QtBackendTest, TheSystemMenuDecidesResizingAndTheMaximiseButton) {
    TForm* greyed = NewForm<TForm>(Application);
    greyed->SetBorderStyle(bsSizeable);
    greyed->SetClientSize(400, 300);
    static win::WNDPROC previous = nullptr;
    previous = reinterpret_cast<win::WNDPROC>(win::SetWindowLongPtr(
        greyed->Handle(), win::GWL_WNDPROC,
        reinterpret_cast<win::LONG_PTR>(+[](win::HWND h, win::UINT m, win::WPARAM w,
                                            win::LPARAM l) -> win::LRESULT {
            const win::LRESULT result = win::CallWindowProc(previous, h, m, w, l);
            if (m == win::WM_INITMENUPOPUP && win::HIWORD(static_cast<win::UINT_PTR>(l))) {
                const auto menu = reinterpret_cast<win::HMENU>(w);
                win::EnableMenuItem(menu, static_cast<win::UINT>(win::SC_SIZE), win::MF_GRAYED);
                win::EnableMenuItem(menu, static_cast<win::UINT>(win::SC_MAXIMIZE), win::MF_GRAYED);
            }
            return result;
        })));
    TForm* plain = NewForm<TForm>(Application);
    plain->SetBorderStyle(bsSizeable);
    plain->SetClientSize(400, 300);
    greyed->Show();
    plain->Show();
    Application->ProcessMessages();
    QWidget* fixed = TQtBackend::WidgetOf(greyed);
    QWidget* free = TQtBackend::WidgetOf(plain);
    ASSERT_NE(fixed, nullptr);
    ASSERT_NE(free, nullptr);
    EXPECT_EQ(fixed->minimumSize(), fixed->maximumSize());
    EXPECT_FALSE(fixed->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_NE(free->minimumSize(), free->maximumSize());
    EXPECT_TRUE(free->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    win::SetWindowLongPtr(greyed->Handle(), win::GWL_WNDPROC,
                          reinterpret_cast<win::LONG_PTR>(previous));
}

TEST(QtText, Cp1251AndBothLineBreakOrders) {
    EXPECT_EQ(ToQString("Время\n\rВозможно"_cp), QString::fromUtf8("Время\nВозможно"));
    EXPECT_EQ(ToQString("a\r\nb\rc\nd"), QString("a\nb\nc\nd"));
    EXPECT_EQ(ToQString("a\n\n\rb"), QString("a\n\nb"));
    EXPECT_EQ(FromQString(QString::fromUtf8("Ёлка")), String("Ёлка"_cp));
}

TEST_F(QtBackendTest, UserMovingTheWindowUpdatesThePlacement) {
    QWidget* window = TQtBackend::WidgetOf(Form);
    window->move(31, 47);
    Application->ProcessMessages();
    win::WINDOWPLACEMENT wp;
    ASSERT_TRUE(win::GetWindowPlacement(Form->Handle(), &wp));
    EXPECT_EQ(Form->Left(), window->frameGeometry().x());
    EXPECT_EQ(wp.rcNormalPosition.left, Form->Left());
    EXPECT_EQ(wp.rcNormalPosition.top, Form->Top());
    // And a placement set on the window moves the widget.
    wp.rcNormalPosition = win::RECT{100, 120, 100 + Form->Width(), 120 + Form->Height()};
    ASSERT_TRUE(win::SetWindowPlacement(Form->Handle(), &wp));
    Application->ProcessMessages();
    EXPECT_EQ(window->frameGeometry().topLeft(), QPoint(100, 120));
}

}  // namespace

namespace {

void Key(QWidget* widget, int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
         const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, code, modifiers, text);
    QApplication::sendEvent(widget, &press);
}

TEST_F(QtBackendTest, KeysAndTheMouseSelectInTheFieldAndTheFrameworkKeepsInStep) {
    SendMenuCommand(Form->N4);
    Application->ProcessMessages();
    auto* line = static_cast<QLineEdit*>(TQtBackend::WidgetOf(Form->edtServer));
    Form->edtServer->SetFocus();
    Key(line, Qt::Key_End);
    Key(line, Qt::Key_Home, Qt::ShiftModifier);
    EXPECT_EQ(line->selectedText(), "127.0.0.1");
    EXPECT_EQ(Form->edtServer->SelLength(), 9);
    Key(line, Qt::Key_1, Qt::NoModifier, "1");
    Key(line, Qt::Key_0, Qt::NoModifier, "0");
    EXPECT_EQ(Form->edtServer->Text(), "10");
    EXPECT_EQ(line->text(), "10");
    // A mouse drag over the text: the selection stays after the release
    // and typing replaces it.
    const int y = line->height() / 2;
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, y), line->mapToGlobal(QPointF(2, y)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(line, &press);
    const QPointF end(line->width() - 2, y);
    QMouseEvent move(QEvent::MouseMove, end, line->mapToGlobal(end), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(line, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, end, line->mapToGlobal(end), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(line, &release);
    EXPECT_EQ(line->selectedText(), "10");
    EXPECT_EQ(Form->edtServer->SelStart(), 0);
    EXPECT_EQ(Form->edtServer->SelLength(), 2);
    Key(line, Qt::Key_Backspace);
    EXPECT_EQ(Form->edtServer->Text(), "");
    Key(line, Qt::Key_Z, Qt::ControlModifier, "\x1A");
    EXPECT_EQ(Form->edtServer->Text(), "10");
    EXPECT_EQ(line->text(), "10");
}

TEST_F(QtBackendTest, EnterPressesTheFocusedButtonAndADisabledCaptionIsGrey) {
    int presses = 0;
    Form->Button1->OnClick = [&](TObject*) { ++presses; };
    QWidget* button = TQtBackend::WidgetOf(Form->Button1);
    Key(button, Qt::Key_Return);
    Key(button, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(presses, 2);
    const QPalette palette = button->palette();
    EXPECT_EQ(palette.color(QPalette::Active, QPalette::ButtonText), QColor(0, 0, 0x80));
    EXPECT_NE(palette.color(QPalette::Disabled, QPalette::ButtonText), QColor(0, 0, 0x80));
    Form->Button1->SetEnabled(false);
    Key(button, Qt::Key_Return);
    EXPECT_EQ(presses, 2);
}

TEST_F(QtBackendTest, TheDateFieldTakesTypedDigitsAndTabLeavesIt) {
    SetDateSeparator('.');
    auto* edit = static_cast<QDateEdit*>(TQtBackend::WidgetOf(Form->dteKurs));
    edit->setFocus();
    Form->dteKurs->SetFocus();
    for (QChar c : QString("07.12.2000"))
        Key(edit, c.isDigit() ? Qt::Key_0 + c.digitValue() : Qt::Key_Period, Qt::NoModifier, c);
    EXPECT_EQ(Form->dteKurs->Date(), EncodeDate(2000, 12, 7));
    EXPECT_EQ(edit->date(), QDate(2000, 12, 7));
    EXPECT_EQ(edit->currentSection(), QDateTimeEdit::YearSection);
    Key(edit, Qt::Key_Left);
    EXPECT_EQ(edit->currentSection(), QDateTimeEdit::MonthSection);
    Key(edit, Qt::Key_Up);
    EXPECT_EQ(Form->dteKurs->Date(), EncodeDate(2000, 1, 7)) << "December steps round to January";
    SetDateSeparator('/');
    // A click on the text, the field focused, selects the field under it;
    // the digits typed go there.
    QLineEdit* text = edit->findChild<QLineEdit*>();
    ASSERT_NE(text, nullptr);
    const QPointF onYear(text->width() - 12, text->height() / 2);
    QMouseEvent press(QEvent::MouseButtonPress, onYear, text->mapToGlobal(onYear), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(text, &press);
    EXPECT_EQ(Form->dteKurs->SelectedPart(), 2);
    EXPECT_EQ(edit->currentSection(), QDateTimeEdit::YearSection);
    // The calendar speaks Russian whatever the program's locale.
    QCalendarWidget* calendar = edit->calendarWidget();
    ASSERT_NE(calendar, nullptr);
    std::set<QString> shown;
    for (QToolButton* button : calendar->findChildren<QToolButton*>())
        shown.insert(button->text());
    EXPECT_EQ(shown.count(QString::fromUtf8("январь")) + shown.count(QString::fromUtf8("Январь")),
              1u);
    EXPECT_EQ(calendar->locale().dayName(1, QLocale::ShortFormat), QString::fromUtf8("пн"));
}

// With the settings shown, Tab walks the fields in their tab order and never
// lands in the report hidden under them; back in the report view it does.
TEST_F(QtBackendTest, TabFollowsTheTabOrderAndPassesOverTheCoveredReport) {
    auto walk = [&](int steps) {
        std::vector<TControl*> focused;
        QWidget* start = TQtBackend::WidgetOf(Form->dteKurs);
        start->setFocus();
        for (int i = 0; i < steps; ++i) {
            Key(QApplication::focusWidget(), Qt::Key_Tab);
            Application->ProcessMessages();
            focused.push_back(Form->ActiveControl());
        }
        return focused;
    };
    SendMenuCommand(Form->N4);
    Application->ProcessMessages();
    EXPECT_EQ(walk(5), (std::vector<TControl*>{Form->Button1, Form->edtServer, Form->edtTimeOut,
                                               Form->cbxProxy, Form->dteKurs}));
    SendMenuCommand(Form->N4);
    Application->ProcessMessages();
    EXPECT_EQ(walk(3), (std::vector<TControl*>{Form->Button1, Form->Memo2, Form->dteKurs}));
}

// Under a dark desktop palette each navy text is drawn in a colour of the
// navy's hue that reaches 4.5:1 against what is drawn behind it; under the
// light one it stays navy.  Both are pictured in build/screenshots/.
TEST_F(QtBackendTest, NavyTextsStayReadableUnderADarkPalette) {
    struct Text {
        const char* what;
        TControl* control;
        QPalette::ColorRole text;
    };
    auto texts = [](TDemoForm* form) {
        return std::vector<Text>{{"date field", form->dteKurs, QPalette::Text},
                                 {"button caption", form->Button1, QPalette::ButtonText},
                                 {"report", form->Memo2, QPalette::Text}};
    };
    // The text's colour against the greys the widget fills inside its frame
    // with (the drop-down button aside), as measured on its picture.
    auto measure = [&](TDemoForm* form, const char* theme) {
        for (const Text& t : texts(form)) {
            QWidget* widget = TQtBackend::WidgetOf(t.control);
            const QColor text = widget->palette().color(QPalette::Active, t.text);
            const QImage image = widget->grab().toImage();
            const int right = t.control == form->dteKurs ? 22 : 3;
            // The background's colours are those that fill many pixels (each
            // shade of a glyph's edge fills few).
            std::map<QRgb, int> counts;
            int pixels = 0;
            for (int y = 3; y < image.height() - 3; ++y) {
                for (int x = 3; x < image.width() - right; ++x, ++pixels)
                    ++counts[image.pixel(x, y)];
            }
            double least = 21;
            QColor worst;
            for (const auto& [rgb, count] : counts) {
                const QColor c(rgb);
                if (count * 33 < pixels || c.hsvSaturation() > 20)
                    continue;
                if (ContrastRatio(text, c) < least) {
                    least = ContrastRatio(text, c);
                    worst = c;
                }
            }
            std::printf("%s theme, %s: %s, against the drawn %s at worst %.2f:1\n", theme, t.what,
                        text.name().toLatin1().constData(), worst.name().toLatin1().constData(),
                        least);
            EXPECT_GE(least, 4.5) << theme << " " << t.what;
            EXPECT_EQ(text.hslHue(), 240) << theme << " " << t.what;
            if (std::string(theme) == "light") {
                EXPECT_EQ(text, QColor(0, 0, 0x80)) << t.what;
            }
        }
    };
    const std::string folder = std::string(KURS_SCREENSHOT_DIR) + "/themes";
    QDir().mkpath(QString::fromStdString(folder));
    measure(Form, "light");
    EXPECT_TRUE(SaveControlImage(Form, folder + "/light.png"));

    const QPalette light = QApplication::palette();
    QPalette dark = light;
    auto grey = [](int level) { return QColor(level, level, level); };
    for (auto [role, color] : std::initializer_list<std::pair<QPalette::ColorRole, QColor>>{
             {QPalette::Window, grey(0x1e)},
             {QPalette::Base, grey(0x12)},
             {QPalette::AlternateBase, grey(0x26)},
             {QPalette::Button, grey(0x2a)},
             {QPalette::WindowText, grey(0xe0)},
             {QPalette::Text, grey(0xe0)},
             {QPalette::ButtonText, grey(0xe0)},
             {QPalette::Light, grey(0x3c)},
             {QPalette::Midlight, grey(0x33)},
             {QPalette::Mid, grey(0x24)},
             {QPalette::Dark, grey(0x10)},
             {QPalette::Shadow, grey(0x00)},
             {QPalette::Highlight, QColor(0x3d, 0x6f, 0xb4)},
             {QPalette::HighlightedText, grey(0xff)}})
        dark.setColor(role, color);
    QApplication::setPalette(dark);
    TDemoForm* darkForm = nullptr;
    Application->CreateForm(darkForm);
    SendMenuCommand(darkForm->N4);
    SendMenuCommand(darkForm->N4);
    darkForm->Show();
    Application->ProcessMessages();
    measure(darkForm, "dark");
    EXPECT_TRUE(SaveControlImage(darkForm, folder + "/dark.png"));
    QApplication::setPalette(light);
}

TEST_F(QtBackendTest, WindowsShowTheGivenIconAndBelongToTheGivenDesktopEntry) {
    // A navy square with a white dot: the icon plugin must draw it, not Qt's own.
    const QString file = QDir::temp().filePath("kurs_gui_qt_test-icon.svg");
    {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(
            "<svg xmlns='http://www.w3.org/2000/svg' width='64' height='64'>"
            "<rect width='64' height='64' fill='#1f3a7a'/>"
            "<circle cx='32' cy='32' r='8' fill='#ffffff'/></svg>");
    }
    EXPECT_FALSE(Backend->SetDesktopIdentity("kurs", "/nonexistent/kurs.svg"));
    ASSERT_TRUE(Backend->SetDesktopIdentity("kurs", file.toStdString()));
    QFile::remove(file);
    EXPECT_EQ(QGuiApplication::desktopFileName(), QString("kurs"));
    const QImage icon = TQtBackend::WidgetOf(Form)->windowIcon().pixmap(32, 32).toImage();
    ASSERT_FALSE(icon.isNull());
    EXPECT_EQ(icon.pixelColor(3, 3), QColor(0x1f, 0x3a, 0x7a));
    EXPECT_EQ(icon.pixelColor(16, 16), QColor(Qt::white));
}

TEST_F(QtBackendTest, MenusTranslatedContextTextsAndPlainOkButtons) {
    QWidget* window = TQtBackend::WidgetOf(Form);
    auto* bar = window->findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    // F10 opens the first menu, in the bar's own font.
    for (QShortcut* s : window->findChildren<QShortcut*>()) {
        if (s->key() == QKeySequence(Qt::Key_F10))
            emit s->activated();
    }
    QMenu* file = bar->actions()[0]->menu();
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(file->isVisible());
    EXPECT_EQ(file->font(), bar->font());
    file->hide();
    EXPECT_EQ(QCoreApplication::translate("QLineEdit", "Select All"),
              QString::fromUtf8("Выделить всё"));
    // The OK button of a box carries no icon.
    QTimer::singleShot(0, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            EXPECT_TRUE(box->button(QMessageBox::Ok)->icon().isNull());
            box->done(QMessageBox::Ok);
        }
    });
    QTimer::singleShot(5000, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    ShowMessage("Версия 1.00"_cp);
}

}  // namespace
