// kurs-report's csv and json, its ranges and exit statuses, run as a
// program against the bundled rates server or a scripted one.

#include "app/ReportData.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "testing/Processes.h"
#include "testing/ScriptedServer.h"
#include "testing/TestHome.h"

namespace {

using app_testing::Environment;
using app_testing::ProgramResult;
using app_testing::RatesServerProcess;
using app_testing::RunProgram;

// A rates page in the rates server's layout, lines ended by CR LF, cp1251.
std::string Page(const std::vector<std::vector<std::string>>& rows) {
    std::string page =
        "<html>\r\n<p>Банк установил с 07.12.2000 следующие курсы</p>\r\n<table>\r\n"
        "<tr>\r\n<th>Единиц</th>\r\n<th>Букв. код</th>\r\n<th>Валюта</th>\r\n"
        "<th>Цифр. код</th>\r\n<th>Курс</th>\r\n</tr>\r\n";
    for (const auto& row : rows) {
        page += "<tr>\r\n";
        for (const auto& cell : row)
            page += "<td>" + cell + "</td>\r\n";
        page += "</tr>\r\n";
    }
    return Utf8ToCp1251(page + "</table>\r\n</html>\r\n");
}

std::string Answer(const std::string& status, const std::string& body) {
    return "HTTP/1.0 " + status +
           "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

class ReportData : public TestHome {
  protected:
    ProgramResult Run(const std::vector<std::string>& args) {
        return RunProgram(KURS_REPORT_BINARY, args, Env());
    }
    // A shell line, with kurs-report as $R.
    ProgramResult Shell(const std::string& line) {
        Environment env = Env();
        env["R"] = KURS_REPORT_BINARY;
        return RunProgram("/bin/bash", {"-c", line}, env);
    }
    Environment Env() const { return {{"XDG_CONFIG_HOME", Home.string()}, {"LC_ALL", "C"}}; }
    // What a real JSON parser makes of the text: its own rendering, or its complaint.
    std::string Parsed(const std::string& json) {
        const auto file = Home / "out.json";
        std::ofstream(file, std::ios::binary) << json;
        const ProgramResult r = RunProgram(
            "/usr/bin/python3",
            {"-c",
             "import json,sys; print(json.dumps(json.load(open(sys.argv[1], encoding='utf-8')),"
             " ensure_ascii=False, separators=(',', ':')))",
             file.string()});
        return r.ExitCode == 0 ? r.Out : "not JSON: " + r.Err;
    }
};

TEST_F(ReportData, CsvOfARangeHasOneHeaderAndTheCodesInTheOrderGiven) {
    RatesServerProcess server(KURS_RATES_SERVER_BINARY);
    ASSERT_TRUE(server.Running()) << server.Output();
    const ProgramResult r = Run({"-s", server.Address(), "--from", "2.12.2000", "--to=2000-12-03",
                                 "--format", "csv", "--currency", "eur,usd", "-q"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    // The Sunday has the rates set on the Saturday.
    EXPECT_EQ(r.Out,
              "requested,effective,code,nominal,value,name\r\n"
              "2000-12-02,2000-12-02,EUR,1,24.4100,ЕВРО\r\n"
              "2000-12-02,2000-12-02,USD,1,27.8900,Доллар США\r\n"
              "2000-12-03,2000-12-02,EUR,1,24.4100,ЕВРО\r\n"
              "2000-12-03,2000-12-02,USD,1,27.8900,Доллар США\r\n");
    EXPECT_EQ(r.Err, "");
}

TEST_F(ReportData, JsonIsValidAndADateWithoutRatesHasNone) {
    RatesServerProcess server(KURS_RATES_SERVER_BINARY);
    ASSERT_TRUE(server.Running()) << server.Output();
    ProgramResult r = Run({"-s", server.Address(), "-d", "7.12.2000", "--format", "json", "-q"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    const std::string expected =
        R"({"requested":"2000-12-07","effective":"2000-12-07","rates":[)"
        R"({"code":"USD","nominal":1,"value":"27.9300","name":"Доллар США"},)"
        R"({"code":"EUR","nominal":1,"value":"24.5600","name":"ЕВРО"},)"
        R"({"code":"DEM","nominal":1,"value":"12.5600","name":"Немецкая марка"},)"
        R"({"code":"FIM","nominal":10,"value":"41.3000","name":"Финляндских марок"}]})";
    EXPECT_EQ(r.Out, expected + "\n");
    EXPECT_EQ(Parsed(r.Out), expected + "\n");

    // Before the first rates, and with every row of the page: an array.
    r = Run({"-s", server.Address(), "--from", "30.06.1992", "--to", "01.07.1992", "--format",
             "json", "--currency", "all", "-q"});
    EXPECT_EQ(r.ExitCode, 3) << r.Err;
    const std::string parsed = Parsed(r.Out);
    EXPECT_EQ(parsed.rfind(R"([{"requested":"1992-06-30","effective":null,"rates":[]},)"
                           R"({"requested":"1992-07-01","effective":"1992-07-01","rates":[{)",
                           0),
              0u)
        << parsed;
    EXPECT_NE(parsed.find(R"({"code":"USD","nominal":1,"value":"125.2600","name":"Доллар США"})"),
              std::string::npos);

    // A code the page lacks is told on stderr; none found is no rates.
    r = Run({"-s", server.Address(), "-d", "2023-12-30", "--format", "json", "--currency",
             "CNY,XYZ", "-q"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    EXPECT_NE(r.Out.find(R"("code":"CNY","nominal":1,)"), std::string::npos) << r.Out;
    EXPECT_EQ(r.Err, "kurs-report: 2023-12-30: XYZ is not on the page\n");
    r = Run(
        {"-s", server.Address(), "-d", "2023-12-30", "--format", "csv", "--currency", "DEM", "-q"});
    EXPECT_EQ(r.ExitCode, 3);
    EXPECT_EQ(r.Out, "requested,effective,code,nominal,value,name\r\n");
}

TEST_F(ReportData, TextReportsOfARangeAreSeparatedByABlankLine) {
    RatesServerProcess server(KURS_RATES_SERVER_BINARY);
    ASSERT_TRUE(server.Running()) << server.Output();
    const ProgramResult one = Run({"-s", server.Address(), "-d", "06.12.2000", "-q"});
    const ProgramResult two = Run({"-s", server.Address(), "-d", "07.12.2000", "-q"});
    const ProgramResult both =
        Run({"-s", server.Address(), "--from", "06.12.2000", "--to", "07.12.2000", "-q"});
    EXPECT_EQ(both.ExitCode, 0);
    EXPECT_EQ(both.Out, one.Out + "\n" + two.Out);
}

// Rows that are not numbers are left out and told; other rows stay; the
// text report is the window's whatever the rows hold; 100,000 rows are read
// in one go.
TEST_F(ReportData, BadRowsAreLeftOutAndAHugeTableIsRead) {
    testing_support::ScriptedServer server;
    const std::string address = "127.0.0.1:" + std::to_string(server.Port());
    const std::string bad =
        Page({{"1", "USD", "Доллар США", "840", "27,9300"},
              {"x", "EUR", "ЕВРО", "978", "24,5600"},
              {"1", "GBP", "Фунт &amp; \"стерлинг\"", "826", "abc"},
              {"10", "SEK", "Шведских крон, &quot;новых&quot; &amp; c", "752", "29,10"}});
    server.Push(Answer("200 OK", bad));
    ProgramResult r = Run({"-s", address, "--format", "csv", "--currency", "all", "-q"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err;
    const std::string today = IsoDate(Date());
    EXPECT_EQ(r.Out, "requested,effective,code,nominal,value,name\r\n" + today +
                         ",2000-12-07,USD,1,27.9300,Доллар США\r\n" + today +
                         ",2000-12-07,SEK,10,29.10,\"Шведских крон, \"\"новых\"\" & c\"\r\n");
    EXPECT_EQ(r.Err,
              "kurs-report: " + today +
                  ": the row of EUR has a nominal that is not a number of units: 'x'; the row is "
                  "left out\n"
                  "kurs-report: " +
                  today +
                  ": the row of GBP has a rate that is not a number: 'abc'; the row is "
                  "left out\n");

    server.Push(Answer("200 OK", bad));
    r = Run({"-s", address, "-q"});
    EXPECT_EQ(r.ExitCode, 0);
    EXPECT_NE(r.Out.find("1 Доллар США = 27,9300\n \n" + std::string(50, ' ') + "x ЕВРО = 24,5600"),
              std::string::npos)
        << r.Out;

    std::vector<std::vector<std::string>> rows(100000, {"1", "ABC", "Валюта", "000", "1,5"});
    server.Push(Answer("200 OK", Page(rows)));
    r = Run({"-s", address, "--format", "json", "--currency", "all", "-q"});
    EXPECT_EQ(r.ExitCode, 0) << r.Err.substr(0, 200);
    const std::string row = R"({"code":"ABC","nominal":1,"value":"1.5","name":"Валюта"})";
    std::size_t count = 0;
    for (std::size_t at = r.Out.find(row); at != std::string::npos; at = r.Out.find(row, at + 1))
        ++count;
    EXPECT_EQ(count, 100000u);
    EXPECT_EQ(Parsed(r.Out).substr(0, 15), "{\"requested\":\"2");
}

// A range stops at the first message, keeps what was printed and stays valid JSON.
TEST_F(ReportData, ARangeStopsAtTheFirstMessage) {
    testing_support::ScriptedServer server;
    const std::string address = "127.0.0.1:" + std::to_string(server.Port());
    server.Push(Answer("200 OK", Page({{"1", "USD", "Доллар США", "840", "27,9300"}})));
    server.Push(Answer("502 Bad Gateway", "<html>no</html>"));
    server.Push(Answer("200 OK", Page({{"1", "USD", "Доллар США", "840", "27,9300"}})));
    const ProgramResult r = Run({"-s", address, "--from", "06.12.2000", "--to", "08.12.2000",
                                 "--format", "json", "--currency", "usd", "-q"});
    EXPECT_EQ(r.ExitCode, 1);
    EXPECT_EQ(r.Out,
              "[\n"
              R"({"requested":"2000-12-06","effective":"2000-12-07","rates":[)"
              R"({"code":"USD","nominal":1,"value":"27.9300","name":"Доллар США"}]})"
              "\n]\n");
    EXPECT_EQ(r.Err, "kurs-report: 2000-12-07: the server answered with HTTP status 502\n");
    EXPECT_EQ(server.Requests().size(), 2u);
}

// A reader that stops early ends the run quietly, without a signal; a
// terminal shows a long range's progress on stderr.
TEST_F(ReportData, AClosedPipeEndsQuietlyAndATerminalShowsProgress) {
    RatesServerProcess server(KURS_RATES_SERVER_BINARY);
    ASSERT_TRUE(server.Running()) << server.Output();
    const std::string err = (Home / "err").string();
    ProgramResult r = Shell("\"$R\" -s " + server.Address() +
                            " --from 01.12.2000 --to 31.03.2001 --format csv -q 2>" + err +
                            " | head -1; echo \"status ${PIPESTATUS[0]}\"; cat " + err);
    EXPECT_EQ(r.Out, "requested,effective,code,nominal,value,name\r\nstatus 1\n");

    // script(1) gives the program a terminal.
    r = Shell("script -qec '\"$R\" -s " + server.Address() +
              " --from 01.12.2000 --to 21.12.2000 --format csv >/dev/null' /dev/null");
    if (r.ExitCode == 127)
        GTEST_SKIP() << "no script(1)";
    EXPECT_EQ(r.ExitCode, 0) << r.Out;
    EXPECT_NE(r.Out.find("\rkurs-report: 2000-12-21 (21 of 21)"), std::string::npos) << r.Out;
    EXPECT_EQ(r.Out.find("Соединение"), std::string::npos) << "no status texts with progress";
}

}  // namespace
