#include "app/ReportCommand.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "app/RatesReport.h"
#include "runtime/String.h"
#include "runtime/StringList.h"
#include "testing/Processes.h"
#include "testing/ProxyProcess.h"
#include "testing/RatesClient.h"
#include "testing/TestHome.h"

namespace {

using app_testing::Environment;
using app_testing::ProgramResult;
using app_testing::RatesServerProcess;
using app_testing::RunProgram;

// ---- options -----------------------------------------------------------------------------

TEST(ReportOptions, DatesInTheirWrittenFormsAndWords) {
    const struct {
        const char* text;
        int year, month, day;  // 0: refused
    } cases[] = {
        {"07.12.2000", 2000, 12, 7}, {"7.12.2000", 2000, 12, 7},  {"7/1/2000", 2000, 1, 7},
        {"07-12-2000", 2000, 12, 7}, {"2000-12-07", 2000, 12, 7}, {"29.02.2000", 2000, 2, 29},
        {"29.02.2001", 0, 0, 0},     {"31.02.2024", 0, 0, 0},     {"07.12/2000", 0, 0, 0},
        {"2000/12/07", 0, 0, 0},     {"07.12.00", 0, 0, 0},       {"007.12.2000", 0, 0, 0},
        {"07.13.2000", 0, 0, 0},     {"00.12.2000", 0, 0, 0},     {"", 0, 0, 0},
        {"07.12.2000x", 0, 0, 0},    {"0000-01-01", 0, 0, 0},     {"aa.bb.cccc", 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto date = ParseReportDate(c.text);
        if (c.year == 0) {
            EXPECT_FALSE(date);
        } else {
            ASSERT_TRUE(date);
            EXPECT_EQ(*date, EncodeDate(c.year, c.month, c.day));
        }
    }
    EXPECT_EQ(ParseReportDate("today"), Date());
    EXPECT_EQ(ParseReportDate("Yesterday"), Date() - 1);
    EXPECT_EQ(ParseReportDate("tomorrow"), Date() + 1);
}

TEST(ReportOptions, ValuesAndFlags) {
    TReportOptions o;
    std::string error;
    ASSERT_TRUE(ParseReportOptions(
        {"-d", "2000-12-07", "--server=127.0.0.1:8080", "-t5", "--proxy", "proxy.lan:3128", "-q",
         "--format=json", "--currency", "usd,Cny,USD", "--"},
        o, error))
        << error;
    EXPECT_EQ(*o.Date, EncodeDate(2000, 12, 7));
    EXPECT_EQ(*o.Server, "127.0.0.1:8080");
    EXPECT_EQ(*o.TimeOut, "5");
    EXPECT_EQ(*o.ProxyHost, "proxy.lan");
    EXPECT_EQ(*o.ProxyPort, "3128");
    EXPECT_TRUE(o.Quiet);
    EXPECT_FALSE(o.NoProxy);
    EXPECT_EQ(o.Format, TReportFormat::Json);
    EXPECT_EQ(o.Currencies, (std::vector<std::string>{"USD", "CNY"}));

    TReportOptions longest;
    EXPECT_TRUE(ParseReportOptions({"--from", "01.01.2000", "--to", "18.05.2027"}, longest, error))
        << error;

    TReportOptions none;
    ASSERT_TRUE(ParseReportOptions({}, none, error));
    EXPECT_FALSE(none.Date || none.Server || none.TimeOut || none.ProxyHost);
}

TEST(ReportOptions, UsageErrorsNameTheArgument) {
    std::string thousand;
    for (int i = 0; i < 1000; ++i)
        thousand += std::string(i ? "," : "") + char('A' + i / 676) + char('A' + i / 26 % 26) +
                    char('A' + i % 26);
    const struct {
        std::vector<std::string> args;
        const char* reason;
    } cases[] = {
        {{"--date"}, "--date needs a value"},
        {{"-d"}, "-d needs a value"},
        {{"--date", "31.02.2024"}, "--date: '31.02.2024' is not a date"},
        {{"--timeout", "1000"}, "--timeout wants 0 to 999 seconds"},
        {{"-t", "-1"}, "--timeout wants 0 to 999 seconds"},
        {{"--proxy", "host:12345"}, "--proxy wants HOST:PORT"},
        {{"--proxy", "h:1", "--no-proxy"}, "exclude each other"},
        {{"--quiet=yes"}, "--quiet takes no value"},
        {{"--colour"}, "unknown option '--colour'"},
        {{"-x"}, "unknown option '-x'"},
        {{"--f=csv"}, "ambiguous option '--f=csv' (--format, --from)"},
        {{"07.12.2000"}, "unexpected argument '07.12.2000'"},
        {{"--", "-q"}, "unexpected argument '-q'"},
        {{"--format", "xml"}, "--format wants text, csv or json, not 'xml'"},
        {{"--format", "csv", "--currency", ""}, "--currency wants letter codes"},
        {{"--format", "csv", "--currency", "USD,,EUR"}, "'' in 'USD,,EUR' is not one"},
        {{"--format", "csv", "--currency", thousand}, "--currency names more than 200 codes"},
        {{"--currency", "USD"}, "--currency goes with --format csv or json"},
        {{"--from", "10.12.2000", "--to", "01.12.2000"}, "the range runs backwards"},
        {{"--from", "01.01.2000", "--to", "19.05.2027"}, "the range has 10001 days; at most 10000"},
        {{"--from", "01.12.2000"}, "--from needs --to"},
        {{"-d", "today", "--from", "01.12.2000", "--to", "02.12.2000"}, "exclude each other"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        TReportOptions o;
        std::string error;
        EXPECT_FALSE(ParseReportOptions(c.args, o, error));
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
}

TEST(ReportOptions, MessageLineBreaksBecomeOneNewline) {
    EXPECT_EQ(TerminalText("a\n\rb"), "a\nb");
    EXPECT_EQ(TerminalText("a\r\nb\rc\nd"), "a\nb\nc\nd");
    EXPECT_EQ(TerminalText("a\n\n\rb"), "a\n\nb");
    EXPECT_EQ(TerminalText("Ошибка"_cp), "Ошибка");
}

// ---- the command against the bundled rates server ---------------------------------------

const std::string kExpectedReport = "C 07.12.2000  ЦБ установил следующие курсы :\n \n" +
                                    std::string(38, ' ') + "1 Доллар США = 27,8500\n \n" +
                                    std::string(50, ' ') + "1 ЕВРО = 25,1900\n \n" +
                                    std::string(30, ' ') + "1 Немецкая марка = 12,8800\n \n" +
                                    std::string(22, ' ') + "10 Финляндских марок = 42,3600\n \n";

const std::string kFailedBox =
    "Произошла ошибка при получении курса валют...\nВозможно нет подключения к Интернет.\n";

class ReportCommand : public TestHome {
  protected:
    ProgramResult Run(const std::vector<std::string>& args) {
        return RunProgram(KURS_REPORT_BINARY, args,
                          Environment{{"XDG_CONFIG_HOME", Home.string()}, {"LC_ALL", "C"}});
    }
    void StoreSettings(const std::string& values) {
        std::filesystem::create_directories(RegistryFile().parent_path());
        std::ofstream(RegistryFile(), std::ios::binary)
            << "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\kurs\\TForm1]\n"
            << values << "\n";
    }
};

TEST_F(ReportCommand, PrintsTheReportAndTheStatusTextsAndWritesNoSettings) {
    RatesServerProcess server(KURS_RATES_SERVER_BINARY, {"--data", KURS_RATES_SAMPLE_DATA});
    ASSERT_TRUE(server.Running()) << server.Output();
    const ProgramResult r = Run({"--server", server.Address(), "--date", "07.12.2000"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, kExpectedReport);
    EXPECT_EQ(r.Err.rfind("Соединение с сервером ЦБ...\nСоединение с сервером ЦБ установлено...\n"
                          "Получение данных: ",
                          0),
              0u)
        << r.Err;
    EXPECT_NE(r.Err.find("\nВсе сделано.\nВсе сделано...\n"), std::string::npos) << r.Err;
    EXPECT_FALSE(std::filesystem::exists(Home / "kurs")) << "the store stays untouched";

    const ProgramResult quiet = Run({"--server", server.Address(), "--date=2000-12-07", "--quiet"});
    EXPECT_EQ(quiet.ExitCode, 0);
    EXPECT_EQ(quiet.Out, kExpectedReport);
    EXPECT_EQ(quiet.Err, "");
}

// The bank's official rates, as the bundled history serves them: the date
// line names the date the rates were set on, which may be before the one
// asked for.
TEST_F(ReportCommand, TheBanksOfficialRatesFromTheBundledHistory) {
    RatesServerProcess server(KURS_RATES_SERVER_BINARY);
    ASSERT_TRUE(server.Running()) << server.Output();
    auto dateLine = [](const char* date) {
        return "C " + std::string(date) + "  ЦБ установил следующие курсы :\n \n";
    };
    auto usd = [](const char* rate) {
        return std::string(38, ' ') + "1 Доллар США = " + rate + "\n \n";
    };
    auto eur = [](const char* rate) { return std::string(50, ' ') + "1 ЕВРО = " + rate + "\n \n"; };
    auto dem = [](const char* rate) {
        return std::string(30, ' ') + "1 Немецкая марка = " + rate + "\n \n";
    };
    auto fim = [](const char* rate) {
        return std::string(22, ' ') + "10 Финляндских марок = " + rate + "\n \n";
    };
    const struct {
        const char* date;
        std::string report;
    } cases[] = {
        // The first rates; the markka was then quoted for one, under
        // another name, so the report leaves it out.
        {"02.07.1992", dateLine("01.07.1992") + usd("125,2600") + dem("82,1700")},
        {"07.12.2000", dateLine("07.12.2000") + usd("27,9300") + eur("24,5600") + dem("12,5600") +
                           fim("41,3000")},
        // A Saturday without rates of its own; the last rates of the mark
        // and the markka.
        {"29.12.2001", dateLine("28.12.2001") + usd("30,1400") + eur("26,4900") + dem("13,5400") +
                           fim("44,5500")},
        {"03.01.2002", dateLine("01.01.2002") + usd("30,1372") + eur("26,6172")},
        {"30.12.2023", dateLine("30.12.2023") + usd("89,6883") + eur("99,1919")},
        {"30.06.1992", "На дату 30/06/1992 - Курсы валют не установлены.\n \n"},
        // No rates were set over the New Year holidays of 2024; then eight
        // currencies a day.
        {"05.01.2024", dateLine("30.12.2023") + usd("89,6883") + eur("99,1919")},
        {"18.03.2026", dateLine("18.03.2026") + usd("81,9103") + eur("93,1557")},
        {"22.08.2026", dateLine("22.08.2026") + usd("82,9211") + eur("96,8601")},
        // After the history (even the Sunday after its last Saturday), with
        // nobody to ask: no rates, and no old ones passed off as that day's.
        {"23.08.2026", "На дату [23/08/2026] получить курсы валют не удалось - Ошибка!\n"},
    };
    for (const auto& c : cases) {
        const ProgramResult r = Run({"--server", server.Address(), "--date", c.date, "--quiet"});
        // The two last have no rates.
        EXPECT_EQ(r.ExitCode, c.report.rfind("На дату", 0) == 0 ? 3 : 0) << c.date << r.Err;
        EXPECT_EQ(r.Out, c.report) << c.date;
    }
}

TEST_F(ReportCommand, DateBeforeTheFirstRatesGivesTheNotice) {
    RatesServerProcess server(KURS_RATES_SERVER_BINARY, {"--data", KURS_RATES_SAMPLE_DATA});
    ASSERT_TRUE(server.Running()) << server.Output();
    // The C locale's date separator is "/".
    const ProgramResult r = Run({"--server", server.Address(), "--date", "01.01.1999", "--quiet"});
    EXPECT_EQ(r.ExitCode, 3) << r.Err;
    EXPECT_EQ(r.Out, "На дату 01/01/1999 - Курсы валют не установлены.\n \n");
}

TEST_F(ReportCommand, ThroughTinyproxy) {
    testing_support::ProxyProcess proxy(testing_support::ProxyProcess::Tinyproxy,
                                        testing_support::PortKind::FourDigits);
    if (!proxy.Running())
        GTEST_SKIP() << proxy.Problem();
    RatesServerProcess server(KURS_RATES_SERVER_BINARY, {"--data", KURS_RATES_SAMPLE_DATA});
    ASSERT_TRUE(server.Running()) << server.Output();
    const ProgramResult r = Run({"--server", server.Address(), "--date", "07.12.2000", "--proxy",
                                 "127.0.0.1:" + std::to_string(proxy.Port())});
    EXPECT_EQ(r.ExitCode, 0) << r.Err << proxy.Log();
    EXPECT_EQ(r.Out, kExpectedReport);
}

// A web cache keeps a settled page: five reports, one request to the server.
TEST_F(ReportCommand, ThroughACachingSquidASettledDateReachesTheServerOnce) {
    testing_support::ProxyProcess squid(testing_support::ProxyProcess::Squid,
                                        testing_support::PortKind::FourDigits, true);
    if (!squid.Running())
        GTEST_SKIP() << squid.Problem();
    RatesServerProcess server(KURS_RATES_SERVER_BINARY, {"--data", KURS_RATES_SAMPLE_DATA});
    ASSERT_TRUE(server.Running()) << server.Output();
    for (int i = 0; i < 5; ++i) {
        const ProgramResult r =
            Run({"--server", server.Address(), "--date", "07.12.2000", "--quiet", "--proxy",
                 "127.0.0.1:" + std::to_string(squid.Port())});
        EXPECT_EQ(r.ExitCode, 0) << r.Err << squid.Log();
        EXPECT_EQ(r.Out, kExpectedReport);
    }
    const std::string log = squid.AccessLog();
    int origin = 0;
    for (std::size_t at = 0; (at = log.find("HIER_DIRECT/", at)) != std::string::npos; ++at)
        ++origin;
    EXPECT_EQ(origin, 1) << log;
}

// From 2024 the page lists eight currencies and says so in a line of its
// own; the window's reader passes over it: the report is what it would be
// without that line.
TEST_F(ReportCommand, TheEightCurrencyNoteChangesNothingOfTheReport) {
    RatesServerProcess server(KURS_RATES_SERVER_BINARY);
    ASSERT_TRUE(server.Running()) << server.Output();
    const String note = "Это не вся таблица Центрального банка"_cp;
    for (const char* date : {"10.01.2024", "18.03.2026", "22.08.2026"}) {
        const std::string raw = rates::test::Fetch(
            server.Port(), rates::test::GetRequest(
                               std::string("/markets/scripts/val_res1a.asp?date_req=") + date));
        const std::string body = raw.substr(raw.find("\r\n\r\n") + 4);
        const auto at = body.find(note);
        ASSERT_NE(at, std::string::npos) << date;
        const auto start = body.rfind('\n', at) + 1;
        const std::string without = body.substr(0, start) + body.substr(body.find('\n', at) + 1);
        TStringList withLines, withoutLines, withReport, withoutReport;
        withLines.SetText(body);
        withoutLines.SetText(without);
        ASSERT_EQ(withLines.Count(), withoutLines.Count() + 1) << date;
        AppendRatesReport(withLines, date, withReport);
        AppendRatesReport(withoutLines, date, withoutReport);
        EXPECT_EQ(withReport.ToVector(), withoutReport.ToVector()) << date;
        EXPECT_EQ(withReport.Count(), 6) << date;  // the date line, the dollar and the euro
    }
}

TEST_F(ReportCommand, UsesTheWindowsStoredSettingsWithoutWritingThem) {
    RatesServerProcess server(KURS_RATES_SERVER_BINARY, {"--data", KURS_RATES_SAMPLE_DATA});
    ASSERT_TRUE(server.Running()) << server.Output();
    // A proxy that is stored but switched off by --no-proxy.
    StoreSettings(
        "\"cbxProxy_Checked\"=\"True\"\n\"edtProxy_Text\"=\"127.0.0.1\"\n"
        "\"edtPort_Text\"=\"1\"\n\"edtServer_Text\"=\"" +
        server.Address() + "\"\n\"edtTimeOut_Text\"=\"5\"\n");
    const std::string before = FileText(RegistryFile());
    struct stat was {};
    ASSERT_EQ(::stat(RegistryFile().c_str(), &was), 0);

    ProgramResult r = Run({"--date", "07.12.2000", "--no-proxy", "--quiet"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_EQ(r.Out, kExpectedReport);

    // With the stored proxy (nothing listens on port 1) the request fails.
    r = Run({"--date", "07.12.2000", "--quiet"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err, kFailedBox);

    struct stat is {};
    ASSERT_EQ(::stat(RegistryFile().c_str(), &is), 0);
    EXPECT_EQ(FileText(RegistryFile()), before);
    EXPECT_EQ(is.st_mtim.tv_sec, was.st_mtim.tv_sec);
    EXPECT_EQ(is.st_mtim.tv_nsec, was.st_mtim.tv_nsec);
    // Readers take the store's lock, so its file may be there; nothing else is.
    for (const auto& entry : std::filesystem::directory_iterator(RegistryFile().parent_path())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "HKEY_CURRENT_USER.reg" || name == "HKEY_CURRENT_USER.reg.lock")
            << name;
    }
}

TEST_F(ReportCommand, FailuresPrintTheMessageBoxesAndExitWithOne) {
    const int port = testing_support::FreeLoopbackPort();
    ProgramResult r = Run({"--server", "127.0.0.1:" + std::to_string(port), "--quiet"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err, kFailedBox);

    r = Run({"--server", "nosuch!host"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Err,
              "Соединение с сервером ЦБ...\nСервер с адресом [nosuch!host] не существует.\n" +
                  kFailedBox);
}

TEST_F(ReportCommand, UsageErrorHelpAndVersion) {
    ProgramResult r = Run({"--timeout", "abc"});
    EXPECT_EQ(r.ExitCode, 2);
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err.substr(0, r.Err.find('\n')),
              "kurs-report: --timeout wants 0 to 999 seconds, not 'abc'");
    EXPECT_NE(r.Err.find(ReportUsage), std::string::npos);

    r = Run({"-h"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out, ReportUsage);
    EXPECT_NE(r.Out.find("  3  the server answered, but had no rates"), std::string::npos);

    r = Run({"-V"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_EQ(r.Out.rfind("kurs-report ", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(Home / "kurs"));
}

}  // namespace
