// kurs on a real desktop: an X server with a window manager, driven with the
// keyboard and the mouse as a user drives it.  Screenshots of each step go
// to build/screenshots/desktop/.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>

#include "app/desktop/DesktopSession.h"
#include "testing/Processes.h"
#include "testing/ScriptedServer.h"
#include "testing/TestHome.h"

namespace {

using app_testing::ChildProcess;
using app_testing::Environment;
using desktop_testing::DesktopSession;
using desktop_testing::Frame;
using desktop_testing::WaitUntil;

constexpr const char* kKey = "HKEY_CURRENT_USER\\Software\\kurs\\TForm1";

class Desktop : public TestHome {
  protected:
    static void SetUpTestSuite() {
#if !defined(__SANITIZE_ADDRESS__)
        Session = new DesktopSession();
#endif
    }
    static void TearDownTestSuite() {
        delete Session;
        Session = nullptr;
    }
    void SetUp() override {
        TestHome::SetUp();
#if defined(__SANITIZE_ADDRESS__)
        GTEST_SKIP() << "the desktop tests drive the window with real input and wait on it; "
                        "under AddressSanitizer they run in the plain build only";
#endif
        if (!Session->Running())
            GTEST_SKIP() << Session->Problem();
    }

    // Starts kurs on the desktop and waits for its window; the window
    // manager makes it the active one.
    void Start(const Environment& locale = {{"LC_ALL", "C.UTF-8"}}) {
        Environment environment{{"DISPLAY", Session->Display()},
                                {"QT_QPA_PLATFORM", "xcb"},
                                {"XDG_CONFIG_HOME", Home.string()},
                                {"XDG_RUNTIME_DIR", Home.string()}};
        environment.insert(locale.begin(), locale.end());
        Kurs = std::make_unique<ChildProcess>(KURS_BINARY, std::vector<std::string>{}, environment);
        Window = Session->WindowOf(Kurs->Pid());
        ASSERT_FALSE(Window.empty()) << Kurs->Output();
        ASSERT_TRUE(Kurs->WaitForSignalHandler(SIGTERM)) << Kurs->Output();
        Session->Tool("xdotool", {"windowactivate", "--sync", Window});
        // The window stays where it is once it is framed and placed.
        Frame last;
        WaitUntil([&] {
            const Frame now = Session->FrameOf(Window);
            const bool settled = now.X == last.X && now.Y == last.Y && now.X != now.ClientX;
            last = now;
            return settled;
        });
    }
    // Closes kurs as SIGTERM does (which saves the settings).
    void Stop() {
        ASSERT_EQ(Kurs->Stop(SIGTERM), 0) << Kurs->Output();
        Kurs.reset();
    }
    void Keys(const std::vector<std::string>& keys) {
        std::vector<std::string> args{"key", "--delay", "40"};
        args.insert(args.end(), keys.begin(), keys.end());
        Session->Tool("xdotool", args);
    }
    void Type(const std::string& text) {
        Session->Tool("xdotool", {"type", "--delay", "40", text});
    }
    // A point of the client area below the menu bar, in the form's layout
    // coordinates.
    std::vector<std::string> At(int x, int y) {
        const Frame f = Session->FrameOf(Window);
        const int menu = f.Height - 225;
        return {std::to_string(f.ClientX + x), std::to_string(f.ClientY + menu + y)};
    }
    // xdotool's synchronous move waits for the pointer to move, and so for
    // ever when it is already there: it is nudged away first.
    std::vector<std::string> MoveTo(int x, int y) {
        const auto at = At(x, y);
        return {
            "mousemove", std::to_string(std::stoi(at[0]) + 1), at[1], "mousemove", "--sync", at[0],
            at[1]};
    }
    void Click(int x, int y) {
        std::vector<std::string> args = MoveTo(x, y);
        args.insert(args.end(), {"click", "1"});
        Session->Tool("xdotool", args);
    }
    // Into the day of the date field (Panel2 is 28 high above the 19 of the
    // status bar).
    void ClickTheDay() {
        Click(45 + 10, 225 - 19 - 28 + 4 + 10);
    }
    // On "Получить курсы валют", by the mouse.
    void ClickTheButton() {
        Click(140 + 70, 225 - 19 - 28 + 3 + 12);
    }
    void Drag(int fromX, int fromY, int toX, int toY) {
        std::vector<std::string> args = MoveTo(fromX, fromY);
        args.push_back("mousedown");
        args.push_back("1");
        const auto to = At(toX, toY);
        args.insert(args.end(), {"mousemove", "--sync", to[0], to[1], "mouseup", "1"});
        Session->Tool("xdotool", args);
    }
    void OpenSettings() {
        // F10 opens "Файл"; its first item is "Настройки...".
        Keys({"F10"});
        WaitUntil([&] {
            const std::string windows = Session->Tool(
                "xdotool", {"search", "--onlyvisible", "--pid", std::to_string(Kurs->Pid())});
            return std::count(windows.begin(), windows.end(), '\n') >= 2;
        });
        Keys({"Return"});
    }
    void Shot(const std::string& name) {
        // What is drawn follows the input by a moment; the picture is not a check.
        Session->Tool("xdotool", {"sleep", "0.3"});
        EXPECT_TRUE(Session->Screenshot(std::string(KURS_SCREENSHOT_DIR) + "/desktop/" + name));
    }
    // The window with its frame, as the screen shows it.
    void WindowShot(const std::string& name) {
        Session->Tool("xdotool", {"sleep", "0.3"});
        EXPECT_TRUE(Session->Screenshot(std::string(KURS_SCREENSHOT_DIR) + "/desktop/" + name,
                                        Session->FrameOf(Window)));
    }
    // Another visible window of kurs (a message box, a pop-up), or empty.
    std::string OtherWindow() const {
        std::istringstream found(Session->Tool(
            "xdotool", {"search", "--onlyvisible", "--pid", std::to_string(Kurs->Pid())}));
        for (std::string window; std::getline(found, window);) {
            if (!window.empty() && window != Window)
                return window;
        }
        return {};
    }
    // The mean brightness of the report's area.
    double ReportBrightness() {
        const auto corner = At(0, 0);
        return Session->Brightness(std::stoi(corner[0]), std::stoi(corner[1]), 287, 178);
    }
    // The environment of a Russian user: ru_RU.UTF-8, made into the test's
    // folder when the system has not got it.
    Environment Russian() {
        if (std::setlocale(LC_ALL, "ru_RU.UTF-8")) {
            std::setlocale(LC_ALL, "C");
            return {{"LC_ALL", "ru_RU.UTF-8"}};
        }
        const std::filesystem::path folder = Home / "locale";
        std::filesystem::create_directories(folder);
        const auto made = app_testing::RunProgram(
            desktop_testing::FindProgram("localedef"),
            {"-i", "ru_RU", "-f", "UTF-8", (folder / "ru_RU.UTF-8").string()}, {}, 60000);
        EXPECT_TRUE(std::filesystem::exists(folder / "ru_RU.UTF-8" / "LC_TIME"))
            << "no Russian locale (make deps installs locales): " << made.Out << made.Err;
        return {{"LC_ALL", "ru_RU.UTF-8"}, {"LOCPATH", folder.string()}};
    }
    std::string Stored(const std::string& name) const {
        std::ifstream in(Home / "kurs" / "registry" / "HKEY_CURRENT_USER.reg");
        std::string line;
        bool inKey = false;
        const std::regex value("^\"([^\"]*)\"=\"(.*)\"$");
        while (std::getline(in, line)) {
            if (!line.empty() && line[0] == '[')
                inKey = line == std::string("[") + kKey + "]";
            std::smatch m;
            if (inKey && std::regex_match(line, m, value) && m[1] == name)
                return m[2];
        }
        return "<missing>";
    }
    void Store(const std::string& values) {
        std::filesystem::create_directories(Home / "kurs" / "registry");
        std::ofstream(Home / "kurs" / "registry" / "HKEY_CURRENT_USER.reg", std::ios::binary)
            << "REGEDIT4\n\n[" << kKey << "]\n"
            << values << "\n";
    }

    static DesktopSession* Session;
    std::unique_ptr<ChildProcess> Kurs;
    std::string Window;
};
DesktopSession* Desktop::Session = nullptr;

TEST_F(Desktop, ADateTypedThenTabAndEnterIsTheDateAskedFor) {
    testing_support::ScriptedServer server;
    server.Push("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html></html>\r\n");
    Store("\"edtServer_Text\"=\"127.0.0.1:" + std::to_string(server.Port()) + "\"\n");
    Start();
    ClickTheDay();
    Type("07/12/2000");
    Shot("1-date-typed.png");
    Keys({"Tab", "Return"});
    ASSERT_TRUE(server.WaitServed(1, 15000)) << Kurs->Output();
    EXPECT_NE(server.Requests()[0].find("date_req=07/12/2000 "), std::string::npos)
        << server.Requests()[0];
    Shot("2-report.png");
    Stop();
}

// Each date is typed after a click elsewhere (the report, the button), into
// a picker that has lost the focus, whichever field it had selected last.
TEST_F(Desktop, EveryDateTypedAfterAClickOnTheDayReachesTheServer) {
    testing_support::ScriptedServer server;
    const std::vector<std::string> dates{"15/03/2012", "28/11/2001", "03/07/1999"};
    for (std::size_t i = 0; i < dates.size(); ++i)
        server.Push("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html></html>\r\n");
    Store("\"edtServer_Text\"=\"127.0.0.1:" + std::to_string(server.Port()) + "\"\n");
    Start();
    for (std::size_t i = 0; i < dates.size(); ++i) {
        Click(150, 60);
        ClickTheDay();
        Type(dates[i]);
        Shot("13-date-" + std::to_string(i + 1) + "-typed.png");
        ClickTheButton();
        ASSERT_TRUE(server.WaitServed(i + 1, 15000)) << Kurs->Output();
        const std::string request = server.Requests()[i];
        std::cout << "date " << i + 1 << " typed " << dates[i]
                  << ", asked: " << request.substr(0, request.find("\r\n")) << "\n";
        EXPECT_NE(request.find("date_req=" + dates[i] + " "), std::string::npos) << request;
    }
    Stop();
}

TEST_F(Desktop, TheServerTextIsReplacedByKeyboardAndByMouseSelection) {
    Start();
    OpenSettings();
    // edtServer: GroupBox2 sits at (2, 2) inside the bevels, the field at (172, 16) in it.
    Click(174 + 50, 18 + 10);
    Keys({"End", "shift+Home"});
    Type("127.0.0.1:8080");
    Shot("3-server-typed.png");
    // Dragged from the right end to the left end, the selection stays and typing replaces it.
    Drag(174 + 100, 18 + 10, 174 + 2, 18 + 10);
    Shot("4-server-selected-by-mouse.png");
    Type("10.0.0.5:80x");
    Keys({"BackSpace"});
    Shot("5-server-replaced.png");
    Stop();
    EXPECT_EQ(Stored("edtServer_Text"), "10.0.0.5:80");
}

TEST_F(Desktop, TabWalksTheProxyFieldsThenTheServerFields) {
    Start();
    OpenSettings();
    // edtProxy: GroupBox1 at (2, 81), the field at (99, 34) in it.
    Click(2 + 99 + 50, 81 + 34 + 10);
    Type("proxy.lan");
    Keys({"Tab"});
    Type("3128");
    Keys({"Tab"});
    Type("rates.lan");
    Keys({"Tab"});
    Type("5");
    Shot("6-tab-order.png");
    Stop();
    EXPECT_EQ(Stored("edtProxy_Text"), "proxy.lan");
    EXPECT_EQ(Stored("edtPort_Text"), "3128");
    EXPECT_EQ(Stored("edtServer_Text"), "rates.lan");
    EXPECT_EQ(Stored("edtTimeOut_Text"), "5");
}

TEST_F(Desktop, TheWindowShowsTheKursIconAndBelongsToTheKursDesktopEntry) {
    Start();
    // The icon in the sizes docks and task bars pick from; the first is
    // 16 x 16, its pixel (1, 8) lies on the icon's navy border (#1f3a7a).
    const std::string sizes = Session->Tool("xprop", {"-id", Window, "_NET_WM_ICON"});
    EXPECT_NE(sizes.find("Icon (32 x 32)"), std::string::npos) << sizes;
    std::istringstream values(Session->Tool(
        "xprop", {"-id", Window, "-notype", "-f", "_NET_WM_ICON", "32c", "_NET_WM_ICON"}));
    std::string skip;
    std::getline(values, skip, '=');
    std::vector<unsigned long> icon;
    for (std::string value; std::getline(values, value, ',') && icon.size() < 2 + 16 * 16;)
        icon.push_back(std::stoul(value));
    ASSERT_EQ(icon.size(), 2u + 16 * 16) << sizes;
    EXPECT_EQ(icon[0], 16u);
    EXPECT_EQ(icon[1], 16u);
    const unsigned long pixel = icon[2 + 8 * 16 + 1];
    EXPECT_NEAR(static_cast<int>(pixel >> 16 & 0xff), 0x1f, 8) << std::hex << pixel;
    EXPECT_NEAR(static_cast<int>(pixel >> 8 & 0xff), 0x3a, 8) << std::hex << pixel;
    EXPECT_NEAR(static_cast<int>(pixel & 0xff), 0x7a, 8) << std::hex << pixel;
    // kurs.desktop is found by the window's class.
    EXPECT_EQ(Session->Tool("xprop", {"-id", Window, "WM_CLASS"}),
              "WM_CLASS(STRING) = \"kurs\", \"kurs\"\n");
    Stop();
}

TEST_F(Desktop, AMessageBoxIsCentredOnTheScreenFrameAndAll) {
    Start();
    // F10 opens "Файл"; Right moves on to "Справка", whose first item is "О программе...".
    Keys({"F10", "Right", "Return"});
    std::string box;
    ASSERT_TRUE(WaitUntil([&] { return !(box = OtherWindow()).empty(); }));
    Frame last, frame;
    ASSERT_TRUE(WaitUntil([&] {
        frame = Session->FrameOf(box);
        const bool settled = frame.OuterWidth > 0 && frame.X == last.X && frame.Y == last.Y;
        last = frame;
        return settled;
    }));
    EXPECT_NEAR(frame.X, (1280 - frame.OuterWidth) / 2, 1);
    EXPECT_NEAR(frame.Y, (1024 - frame.OuterHeight) / 2, 1);
    Shot("9-message-box-centred.png");
    // Enter presses OK.
    Keys({"Return"});
    EXPECT_TRUE(WaitUntil([&] { return OtherWindow().empty(); }));
    Stop();
}

TEST_F(Desktop, ShiftTabLeavesTheDatePickerBackwardsAndF4OrAltDownOpenTheCalendar) {
    testing_support::ScriptedServer server;
    for (int i = 0; i < 2; ++i)
        server.Push("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html></html>\r\n");
    Store("\"edtServer_Text\"=\"127.0.0.1:" + std::to_string(server.Port()) + "\"\n");
    Start();
    ClickTheDay();
    Type("07/12/2000");
    // From the year, Shift+Tab goes back to the report, and once more round to the button.
    Keys({"shift+Tab", "shift+Tab", "Return"});
    ASSERT_TRUE(server.WaitServed(1, 15000)) << Kurs->Output();
    EXPECT_NE(server.Requests()[0].find("date_req=07/12/2000 "), std::string::npos)
        << server.Requests()[0];

    // Back in the picker, its calendar picks the next day, twice.
    ClickTheDay();
    for (const char* opener : {"F4", "alt+Down"}) {
        Keys({opener});
        ASSERT_TRUE(WaitUntil([&] { return !OtherWindow().empty(); })) << opener;
        if (std::string(opener) == "F4")
            Shot("10-calendar.png");
        Keys({"Right", "Return"});
        ASSERT_TRUE(WaitUntil([&] { return OtherWindow().empty(); })) << opener;
    }
    Keys({"Tab", "Return"});
    ASSERT_TRUE(server.WaitServed(2, 15000)) << Kurs->Output();
    EXPECT_NE(server.Requests()[1].find("date_req=09/12/2000 "), std::string::npos)
        << server.Requests()[1];
    Stop();
}

// The pictures of the window the documentation shows: a Russian user's
// report of 07.12.2000 from the bundled rates service, and the settings.
TEST_F(Desktop, ScreenshotsOfTheReportAndTheSettingsInARussianSession) {
    app_testing::RatesServerProcess server(KURS_RATES_SERVER_BINARY);
    ASSERT_TRUE(server.Running()) << server.Output();
    Store("\"edtServer_Text\"=\"" + server.Address() + "\"\n");
    Start(Russian());
    ClickTheDay();
    Type("07.12.2000");
    Keys({"Tab", "Return"});
    // The report darkens the white area (0.995 empty, 0.97 with the four
    // rates); once it stops changing it is complete.
    double last = -1;
    ASSERT_TRUE(WaitUntil([&] {
        const double now = ReportBrightness();
        const bool done = now > 0 && now < 0.985 && now == last;
        last = now;
        return done;
    })) << Kurs->Output();
    WindowShot("kurs.png");
    // The right-click menu of a field speaks Russian.
    Click(150, 60);
    Session->Tool("xdotool", {"click", "3"});
    ASSERT_TRUE(WaitUntil([&] { return !OtherWindow().empty(); }));
    Shot("11-context-menu.png");
    Keys({"Escape"});
    ASSERT_TRUE(WaitUntil([&] { return OtherWindow().empty(); }));
    OpenSettings();
    // The grey panel (0.9) in place of the report.
    ASSERT_TRUE(WaitUntil([&] {
        const double now = ReportBrightness();
        return now > 0 && now < 0.95;
    }));
    WindowShot("kurs-settings.png");
    Stop();
}

// While a request waits for its answer, the button is greyed.
TEST_F(Desktop, TheButtonIsGreyWhileARequestRuns) {
    testing_support::ScriptedServer server;
    server.Push(testing_support::ScriptedAnswer::Silent());
    Store("\"edtServer_Text\"=\"127.0.0.1:" + std::to_string(server.Port()) + "\"\n");
    Start();
    ClickTheButton();
    ASSERT_TRUE(WaitUntil([&] { return !server.Requests().empty(); }));
    WindowShot("12-button-grey-while-asking.png");
    Stop();
}

TEST_F(Desktop, TheWindowComesBackToThePixelAndStaysWhereItWasMoved) {
    std::vector<Frame> frames;
    std::vector<std::string> stored;
    for (int run = 0; run < 5; ++run) {
        Start();
        frames.push_back(Session->FrameOf(Window));
        if (run == 0)
            Shot("7-first-start-centred.png");
        if (run == 4)
            Shot("7-fifth-start.png");
        Stop();
        stored.push_back(Stored("NormPos"));
    }
    // The first start centres the frame on the 1280 x 1024 screen.
    const Frame& first = frames[0];
    const int outerWidth = first.Width + 2 * (first.ClientX - first.X);
    const int outerHeight = first.Height + (first.ClientY - first.Y) + (first.ClientX - first.X);
    EXPECT_NEAR(first.X, (1280 - outerWidth) / 2, 1);
    EXPECT_NEAR(first.Y, (1024 - outerHeight) / 2, 1);
    for (std::size_t i = 1; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].X, first.X) << "run " << i;
        EXPECT_EQ(frames[i].Y, first.Y) << "run " << i;
        EXPECT_EQ(stored[i], stored[0]) << "run " << i;
    }
    EXPECT_EQ(stored[0].substr(0, stored[0].find(',', stored[0].find(',') + 1)),
              std::to_string(first.X) + "," + std::to_string(first.Y));

    // Moved by the window manager, it comes back there.
    Start();
    Session->Tool("xdotool", {"windowmove", Window, "100", "200"});
    ASSERT_TRUE(WaitUntil([&] {
        const Frame f = Session->FrameOf(Window);
        return f.X == 100 && f.Y == 200;
    }));
    Stop();
    EXPECT_EQ(Stored("NormPos").substr(0, 8), "100,200,");
    Start();
    const Frame moved = Session->FrameOf(Window);
    EXPECT_EQ(moved.X, 100);
    EXPECT_EQ(moved.Y, 200);
    Shot("8-moved-and-restarted.png");
    Stop();
}

// A place stored at scale 1 and read back at scale 2, or one 3000 pixels to
// the right of the screen, brings the whole frame back onto the screen.
TEST_F(Desktop, ARestoredWindowIsKeptOnTheScreen) {
    auto onScreen = [&](const char* what) {
        const Frame f = Session->FrameOf(Window);
        std::cout << what << ": frame at " << f.X << "," << f.Y << ", " << f.OuterWidth << " x "
                  << f.OuterHeight << " on 1280 x 1024\n";
        EXPECT_GE(f.X, 0) << what;
        EXPECT_GE(f.Y, 0) << what;
        EXPECT_LE(f.X + f.OuterWidth, 1280) << what;
        EXPECT_LE(f.Y + f.OuterHeight, 1024) << what;
        return f;
    };
    Start();
    Session->Tool("xdotool", {"windowmove", Window, "900", "700"});
    ASSERT_TRUE(WaitUntil([&] { return Session->FrameOf(Window).X == 900; }));
    Stop();
    Start({{"LC_ALL", "C.UTF-8"}, {"QT_SCALE_FACTOR", "2"}});
    onScreen("saved at scale 1, restored at scale 2");
    Shot("14-restored-at-scale-2.png");
    Stop();

    Store("\"NormPos\"=\"4280,100,4573,370\"\n");
    Start();
    const Frame f = onScreen("stored 3000 px right of the screen");
    EXPECT_EQ(f.Y, 100) << "only moved as far as needed";
    Shot("15-restored-from-off-the-screen.png");
    Stop();
}

// What a screen reader gets through the accessibility bus (AT-SPI, with a
// session bus of the test's own): the tree of the report view and of the
// settings view, and the report's text once a request has written it.
TEST_F(Desktop, TheAccessibilityBusNamesEveryControl) {
    const std::string launcher = "/usr/libexec/at-spi-bus-launcher";
    if (::access(launcher.c_str(), X_OK) != 0 ||
        desktop_testing::FindProgram("dbus-daemon").empty())
        GTEST_SKIP() << "no accessibility bus (make deps installs at-spi2-core python3-pyatspi)";
    const std::string address = "unix:path=" + (Home / "session-bus").string();
    ChildProcess bus(desktop_testing::FindProgram("dbus-daemon"),
                     {"--session", "--nofork", "--address=" + address});
    ASSERT_TRUE(WaitUntil([&] { return std::filesystem::exists(Home / "session-bus"); }))
        << bus.Output();
    const Environment onBus{{"DISPLAY", Session->Display()}, {"DBUS_SESSION_BUS_ADDRESS", address}};
    ChildProcess atspi(launcher, {"--launch-immediately"}, onBus);
    testing_support::ScriptedServer server;
    server.Push("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html></html>\r\n");
    Store("\"edtServer_Text\"=\"127.0.0.1:" + std::to_string(server.Port()) + "\"\n");
    Start({{"LC_ALL", "C.UTF-8"},
           {"DBUS_SESSION_BUS_ADDRESS", address},
           {"QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1"}});
    auto tree = [&] {
        std::string printed;
        WaitUntil([&] {
            printed = app_testing::RunProgram("/usr/bin/python3", {KURS_ACCESSIBILITY_TREE, "kurs"},
                                              onBus, 20000)
                          .Out;
            return printed.find("push button") != std::string::npos;
        });
        return printed;
    };
    ClickTheButton();
    ASSERT_TRUE(server.WaitServed(1, 15000)) << Kurs->Output();
    const std::string main = tree();
    std::cout << "report view:\n" << main;
    OpenSettings();
    Session->Tool("xdotool", {"sleep", "0.5"});
    const std::string settings = tree();
    std::cout << "settings view:\n" << settings;
    for (const char* node : {"frame \"Получение курсов валют ЦБ\"", "menu item \"Файл\"",
                             "spin button \"Дата\"", "push button \"Получить курсы валют\"",
                             "text \"Отчёт о курсах валют\" reads \"На дату ["})
        EXPECT_NE(main.find(node), std::string::npos) << node;
    // Qt's bridge hands a group box over as a panel with the group's title.
    for (const char* node :
         {"panel \"Сервер ЦБ\"", "panel \"Прокси-сервер\"", "text \"Адрес сервера ( IP или URL)\"",
          "text \"Адрес сервера\"", "text \"Порт\"", "text \"Время ожидания ответа (сек.)\"",
          "check box \"Использовать :\"", "push button \"Вернуть начальные установки\""})
        EXPECT_NE(settings.find(node), std::string::npos) << node;
    Stop();
    atspi.Stop(SIGTERM);
    bus.Stop(SIGTERM);
}

}  // namespace

namespace {

TEST(NoDisplay, KursExitsWithOneLineThatPointsToTheReportCommand) {
    const auto result =
        app_testing::RunProgram(KURS_BINARY, {},
                                Environment{{"DISPLAY", app_testing::kUnset},
                                            {"WAYLAND_DISPLAY", app_testing::kUnset},
                                            {"QT_QPA_PLATFORM", app_testing::kUnset}},
                                20000);
    EXPECT_EQ(result.ExitCode, 1);
    EXPECT_EQ(std::count(result.Err.begin(), result.Err.end(), '\n'), 1) << result.Err;
    EXPECT_NE(result.Err.find("graphical display"), std::string::npos) << result.Err;
    EXPECT_NE(result.Err.find("kurs-report"), std::string::npos) << result.Err;
}

}  // namespace
