#include "app/untMain.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "gui/Dialogs.h"
#include "gui/Input.h"
#include "runtime/DateTime.h"
#include "testing/ProxyProcess.h"
#include "testing/ScriptedServer.h"
#include "testing/SocketPeer.h"
#include "testing/TestHome.h"

namespace {

using testing_support::ScriptedAnswer;
using testing_support::ScriptedServer;

const String kHead = "HTTP/1.0 200 OK\r\nContent-Type: text/html; charset=windows-1251\r\n\r\n";

// A rates page laid out as the bank's table: nominal two lines above the
// name, rate two lines below it.
String RatesPage() {
    String page = "<html><body>\r\n<p>Центральный банк РФ установил с 07.12.2000 курсы</p>\r\n"_cp;
    const struct {
        const char *nominal, *name, *rate;
    } rows[] = {{"1", "Доллар США", "27,8500"},
                {"1", "ЕВРО", "25,1900"},
                {"1", "Немецкая марка", "12,8800"},
                {"10", "Финляндских марок", "42,3600"}};
    for (const auto& row : rows) {
        page += "<tr>\r\n<td>" + String(row.nominal) + "</td>\r\n<td>X</td>\r\n<td>" +
                Utf8ToCp1251(row.name) + "</td>\r\n<td>x</td>\r\n<td>" + row.rate +
                "</td>\r\n</tr>\r\n";
    }
    return page + "</body></html>\r\n";
}

std::vector<String> ExpectedReport(const String& date) {
    auto spaces = [](int n) { return String(static_cast<std::size_t>(n), ' '); };
    return {"C "_cp + date + "  ЦБ установил следующие курсы :"_cp,
            " ",
            spaces(38) + "1 Доллар США = 27,8500"_cp,
            " ",
            spaces(50) + "1 ЕВРО = 25,1900"_cp,
            " ",
            spaces(30) + "1 Немецкая марка = 12,8800"_cp,
            " ",
            spaces(22) + "10 Финляндских марок = 42,3600"_cp,
            " "};
}

const String kTimedOutBox =
    "Время запроса истекло... Сервер ЦБ не отвечает...\n\rВозможно нет подключения к Интернет."_cp;
const String kFailedBox =
    "Произошла ошибка при получении курса валют...\n\rВозможно нет подключения к Интернет."_cp;

std::vector<String> Boxes() {
    std::vector<String> texts;
    for (const auto& box : RecordedMessageBoxes())
        texts.push_back(box.Text);
    return texts;
}

class Form1Test : public TestHome {
  protected:
    void SetUp() override {
        TestHome::SetUp();
        Application->Initialize();
        Application->SetTitle("Курсы валют"_cp);
        ClearRecordedMessageBoxes();
        SetDateSeparator('.');
        Application->CreateForm(Form);
        Form->OnStatusText = [this](const String& text) {
            Statuses.push_back(text);
            if (OnStatus)
                OnStatus(text);
        };
        CreatedDate = Form->dteKurs->Date();
        Form->dteKurs->SetDate(EncodeDate(2000, 12, 7));
    }
    void TearDown() override {
        Application->DoneApplication();
        Screen->SetCursor(crDefault);
        ResetFormatSettings();
        TestHome::TearDown();
    }

    void TypeServer(const String& text) { SendTextChange(Form->edtServer, text); }
    void Press() { SendClick(Form->Button1); }
    std::vector<String> Report() const { return Form->Memo2->Lines()->ToVector(); }
    // The status texts with the byte counts of "Получение данных: N" folded into one.
    std::vector<String> Flow() const {
        std::vector<String> flow;
        for (const String& s : Statuses) {
            const String text =
                s.rfind("Получение данных: "_cp, 0) == 0 ? "Получение данных: "_cp : s;
            if (flow.empty() || flow.back() != text)
                flow.push_back(text);
        }
        return flow;
    }
    void ExpectIdle() const {
        EXPECT_TRUE(Form->Button1->Enabled());
        EXPECT_EQ(Screen->Cursor(), crDefault);
        EXPECT_EQ(Form->sb->SimpleText(), "");
        EXPECT_FALSE(Form->Busy());
    }

    TForm1* Form = nullptr;
    TDateTime CreatedDate = 0;
    std::vector<String> Statuses;
    std::function<void(const String&)> OnStatus;
};

// ---- the window --------------------------------------------------------------------------

TEST_F(Form1Test, ComponentsInTheDeclaredOrderWithTheirParentsAndPlaces) {
    const struct {
        const char* name;
        const char* parent;
        int left, top, width, height;
    } layout[] = {
        {"sb", "Form1", 0, 206, 287, 19},
        {"Panel2", "Form1", 0, 178, 287, 28},
        {"Label1", "Panel2", 6, 8, 32, 13},
        {"dteKurs", "Panel2", 45, 4, 90, 21},
        {"Button1", "Panel2", 140, 3, 147, 24},
        {"Memo2", "Form1", 0, 0, 287, 178},
        {"pSet", "Form1", 0, 0, 287, 178},
        {"Button3", "pSet", 4, 150, 279, 25},
        {"cbxProxy", "GroupBox1", 14, 16, 99, 17},
        {"Label20", "GroupBox1", 14, 36, 82, 13},
        {"edtProxy", "GroupBox1", 99, 34, 106, 21},
        {"Label21", "GroupBox1", 208, 36, 31, 13},
        {"GroupBox2", "pSet", 2, 2, 283, 79},
        {"Label2", "GroupBox2", 18, 20, 147, 13},
        {"edtServer", "GroupBox2", 172, 16, 105, 21},
        {"Label3", "GroupBox2", 10, 44, 156, 13},
        {"edtTimeOut", "GroupBox2", 172, 40, 41, 21},
        {"edtPort", "GroupBox1", 238, 34, 41, 21},
    };
    for (const auto& l : layout) {
        SCOPED_TRACE(l.name);
        auto* control = dynamic_cast<TControl*>(Form->FindComponent(l.name));
        ASSERT_NE(control, nullptr);
        ASSERT_NE(control->Parent(), nullptr);
        EXPECT_EQ(control->Parent()->Name(), l.parent);
        EXPECT_EQ(control->Left(), l.left);
        EXPECT_EQ(control->Top(), l.top);
        EXPECT_EQ(control->Width(), l.width);
        EXPECT_EQ(control->Height(), l.height);
    }
    // GroupBox1 lies below GroupBox2, both aligned to the top of the panel.
    EXPECT_EQ(Form->GroupBox1->Top(), Form->GroupBox2->Top() + Form->GroupBox2->Height());
    EXPECT_EQ(Form->GroupBox1->Height(), 65);

    std::vector<String> names;
    for (int i = 0; i < Form->ComponentCount(); ++i)
        names.push_back(Form->Components(i)->Name());
    const std::vector<String> declared = {
        "NMHTTP1", "sb",        "Panel2",  "Label1",    "dteKurs",  "Button1",    "FormStorage1",
        "Memo2",   "MainMenu1", "N1",      "N4",        "N3",       "N2",         "N5",
        "N6",      "pSet",      "Button3", "GroupBox1", "cbxProxy", "Label20",    "edtProxy",
        "Label21", "GroupBox2", "Label2",  "edtServer", "Label3",   "edtTimeOut", "edtPort"};
    std::vector<String> expected;
    for (const String& name : declared) {
        if (name != "FormStorage1" || Form->FormStorage1)
            expected.push_back(name);
    }
    EXPECT_EQ(names, expected);

    EXPECT_EQ(Form->Caption(), String("Получение курсов валют ЦБ"_cp));
    EXPECT_EQ(Form->ClientWidth(), 287);
    EXPECT_EQ(Form->ClientHeight(), 225);
    EXPECT_EQ(Form->BorderStyle(), bsSingle);
    EXPECT_EQ(Form->BorderIcons(), (TBorderIcons{biSystemMenu, biMinimize}));
    EXPECT_EQ(Form->Position(), poScreenCenter);
    EXPECT_EQ(Form->Menu(), Form->MainMenu1);

    auto tabs = [](TWinControl* parent) {
        std::vector<String> order;
        for (TWinControl* c : parent->TabList())
            order.push_back(c->Name());
        return order;
    };
    EXPECT_EQ(tabs(Form->Panel2), (std::vector<String>{"dteKurs", "Button1"}));
    EXPECT_EQ(tabs(Form->pSet), (std::vector<String>{"Button3", "GroupBox1", "GroupBox2"}));
    EXPECT_EQ(tabs(Form->GroupBox1), (std::vector<String>{"cbxProxy", "edtProxy", "edtPort"}));
    EXPECT_EQ(tabs(Form->GroupBox2), (std::vector<String>{"edtServer", "edtTimeOut"}));
}

TEST_F(Form1Test, CaptionsMenuAndClientSettings) {
    const struct {
        TControl* control;
        const char* caption;
    } captions[] = {
        {Form->Label1, "Дата: "},
        {Form->Button1, "Получить курсы валют"},
        {Form->Button3, "Вернуть начальные установки"},
        {Form->GroupBox1, "Прокси-сервер"},
        {Form->cbxProxy, "Использовать :"},
        {Form->Label20, "Адрес сервера: "},
        {Form->Label21, "Порт: "},
        {Form->GroupBox2, "Сервер ЦБ"},
        {Form->Label2, "Адрес сервера ( IP или URL):"},
        {Form->Label3, "Время ожидания ответа (сек.):"},
    };
    for (const auto& c : captions)
        EXPECT_EQ(c.control->Caption(), Utf8ToCp1251(c.caption)) << c.caption;

    TMenuItem* bar = Form->MainMenu1->Items();
    ASSERT_EQ(bar->Count(), 2);
    EXPECT_EQ(bar->Items(0), Form->N1);
    EXPECT_EQ(bar->Items(1), Form->N5);
    ASSERT_EQ(Form->N1->Count(), 3);
    EXPECT_EQ(Form->N1->Items(0), Form->N4);
    EXPECT_EQ(Form->N1->Items(1), Form->N3);
    EXPECT_EQ(Form->N1->Items(2), Form->N2);
    EXPECT_EQ(Form->N6->Parent(), Form->N5);
    EXPECT_EQ(Form->N1->Caption(), String("&Файл"_cp));
    EXPECT_EQ(Form->N4->Caption(), String("&Настройки..."_cp));
    EXPECT_TRUE(Form->N3->IsLine());
    EXPECT_EQ(Form->N2->Caption(), String("&Выход"_cp));
    EXPECT_EQ(Form->N5->Caption(), String("&Справка"_cp));
    EXPECT_EQ(Form->N6->Caption(), String("&О программе..."_cp));

    TNMHTTP* http = Form->NMHTTP1;
    EXPECT_EQ(http->Host(), "http://127.0.0.1/");
    EXPECT_EQ(http->Port(), 0);
    EXPECT_EQ(http->TimeOut(), 20000);
    EXPECT_EQ(http->ReportLevel(), 0);
    EXPECT_EQ(http->Body(), "Default.htm");
    EXPECT_EQ(http->Header(), "Head.txt");
    EXPECT_FALSE(http->InputFileMode());
    EXPECT_FALSE(http->OutputFileMode());
    EXPECT_EQ(http->Proxy(), "");
    EXPECT_EQ(http->ProxyPort(), 0);

    EXPECT_EQ(Form->Font()->Name(), "MS Sans Serif");
    EXPECT_EQ(Form->Font()->Size(), 8);
    EXPECT_EQ(Form->Font()->Height(), -11);
    EXPECT_EQ(Form->Font()->Color(), clWindowText);
    EXPECT_EQ(Form->Color(), clBtnFace);
    EXPECT_EQ(Form->PixelsPerInch(), 96);
    EXPECT_TRUE(Form->Memo2->ReadOnly());
    EXPECT_EQ(Form->Memo2->Font()->Color(), clNavy);
    EXPECT_EQ(Form->Button1->Font()->Color(), clNavy);
    EXPECT_EQ(Form->dteKurs->Font()->Color(), clNavy);
    EXPECT_EQ(Form->cbxProxy->Alignment(), taLeftJustify);
    EXPECT_EQ(Form->pSet->BevelInner(), bvLowered);
    EXPECT_EQ(Form->Panel2->BevelOuter(), bvNone);
    EXPECT_TRUE(Form->sb->SimplePanel());
    EXPECT_EQ(Form->edtTimeOut->EditMask(), "999;1;_");
    EXPECT_EQ(Form->edtPort->EditMask(), "9999;1;_");
}

TEST_F(Form1Test, StartsWithThePanelHiddenTodayAndTheLayoutValues) {
    EXPECT_FALSE(Form->pSet->Visible());
    EXPECT_FALSE(Form->N4->Checked());
    EXPECT_EQ(CreatedDate, Date());
    EXPECT_EQ(Report(), (std::vector<String>{""}));
    EXPECT_EQ(Form->sb->SimpleText(), "");
    ASSERT_NE(Form->Pages(), nullptr);
    EXPECT_EQ(Form->Pages()->Count(), 0);
    EXPECT_EQ(Form->edtServer->Text(), DefaultServerAddress);
    EXPECT_EQ(Form->edtTimeOut->Text(), "20 ");
    EXPECT_FALSE(Form->cbxProxy->Checked());
    EXPECT_EQ(Form->edtProxy->Text(), "");
    EXPECT_EQ(Form->edtPort->Text(), "    ");
    EXPECT_EQ(ShortDateFormat(), "dd/mm/yyyy");
}

TEST_F(Form1Test, SettingsMenuTogglesThePanelAndLeavesTheReport) {
    Form->Memo2->Lines()->SetText("report");
    SendMenuCommand(Form->N4);
    EXPECT_TRUE(Form->pSet->Visible());
    EXPECT_TRUE(Form->N4->Checked());
    SendMenuCommand(Form->N4);
    EXPECT_FALSE(Form->pSet->Visible());
    EXPECT_FALSE(Form->N4->Checked());
    EXPECT_EQ(Report(), (std::vector<String>{"report"}));
}

TEST_F(Form1Test, DefaultsButtonResetsServerAndTimeOutOnly) {
    TypeServer("10.1.2.3");
    SendTextChange(Form->edtTimeOut, "5");
    SendClick(Form->cbxProxy);
    SendTextChange(Form->edtProxy, "proxy.local");
    SendTextChange(Form->edtPort, "3128");
    EXPECT_EQ(Form->edtTimeOut->Text(), "5  ");
    SendClick(Form->Button3);
    EXPECT_EQ(Form->edtServer->Text(), DefaultServerAddress);
    EXPECT_EQ(Form->edtTimeOut->Text(), "20 ");
    EXPECT_TRUE(Form->cbxProxy->Checked());
    EXPECT_EQ(Form->edtProxy->Text(), "proxy.local");
    EXPECT_EQ(Form->edtPort->Text(), "3128");
}

TEST_F(Form1Test, AboutShowsFourLinesCaptionedWithTheTitle) {
    SendMenuCommand(Form->N6);
    ASSERT_EQ(RecordedMessageBoxes().size(), 1u);
    const TMessageBoxRecord& box = RecordedMessageBoxes()[0];
    EXPECT_EQ(box.Caption, String("Курсы валют"_cp));
    TStringList lines;
    lines.SetText(box.Text);
    ASSERT_EQ(lines.Count(), 4);
    EXPECT_EQ(lines[0], String("Получение курсов валют с сервера ЦБ."_cp));
    EXPECT_EQ(lines[1], String("Версия 1.00"_cp));
    EXPECT_EQ(box.Text.find("\n\r"), String::npos) << "lines end in CR LF";
}

TEST_F(Form1Test, ExitClosesTheWindowAndEndsTheProgram) {
    SendMenuCommand(Form->N2);
    EXPECT_TRUE(Application->Terminated());
    EXPECT_EQ(Form->Pages(), nullptr);
}

TEST_F(Form1Test, ClosingTellsWhenTheSettingsWereNotSaved) {
    // A read-only settings file is the user's choice: it stays as it is, and
    // the close says that the settings were not saved.
    const std::filesystem::path file = Home / "kurs" / "registry" / "HKEY_CURRENT_USER.reg";
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "REGEDIT4\n\n";
    std::filesystem::permissions(file, std::filesystem::perms::owner_read);
    ::testing::internal::CaptureStderr();
    Form->Show();  // restores the settings, and so the close saves them
    SendMenuCommand(Form->N2);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(Application->Terminated());
    EXPECT_EQ(Boxes(), std::vector<String>{"Файл настроек доступен только для чтения: "_cp +
                                           file.string() + ".\r\nНастройки не сохранены."_cp});
    EXPECT_EQ(RegistryText(), "REGEDIT4\n\n");
    // On stderr once, though the showing and the close both tried to save.
    EXPECT_NE(err.find("is read-only; settings were not saved\n"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

// ---- the request -------------------------------------------------------------------------

TEST_F(Form1Test, RequestWritesTheReportAndTheStatusTextsInOrder) {
    ScriptedServer server;
    server.Push(kHead + RatesPage());
    TypeServer("127.0.0.1:" + std::to_string(server.Port()));
    SendMenuCommand(Form->N4);  // the panel open: the request closes it
    bool busyDuringRequest = false;
    OnStatus = [&](const String& text) {
        if (text == "Соединение с сервером ЦБ..."_cp) {
            busyDuringRequest = !Form->Button1->Enabled() && Screen->Cursor() == crHourGlass &&
                                !Form->pSet->Visible() && !Form->N4->Checked();
        }
    };
    Press();
    EXPECT_TRUE(busyDuringRequest);
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(Report(), ExpectedReport("07.12.2000"));
    EXPECT_EQ(Flow(),
              (std::vector<String>{
                  "Соединение с сервером ЦБ..."_cp, "Соединение с сервером ЦБ установлено..."_cp,
                  "Получение данных: "_cp, "Все сделано."_cp, "Все сделано..."_cp, ""}));
    ExpectIdle();
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].substr(0, server.Requests()[0].find("\r\n")),
              "GET /markets/scripts/val_res1a.asp?date_req=07.12.2000 HTTP/1.0");
    EXPECT_EQ(Form->NMHTTP1->ReportLevel(), 2);
    EXPECT_GT(Form->Pages()->Count(), 20);
}

// A server given by name is resolved first, which the status tells; each
// block of the answer shows the bytes received so far, in plain decimal,
// growing to the size of the whole body.
TEST_F(Form1Test, ANamedServerIsResolvedAndEachBlockShowsTheBytesSoFar) {
    ScriptedServer server;
    const String page = RatesPage() + String(100000, ' ');
    server.Push(kHead + page);
    TypeServer("localhost:" + std::to_string(server.Port()));
    Press();
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(Report(), ExpectedReport("07.12.2000"));
    const auto flow = Flow();
    EXPECT_EQ(
        std::vector<String>(flow.begin(), flow.begin() + 3),
        (std::vector<String>{"Соединение с сервером ЦБ..."_cp, "Адрес сервера распознан..."_cp,
                             "Соединение с сервером ЦБ установлено..."_cp}));
    const String prefix = "Получение данных: "_cp;
    std::vector<long long> counts;
    for (const String& s : Statuses) {
        if (s.rfind(prefix, 0) != 0)
            continue;
        const String number = s.substr(prefix.size());
        ASSERT_FALSE(number.empty());
        ASSERT_EQ(number.find_first_not_of("0123456789"), String::npos) << number;
        counts.push_back(std::stoll(number));
    }
    ASSERT_GE(counts.size(), 2u);
    EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
    EXPECT_GT(counts.front(), 0);
    EXPECT_EQ(counts.back(), static_cast<long long>(page.size()));
}

TEST_F(Form1Test, TrimmedServerAndTheRegionalDateSeparatorMakeTheURL) {
    for (char separator : {'.', '/'}) {
        SCOPED_TRACE(separator);
        SetDateSeparator(separator);
        ScriptedServer server;
        const String date = String("07") + separator + "12" + separator + "2000";
        server.Push(kHead + RatesPage());
        TypeServer(" \t127.0.0.1:" + std::to_string(server.Port()) + "  ");
        EXPECT_EQ(Form->RequestURL(), "127.0.0.1:" + std::to_string(server.Port()) +
                                          "/markets/scripts/val_res1a.asp?date_req=" + date);
        Press();
        ASSERT_EQ(server.Requests().size(), 1u);
        EXPECT_EQ(server.Requests()[0].rfind(
                      "GET /markets/scripts/val_res1a.asp?date_req=" + date + " HTTP/1.0\r\n", 0),
                  0u);
        EXPECT_EQ(Report(), ExpectedReport("07.12.2000"));  // the page's own date
    }
}

TEST_F(Form1Test, TimeOutFieldGivesTheClientsTimeOut) {
    // Nothing listens there: each request fails at once with the general box.
    const int port = testing_support::FreeLoopbackPort();
    TypeServer("127.0.0.1:" + std::to_string(port));
    const struct {
        const char* typed;
        int timeOut;
    } cases[] = {{"", 20000},    {"0", 1000}, {"999", 999000},
                 {"2 0", 20000}, {"5", 5000}, {"20", 20000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        ClearRecordedMessageBoxes();
        Statuses.clear();
        SendTextChange(Form->edtTimeOut, c.typed);
        Press();
        EXPECT_EQ(Form->NMHTTP1->TimeOut(), c.timeOut);
        EXPECT_EQ(Boxes(), (std::vector<String>{kFailedBox}));
        EXPECT_EQ(Flow(), (std::vector<String>{"Соединение с сервером ЦБ..."_cp,
                                               "Не могу подключиться к серверу ЦБ!"_cp, ""}));
        ExpectIdle();
    }
}

TEST_F(Form1Test, SilentServerEndsInTheTimeOutBox) {
    ScriptedServer server;
    server.Push(ScriptedAnswer::Silent());
    TypeServer("127.0.0.1:" + std::to_string(server.Port()));
    SendTextChange(Form->edtTimeOut, "0");  // one second
    Press();
    EXPECT_TRUE(Form->NMHTTP1->TimedOut());
    EXPECT_EQ(Boxes(), (std::vector<String>{kTimedOutBox}));
    ExpectIdle();
}

// A server whose queue of connections is full never completes the connect:
// the time-out ends it, the status says the connection failed and the box
// is the time-out one.
TEST_F(Form1Test, AConnectionThatTimesOutEndsInTheTimeOutBox) {
    testpeer::Listener listener(0);
    listener.FillAcceptQueue();
    TypeServer("127.0.0.1:" + std::to_string(listener.Port()));
    SendTextChange(Form->edtTimeOut, "0");  // one second
    Press();
    EXPECT_TRUE(Form->NMHTTP1->TimedOut());
    EXPECT_EQ(Boxes(), (std::vector<String>{kTimedOutBox}));
    EXPECT_EQ(Flow(), (std::vector<String>{"Соединение с сервером ЦБ..."_cp,
                                           "Не могу подключиться к серверу ЦБ!"_cp, ""}));
    EXPECT_TRUE(Report().empty());
    ExpectIdle();
}

// A name whose lookup never answers (its reply is dropped on the way to the
// client) ends at the time-out: no address found, no connection tried, and
// the time-out box.
TEST_F(Form1Test, ALookupThatTimesOutEndsInTheTimeOutBox) {
    static win::WNDPROC previous = nullptr;
    const win::HWND window = Form->NMHTTP1->NotifyWindow();
    previous = reinterpret_cast<win::WNDPROC>(win::SetWindowLongPtr(
        window, win::GWL_WNDPROC,
        reinterpret_cast<win::LONG_PTR>(
            +[](win::HWND h, win::UINT m, win::WPARAM w, win::LPARAM l) -> win::LRESULT {
                if (m == HostLookupReply)
                    return 0;
                return win::CallWindowProc(previous, h, m, w, l);
            })));
    TypeServer("localhost:" + std::to_string(testing_support::FreeLoopbackPort()));
    SendTextChange(Form->edtTimeOut, "0");  // one second
    Press();
    win::SetWindowLongPtr(window, win::GWL_WNDPROC, reinterpret_cast<win::LONG_PTR>(previous));
    EXPECT_TRUE(Form->NMHTTP1->TimedOut());
    EXPECT_EQ(Boxes(), (std::vector<String>{kTimedOutBox}));
    EXPECT_EQ(Flow(), (std::vector<String>{"Соединение с сервером ЦБ..."_cp, ""}));
    ExpectIdle();
}

TEST_F(Form1Test, ErrorStatusReportsFailureAndTheReportsErrorLine) {
    ScriptedServer server;
    server.Push("HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\n<html>Not found</html>");
    TypeServer("127.0.0.1:" + std::to_string(server.Port()));
    Press();
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(
        Report(),
        (std::vector<String>{"На дату [07.12.2000] получить курсы валют не удалось - Ошибка!"_cp}));
    const auto flow = Flow();
    EXPECT_NE(std::find(flow.begin(), flow.end(), "Ошибка при получении данных..."_cp), flow.end());
    EXPECT_EQ(flow.back(), "");
    ExpectIdle();
}

TEST_F(Form1Test, ReportNamesTheRequestedDateWhenThePickerChangesMeanwhile) {
    ScriptedServer server;
    server.Push("HTTP/1.0 200 OK\r\n\r\nno rates here");
    TypeServer("127.0.0.1:" + std::to_string(server.Port()));
    OnStatus = [&](const String& text) {
        if (text == "Соединение с сервером ЦБ установлено..."_cp)
            Form->dteKurs->SetDate(EncodeDate(2001, 1, 2));
    };
    Press();
    EXPECT_EQ(
        Report(),
        (std::vector<String>{"На дату [07.12.2000] получить курсы валют не удалось - Ошибка!"_cp}));
    EXPECT_EQ(Form->DateText(), "02.01.2001");
}

TEST_F(Form1Test, CurrencyInTheFirstLinesAbortsTheReportKeepingWhatWasWritten) {
    ScriptedServer server;
    server.Push(kHead + "установил с 07.12.2000 x\r\n<td>Доллар США</td>\r\n<td>1</td>\r\n"_cp);
    TypeServer("127.0.0.1:" + std::to_string(server.Port()));
    Press();
    EXPECT_EQ(Boxes(), (std::vector<String>{kFailedBox}));
    EXPECT_EQ(Report(),
              (std::vector<String>{"C 07.12.2000  ЦБ установил следующие курсы :"_cp, " "}));
    ExpectIdle();
}

TEST_F(Form1Test, UnknownHostGivesTwoBoxes) {
    // A name no resolver accepts, so no query leaves the machine.
    TypeServer(" nosuch!host ");
    Press();
    EXPECT_EQ(Boxes(), (std::vector<String>{"Сервер с адресом [nosuch!host] не существует."_cp,
                                            kFailedBox}));
    ExpectIdle();
    // Through a proxy the name that was looked up is the proxy's.
    ClearRecordedMessageBoxes();
    SendClick(Form->cbxProxy);
    SendTextChange(Form->edtProxy, "nosuch!proxy");
    SendTextChange(Form->edtPort, "3128");
    Press();
    EXPECT_EQ(Boxes(), (std::vector<String>{"Сервер с адресом [nosuch!proxy] не существует."_cp,
                                            kFailedBox}));
}

TEST_F(Form1Test, EmptyProxyPortFailsBeforeAnyNetworkActivity) {
    SendClick(Form->cbxProxy);
    SendTextChange(Form->edtProxy, "127.0.0.1");
    Press();
    EXPECT_EQ(Boxes(), (std::vector<String>{kFailedBox}));
    EXPECT_EQ(Statuses, (std::vector<String>{"Соединение с сервером ЦБ..."_cp, ""}));
    ExpectIdle();
}

TEST_F(Form1Test, ProxyGetsTheWholeURLWithAScheme) {
    ScriptedServer proxy(testing_support::PortKind::FourDigits);
    ASSERT_GT(proxy.Port(), 0);
    SendClick(Form->cbxProxy);
    SendTextChange(Form->edtProxy, "127.0.0.1");
    SendTextChange(Form->edtPort, std::to_string(proxy.Port()));
    const struct {
        const char* server;
        const char* target;
    } cases[] = {
        {"127.0.0.1", "http://127.0.0.1/markets/scripts/val_res1a.asp?date_req=07.12.2000"},
        {" 10.0.0.7:8080 ",
         "http://10.0.0.7:8080/markets/scripts/val_res1a.asp?date_req=07.12.2000"},
        {"http://rates.test",
         "http://rates.test/markets/scripts/val_res1a.asp?date_req=07.12.2000"},
    };
    for (const auto& c : cases) {
        proxy.Push(kHead + RatesPage());
        TypeServer(c.server);
        Press();
    }
    const auto requests = proxy.Requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].substr(0, requests[i].find("\r\n")),
                  "GET " + std::string(cases[i].target) + " HTTP/1.0");
    }
    EXPECT_EQ(Report(), ExpectedReport("07.12.2000"));
    EXPECT_EQ(Form->NMHTTP1->Proxy(), "127.0.0.1");
    EXPECT_EQ(Form->NMHTTP1->ProxyPort(), proxy.Port());
    EXPECT_TRUE(Boxes().empty());

    // Unchecking the box goes direct again (and the direct URL has no scheme added).
    ScriptedServer direct;
    direct.Push(kHead + RatesPage());
    SendClick(Form->cbxProxy);
    TypeServer("127.0.0.1:" + std::to_string(direct.Port()));
    Press();
    EXPECT_EQ(Form->NMHTTP1->Proxy(), "");
    ASSERT_EQ(direct.Requests().size(), 1u);
    EXPECT_EQ(direct.Requests()[0].rfind("GET /markets/", 0), 0u);
    EXPECT_EQ(proxy.Requests().size(), std::size(cases));
}

TEST_F(Form1Test, ProxyPortWithTrailingBlanksAndTheAddressAsTyped) {
    SendClick(Form->cbxProxy);
    SendTextChange(Form->edtProxy, "127.0.0.1");
    SendTextChange(Form->edtPort, "80");
    SendTextChange(Form->edtTimeOut, "1");
    EXPECT_EQ(Form->edtPort->Text(), "80  ");
    Press();
    EXPECT_EQ(Form->NMHTTP1->ProxyPort(), 80);
    EXPECT_EQ(Form->NMHTTP1->Proxy(), "127.0.0.1");
    ExpectIdle();
}

TEST_F(Form1Test, ClosingDuringARequestEndsItAndFreesThePageListSafely) {
    ScriptedServer server;
    server.Push(ScriptedAnswer::Silent());
    TypeServer("127.0.0.1:" + std::to_string(server.Port()));
    OnStatus = [&](const String& text) {
        if (text == "Соединение с сервером ЦБ установлено..."_cp)
            SendCloseRequest(Form);
    };
    Press();
    EXPECT_TRUE(Application->Terminated());
    EXPECT_EQ(Form->Pages(), nullptr);
    EXPECT_TRUE(Boxes().empty()) << "nobody is left to read a box";
    EXPECT_FALSE(Form->NMHTTP1->TimedOut());
    ExpectIdle();
}

}  // namespace
