#include "tools/rates-server/RatesHttp.h"
#include "tools/rates-server/RatesPages.h"
#include "tools/rates-server/RatesService.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "runtime/String.h"
#include "testing/ParsedResponse.h"

namespace rates {
namespace {

using test::Lines;
using test::ParseResponse;

// The answer of a service that serves the sample data alone, which always
// answers at once.
std::string Answer(const std::string& head) {
    static RatesService service(RatesData::Load(KURS_RATES_SAMPLE_DATA));
    auto answer = service.Answer(head, [](std::string) { ADD_FAILURE() << "answered later"; });
    return answer.value_or("");
}

std::string Get(const std::string& target) {
    return Answer("GET " + target + " HTTP/1.0\r\nHost: x\r\n\r\n");
}

const std::string kPage = "/markets/scripts/val_res1a.asp?date_req=";

// What the rates reader relies on: the text between the first ">" and the
// first "</" of a line.
std::string CellText(const std::string& line) {
    const auto a = line.find('>');
    const auto b = line.find("</");
    if (a == std::string::npos || b == std::string::npos || b <= a)
        return {};
    return line.substr(a + 1, b - a - 1);
}

// The line of the date sentence; the 11 bytes the reader takes after it.
std::string DateAfterMarker(const std::vector<std::string>& lines, int* count) {
    const String marker = "установил с"_cp;
    std::string found;
    *count = 0;
    for (const auto& l : lines) {
        const auto p = l.find(marker);
        if (p == std::string::npos)
            continue;
        if ((*count)++ == 0)
            found = l.substr(p + marker.size() + 1, 11);
    }
    return found;
}

TEST(RatesPage, Page07122000HoldsTheMarkersWhereTheReaderLooks) {
    const auto r = ParseResponse(Get(kPage + "07.12.2000"));
    ASSERT_TRUE(r.Valid);
    EXPECT_EQ(r.StatusLine, "HTTP/1.0 200 OK");
    EXPECT_EQ(r.Header("Content-Type"), "text/html; charset=windows-1251");
    EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.Body.size()));
    const auto lines = Lines(r.Body);

    int sentences = 0;
    EXPECT_EQ(DateAfterMarker(lines, &sentences), "07.12.2000 ");
    EXPECT_EQ(sentences, 1);
    EXPECT_EQ(r.Body.find("не зарегистрированы"_cp), std::string::npos);

    struct Expected {
        String name, nominal, rate;
    };
    const Expected expected[] = {
        {"Доллар США"_cp, "1", "27,8500"},
        {"ЕВРО"_cp, "1", "25,1900"},
        {"Немецкая марка"_cp, "1", "12,8800"},
        {"Финляндских марок"_cp, "10", "42,3600"},
    };
    for (const auto& e : expected) {
        int seen = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (lines[i].find(e.name) == std::string::npos)
                continue;
            ++seen;
            ASSERT_GE(i, 2u);
            ASSERT_LT(i + 2, lines.size());
            EXPECT_EQ(lines[i], "<td>" + e.name + "</td>");
            EXPECT_EQ(lines[i - 2], "<td>" + e.nominal + "</td>");
            EXPECT_EQ(lines[i + 2], "<td>" + e.rate + "</td>");
            EXPECT_EQ(CellText(lines[i + 2]), e.rate);
        }
        EXPECT_EQ(seen, 1) << Cp1251ToUtf8(e.name);
    }
    // The page is Windows-1251, not UTF-8.
    EXPECT_EQ(r.Body.find("Доллар"), std::string::npos);
}

TEST(RatesPage, DatesAndTargets) {
    struct Case {
        std::string target;
        int status;
        const char* ratesFrom;  // "" = no date sentence; nullptr = not a rates page
    };
    const Case cases[] = {
        {kPage + "07.12.2000", 200, "07.12.2000"},
        {kPage + "07/12/2000", 200, "07.12.2000"},
        {kPage + "07-12-2000", 200, "07.12.2000"},
        {kPage + "07%2E12%2E2000", 200, "07.12.2000"},
        {kPage + "7.12.2000", 200, "07.12.2000"},
        {kPage + "10.12.2000", 200, "08.12.2000"},  // latest earlier rates
        {kPage + "01.01.2030", 200, nullptr},       // after the data: no rates
        {kPage + "01.12.2000", 200, "01.12.2000"},
        {kPage + "30.11.2000", 200, ""},  // before the first rates
        {kPage, 200, "12.12.2000"},       // no date: the latest
        {"/markets/scripts/val_res1a.asp", 200, "12.12.2000"},
        {"/MARKETS/scripts/VAL_RES1A.ASP?DATE_REQ=07.12.2000", 200, "07.12.2000"},
        {"/markets/scripts/val_res1a.asp?x=1&date_req=06.12.2000&y", 200, "06.12.2000"},
        {"http://127.0.0.1:8080" + kPage + "07.12.2000", 200, "07.12.2000"},
        {"HTTP://rates.example" + kPage + "05.12.2000", 200, "05.12.2000"},
        {kPage + "31.02.2000", 400, nullptr},
        {kPage + "07.12.00", 400, nullptr},
        {kPage + "tomorrow", 400, nullptr},
        {"/", 404, nullptr},
        {"/markets/scripts/val_res1a.aspx?date_req=07.12.2000", 404, nullptr},
        {"/markets/scripts/", 404, nullptr},
        {"http://127.0.0.1", 404, nullptr},
        {"http://127.0.0.1?date_req=07.12.2000", 404, nullptr},
        {"127.0.0.1" + kPage + "07.12.2000", 400, nullptr},  // no scheme, no "/"
        {"*", 400, nullptr},
    };
    for (const auto& c : cases) {
        const auto r = ParseResponse(Get(c.target));
        ASSERT_TRUE(r.Valid) << c.target;
        EXPECT_EQ(r.Status, c.status) << c.target;
        EXPECT_EQ(r.Header("Content-Type"), "text/html; charset=windows-1251") << c.target;
        EXPECT_EQ(r.Header("Content-Length"), std::to_string(r.Body.size())) << c.target;
        if (c.ratesFrom == nullptr) {
            EXPECT_EQ(r.Body.find("установил с"_cp), std::string::npos) << c.target;
            EXPECT_EQ(r.Body.find("не зарегистрированы"_cp), std::string::npos) << c.target;
            continue;
        }
        int sentences = 0;
        EXPECT_EQ(DateAfterMarker(Lines(r.Body), &sentences),
                  *c.ratesFrom ? std::string(c.ratesFrom) + " " : "")
            << c.target;
        const bool registered = *c.ratesFrom != '\0';
        EXPECT_EQ(r.Body.find("не зарегистрированы"_cp) == std::string::npos, registered)
            << c.target;
        EXPECT_EQ(r.Body.find("Доллар США"_cp) != std::string::npos, registered) << c.target;
    }
}

TEST(RatesPage, WritesTheEuroAsTheOldPageDidAndSaysWhereTheFiguresComeFrom) {
    const RatesTable table{{2023, 12, 30},
                           {{"840", "USD", 1, "Доллар США", "89,6883"},
                            {"978", "EUR", 1, "Евро", "99,1919"},
                            {"", "", 100, "Украинских карбованецев", "3,7700"},
                            {"999", "XYZ", 1, "Фунт <b>&\"", "1,0000"}}};
    const std::string page = RatesPage(&table, {2023, 12, 31});
    const auto lines = Lines(page);
    const auto euro = std::find(lines.begin(), lines.end(), "<td>ЕВРО</td>"_cp);
    ASSERT_NE(euro, lines.end());
    EXPECT_EQ(*(euro - 1), "<td>EUR</td>");
    EXPECT_EQ(*(euro + 2), "<td>99,1919</td>");
    EXPECT_EQ(page.find("Евро"_cp), std::string::npos);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "<td></td>"), lines.end());
    // A name as the bank's service may write it stays one cell of text.
    EXPECT_NE(std::find(lines.begin(), lines.end(), "<td>Фунт &lt;b&gt;&amp;&quot;</td>"_cp),
              lines.end());
    EXPECT_NE(page.find("официальные курсы, опубликованные Центральным банком"_cp),
              std::string::npos);
    EXPECT_EQ(page.find("Образец"_cp), std::string::npos);
}

// The window writes its failure line for a page that holds neither phrase
// nor a currency it knows; these pages must be such pages.
TEST(RatesPage, PagesWithoutRatesHoldNothingTheWindowLooksFor) {
    const Date date{2030, 1, 1};
    const std::string pages[] = {NoRatesPage(date), UpstreamFailurePage(date),
                                 ErrorPage(404, "Not Found", "Нет такой страницы.")};
    const String phrases[] = {"не зарегистрированы"_cp, "установил с"_cp,
                              "Доллар США"_cp,          "ЕВРО"_cp,
                              "Немецкая марка"_cp,      "Финляндских марок"_cp};
    for (const auto& page : pages)
        for (const auto& phrase : phrases)
            EXPECT_EQ(page.find(phrase), std::string::npos) << Cp1251ToUtf8(page);
    EXPECT_NE(pages[0].find("нет курсов валют на 01.01.2030"_cp), std::string::npos);
    EXPECT_NE(pages[1].find("01.01.2030"), std::string::npos);
}

TEST(RatesPage, MethodsOtherThanGetAndHead) {
    const auto head = Answer("HEAD " + kPage + "07.12.2000 HTTP/1.0\r\n\r\n");
    const auto get = ParseResponse(Get(kPage + "07.12.2000"));
    const auto h = ParseResponse(head);
    EXPECT_EQ(h.Status, 200);
    EXPECT_TRUE(h.Body.empty());
    EXPECT_EQ(h.Header("Content-Length"), std::to_string(get.Body.size()));

    const auto post = ParseResponse(Answer("POST " + kPage + " HTTP/1.0\r\n\r\n"));
    EXPECT_EQ(post.Status, 501);
    EXPECT_EQ(post.Header("Allow"), "GET, HEAD");
    // Methods are case-sensitive.
    EXPECT_EQ(ParseResponse(Answer("get / HTTP/1.0\r\n\r\n")).Status, 501);
}

TEST(ExamineHead, FindsTheEndOfTheHeadAndBadRequestLines) {
    struct Case {
        std::string received;
        HeadState state;
    };
    const Case cases[] = {
        {"", HeadState::Incomplete},
        {"GET / HTTP/1.0", HeadState::Incomplete},
        {"GET / HTTP/1.0\r\n", HeadState::Incomplete},
        {"GET / HTTP/1.0\r\nHost: a\r\n", HeadState::Incomplete},
        {"GET / HTTP/1.0\r\nHost: a\r\n\r", HeadState::Incomplete},
        {"GET / HTTP/1.0\r\n\r\n", HeadState::Complete},
        {"GET / HTTP/1.0\nHost: a\n\n", HeadState::Complete},
        {"GET / HTTP/1.1\r\nHost: a\r\n\r\n", HeadState::Complete},
        {"\r\n\r\nGET / HTTP/1.0\r\n\r\n", HeadState::Complete},  // leading empty lines
        {"GET  /  HTTP/1.0\r\n\r\n", HeadState::Complete},
        {"hello\r\n", HeadState::BadRequestLine},
        {"GET /\r\n", HeadState::BadRequestLine},  // no version
        {"GET / HTTP/1.0 x\r\n", HeadState::BadRequestLine},
        {"GET / FTP/1.0\r\n", HeadState::BadRequestLine},
        {"GET / HTTP/1\r\n", HeadState::BadRequestLine},
        {"GET / HTTP/1.x\r\n", HeadState::BadRequestLine},
        {"G(T / HTTP/1.0\r\n", HeadState::BadRequestLine},
        {std::string("GET /\x01 HTTP/1.0\r\n"), HeadState::BadRequestLine},
        {std::string("\x16\x03\x01\x02\x00\x01\x00\n", 8), HeadState::BadRequestLine},
        {"GET / HTTP/1.0\r\n" + std::string(kMaxHeadBytes, 'a'), HeadState::TooLong},
        {"GET / HTTP/1.0\r\nX: " + std::string(kMaxHeadBytes, 'a') + "\r\n\r\n",
         HeadState::Complete},  // all there already: answer it
    };
    for (const auto& c : cases)
        EXPECT_EQ(static_cast<int>(ExamineHead(c.received)), static_cast<int>(c.state))
            << c.received.substr(0, 40);
    EXPECT_EQ(ParseResponse(BadRequestAnswer()).Status, 400);
}

}  // namespace
}  // namespace rates
