// The window program: kurs itself run under Qt's offscreen platform and
// closed by a signal, and TForm1 shown through the Qt backend in this
// process for the restored settings and the screenshots.

#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>

#include "app/untMain.h"
#include "gui/Dialogs.h"
#include "gui/Input.h"
#include "gui/qt/QtBackend.h"
#include "settings/AppUtils.h"
#include "settings/Placemnt.h"
#include "testing/Processes.h"
#include "testing/TestHome.h"

// The font library keeps a cache for the life of the process; it is not ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace {

using app_testing::ChildProcess;
using app_testing::Environment;

// The values of one key of a registry file, in file order.
std::vector<std::pair<std::string, std::string>> KeyValues(const std::string& file,
                                                           const std::string& key) {
    std::vector<std::pair<std::string, std::string>> values;
    std::istringstream in(file);
    std::string line;
    bool inKey = false;
    const std::regex value("^\"([^\"]*)\"=\"(.*)\"$");
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            inKey = line == "[" + key + "]";
            continue;
        }
        std::smatch m;
        if (inKey && std::regex_match(line, m, value))
            values.emplace_back(m[1], m[2]);
    }
    return values;
}

std::string Value(const std::vector<std::pair<std::string, std::string>>& values,
                  const std::string& name) {
    for (const auto& [n, v] : values) {
        if (n == name)
            return v;
    }
    return "<missing>";
}

constexpr const char* kKey = "HKEY_CURRENT_USER\\Software\\kurs\\TForm1";

class WindowProgram : public TestHome {
  protected:
    // Starts kurs, waits until it catches the signal, then sends it.  The
    // backend's handler only wakes the message loop, which starts once the
    // window has been shown, so the close always follows the restore.
    int RunUntilSignal(int signal) {
        ChildProcess kurs(KURS_BINARY, {},
                          Environment{{"QT_QPA_PLATFORM", "offscreen"},
                                      {"XDG_CONFIG_HOME", Home.string()},
                                      {"XDG_RUNTIME_DIR", Home.string()}});
        EXPECT_TRUE(kurs.WaitForSignalHandler(signal)) << kurs.Output();
        const int code = kurs.Stop(signal);
        EXPECT_EQ(code, 0) << kurs.Output();
        return code;
    }
};

TEST_F(WindowProgram, EachTerminationSignalClosesTheWindowAndSavesTheSettings) {
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        std::filesystem::remove_all(Home / "kurs");
        RunUntilSignal(signal);
        const auto values = KeyValues(FileText(RegistryFile()), kKey);
        std::vector<std::string> names;
        for (const auto& [name, value] : values)
            names.push_back(std::regex_replace(name, std::regex("\\(\\d+x\\d+\\)"), "(WxH)"));
        EXPECT_EQ(names,
                  (std::vector<std::string>{
                      "FormVersion", "Flags", "ShowCmd", "PixelsPerInch", "MinMaxPos(WxH)",
                      "MinMaxPos", "NormPos(WxH)", "NormPos", "Visible", "cbxProxy_Checked",
                      "edtProxy_Text", "edtPort_Text", "edtServer_Text", "edtTimeOut_Text"}));
        EXPECT_EQ(Value(values, "FormVersion"), "0");
        EXPECT_EQ(Value(values, "ShowCmd"), "1");
        EXPECT_EQ(Value(values, "Visible"), "0");
        EXPECT_EQ(Value(values, "cbxProxy_Checked"), "False");
        EXPECT_EQ(Value(values, "edtProxy_Text"), "");
        EXPECT_EQ(Value(values, "edtPort_Text"), "");
        EXPECT_EQ(Value(values, "edtServer_Text"), "127.0.0.1");
        EXPECT_EQ(Value(values, "edtTimeOut_Text"), "20");
        EXPECT_TRUE(
            std::regex_match(Value(values, "NormPos"), std::regex("-?\\d+,-?\\d+,-?\\d+,-?\\d+")));
    }
}

TEST_F(WindowProgram, StartedAgainItShowsTheStoredPlaceAndSettings) {
    RunUntilSignal(SIGTERM);
    // Move the window and change the settings in the file, as an earlier run would have.
    std::string file = FileText(RegistryFile());
    const auto first = KeyValues(file, kKey);
    file = std::regex_replace(file, std::regex("\"NormPos(\\(\\d+x\\d+\\))?\"=\"[^\"]*\""),
                              "\"NormPos$1\"=\"40,60,333,329\"");
    file = std::regex_replace(file, std::regex("\"edtServer_Text\"=\"[^\"]*\""),
                              "\"edtServer_Text\"=\"10.9.8.7:8080\"");
    file = std::regex_replace(file, std::regex("\"edtTimeOut_Text\"=\"[^\"]*\""),
                              "\"edtTimeOut_Text\"=\"7\"");
    std::ofstream(RegistryFile(), std::ios::binary) << file;

    // What the window shows is what it saves again when it closes.
    RunUntilSignal(SIGTERM);
    const auto second = KeyValues(FileText(RegistryFile()), kKey);
    EXPECT_EQ(Value(second, "NormPos"), "40,60,333,329");
    EXPECT_EQ(Value(second, "edtServer_Text"), "10.9.8.7:8080");
    EXPECT_EQ(Value(second, "edtTimeOut_Text"), "7");
    EXPECT_EQ(Value(second, "cbxProxy_Checked"), "False");
    EXPECT_NE(Value(first, "NormPos"), "40,60,333,329");
}

// ---- in this process, through the Qt backend --------------------------------------------

int Argc = 1;
char Arg0[] = "kurs_app_test";
char* Argv[] = {Arg0, nullptr};

class ShownWindow : public TestHome {
  protected:
    static void SetUpTestSuite() {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        Backend = new TQtBackend(Argc, Argv);
    }
    static void TearDownTestSuite() {
        delete Backend;
        Backend = nullptr;
    }
    void SetUp() override {
        TestHome::SetUp();
        Application->Initialize();
        Application->SetTitle("Курсы валют"_cp);
        ClearRecordedMessageBoxes();
    }
    void TearDown() override {
        Application->DoneApplication();
        Application->ProcessMessages();
        ResetFormatSettings();
        TestHome::TearDown();
    }
    void Open() {
        Application->CreateForm(Form);
        Form->Show();
        Application->ProcessMessages();
    }
    std::string Screenshot(const std::string& name) {
        std::filesystem::create_directories(KURS_SCREENSHOT_DIR);
        const std::string path = std::string(KURS_SCREENSHOT_DIR) + "/" + name;
        EXPECT_TRUE(SaveControlImage(Form, path));
        return path;
    }

    static TQtBackend* Backend;
    TForm1* Form = nullptr;
};
TQtBackend* ShownWindow::Backend = nullptr;

TEST_F(ShownWindow, RestoresTheStoredPlaceAndSettingsWhenShown) {
    // The settings of the program that shows the window: here the test program's.
    std::filesystem::create_directories(Home / "kurs" / "registry");
    std::ofstream(Home / "kurs" / "registry" / "HKEY_CURRENT_USER.reg", std::ios::binary)
        << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\" << ApplicationName() << "\\TForm1]\n"
        << "\"FormVersion\"=\"0\"\n\"NormPos\"=\"40,60,333,329\"\n"
        << "\"cbxProxy_Checked\"=\"True\"\n\"edtProxy_Text\"=\"proxy.lan\"\n"
        << "\"edtPort_Text\"=\"3128\"\n\"edtServer_Text\"=\"10.9.8.7:8080\"\n"
        << "\"edtTimeOut_Text\"=\"7\"\n\n";
    Open();
    EXPECT_EQ(Form->Left(), 40);
    EXPECT_EQ(Form->Top(), 60);
    EXPECT_EQ(Form->edtServer->Text(), "10.9.8.7:8080");
    EXPECT_EQ(Form->edtTimeOut->Text(), "7  ");
    EXPECT_TRUE(Form->cbxProxy->Checked());
    EXPECT_EQ(Form->edtProxy->Text(), "proxy.lan");
    EXPECT_EQ(Form->edtPort->Text(), "3128");
    EXPECT_FALSE(Form->pSet->Visible());
    SendMenuCommand(Form->N4);
    Application->ProcessMessages();
    Screenshot("kurs-restored-settings.png");
}

// What a screen reader is told: the window a frame with its title, each
// field by its label, the report area and the buttons, group boxes and menu
// items by what they say; the status and the report as they change.
TEST_F(ShownWindow, TheAccessibilityTreeNamesEveryControl) {
    Open();
    Form->sb->SetSimpleText("Соединение установлено"_cp);
    Form->Memo2->Lines()->Add("Курсы валют ЦБ РФ на 07.12.2000"_cp);
    Application->ProcessMessages();
    const std::string main = AccessibleTree(Form);
    std::cout << "main view:\n" << main;
    SendMenuCommand(Form->N4);
    Application->ProcessMessages();
    const std::string settings = AccessibleTree(Form);
    std::cout << "settings view:\n" << settings;
    for (const char* node :
         {"Window \"Получение курсов валют ЦБ\"", "MenuItem \"Файл\"",
          "StatusBar \"Соединение установлено\"", "StaticText \"Дата: \"", "SpinBox \"Дата\"",
          "Button \"Получить курсы валют\"", "EditableText \"Отчёт о курсах валют\""}) {
        EXPECT_NE(main.find(node), std::string::npos) << node;
    }
    for (const char* node :
         {"Grouping \"Сервер ЦБ\"", "Grouping \"Прокси-сервер\"",
          "EditableText \"Адрес сервера ( IP или URL)\"",
          "EditableText \"Время ожидания ответа (сек.)\"", "EditableText \"Адрес сервера\"",
          "EditableText \"Порт\"", "CheckBox \"Использовать :\"",
          "Button \"Вернуть начальные установки\""}) {
        EXPECT_NE(settings.find(node), std::string::npos) << node;
    }
    EXPECT_EQ(AccessibleText(Form->Memo2), "\nКурсы валют ЦБ РФ на 07.12.2000");
}

TEST_F(ShownWindow, ScreenshotsOfTheReportAndOfTheSettingsPanel) {
    // The bank's official rates, as the bundled history serves them.
    app_testing::RatesServerProcess server(KURS_RATES_SERVER_BINARY);
    ASSERT_TRUE(server.Running()) << server.Output();
    SetDateSeparator('.');  // as the Russian regional settings have it
    Open();
    SendTextChange(Form->edtServer, server.Address());
    Form->dteKurs->SetDate(EncodeDate(2000, 12, 7));
    // A click on the button moves the focus there first.
    Form->Button1->SetFocus();
    SendClick(Form->Button1);
    Application->ProcessMessages();
    ASSERT_TRUE(RecordedMessageBoxes().empty());
    ASSERT_GE(Form->Memo2->Lines()->Count(), 10);
    EXPECT_EQ(Form->Memo2->Lines()->Strings(2), std::string(38, ' ') + "1 Доллар США = 27,9300"_cp);
    EXPECT_EQ(Form->sb->SimpleText(), "");
    const std::string report = Screenshot("kurs.png");
    EXPECT_GT(std::filesystem::file_size(report), 1000u);

    SendMenuCommand(Form->N4);
    Application->ProcessMessages();
    EXPECT_TRUE(Form->pSet->Visible());
    const std::string settings = Screenshot("kurs-settings.png");
    EXPECT_GT(std::filesystem::file_size(settings), 1000u);
}

}  // namespace
