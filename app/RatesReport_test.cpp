#include "app/RatesReport.h"

#include <gtest/gtest.h>

#include "runtime/Exceptions.h"

namespace {

const String kDate = "07.12.2000";

TStringList Lines(std::initializer_list<String> lines) {
    return TStringList(lines);
}

std::vector<String> Report(const TStrings& page) {
    TStringList report;
    AppendRatesReport(page, kDate, report);
    return report.ToVector();
}

String Spaces(int n) {
    return String(static_cast<std::size_t>(n), ' ');
}

TEST(TagText, TakesTheTextBetweenTheFirstTagEndAndTheFirstClosingTag) {
    const struct {
        const char* line;
        const char* expected;
    } cases[] = {
        {"<td>27,8500</td>", "27,8500"},
        {"<td><b>5</b></td>", "<b>5"},
        {"<td>27,8500", ""},
        {"27,8500</td>", ""},
        {"</td><td>x", ""},
        {"abc</td", "abc"},
        {"", ""},
        {">", ""},
        {"x>y", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TagText(c.line), c.expected) << c.line;
}

TEST(RatesReport, WorkedExampleOfAFullPage) {
    const auto page = Lines({
        "<p>Банк установил с 07.12.2000 курсы</p>"_cp,
        "<tr>",
        "<td>1</td>",
        "<td>USD</td>",
        "<td>Доллар США</td>"_cp,
        "<td>x</td>",
        "<td>27,8500</td>",
        "<td>1</td>",
        "<td>EUR</td>",
        "<td>ЕВРО</td>"_cp,
        "",
        "<td>25,1900</td>",
        "<td>1</td>",
        "<td>DEM</td>",
        "<td>Немецкая марка</td>"_cp,
        "",
        "<td>12,8800</td>",
        "<td>10</td>",
        "<td>FIM</td>",
        "<td>Финляндских марок</td>"_cp,
        "",
        "<td>42,3600</td>",
    });
    const std::vector<String> expected = {
        "C 07.12.2000  ЦБ установил следующие курсы :"_cp,
        " ",
        Spaces(38) + "1 Доллар США = 27,8500"_cp,
        " ",
        Spaces(50) + "1 ЕВРО = 25,1900"_cp,
        " ",
        Spaces(30) + "1 Немецкая марка = 12,8800"_cp,
        " ",
        Spaces(22) + "10 Финляндских марок = 42,3600"_cp,
        " ",
    };
    EXPECT_EQ(Report(page), expected);
    EXPECT_EQ(expected[2].size(), 60u);
}

TEST(RatesReport, PagesWithoutRates) {
    EXPECT_EQ(
        Report(Lines({})),
        std::vector<String>{"На дату [07.12.2000] получить курсы валют не удалось - Ошибка!"_cp});
    EXPECT_EQ(
        Report(Lines({"<html>", "Not Found", "</html>"})),
        std::vector<String>{"На дату [07.12.2000] получить курсы валют не удалось - Ошибка!"_cp});

    const std::vector<String> notice = {"На дату 07.12.2000 - Курсы валют не установлены."_cp, " "};
    EXPECT_EQ(Report(Lines({"a", "Курсы не зарегистрированы"_cp, "b"})), notice);
    // Each line with the phrase repeats the notice.
    auto twice = notice;
    twice.insert(twice.end(), notice.begin(), notice.end());
    EXPECT_EQ(Report(Lines({"не зарегистрированы"_cp, "не зарегистрированы"_cp})), twice);
}

TEST(RatesReport, OnlyTheFirstDateLineCountsAndShortLinesGiveShortDates) {
    const auto page = Lines({"установил с 01.01.2001"_cp, "установил с 02.02.2002"_cp});
    EXPECT_EQ(Report(page),
              (std::vector<String>{"C 01.01.2001 ЦБ установил следующие курсы :"_cp, " "}));
    EXPECT_EQ(Report(Lines({"установил с"_cp})),
              (std::vector<String>{"C  ЦБ установил следующие курсы :"_cp, " "}));
    EXPECT_EQ(Report(Lines({"установил с 07"_cp})),
              (std::vector<String>{"C 07 ЦБ установил следующие курсы :"_cp, " "}));
}

TEST(RatesReport, CurrenciesWithoutTheDatePhraseAreFollowedByTheFailureLine) {
    const auto page = Lines({"<td>1</td>", "", "<td>ЕВРО</td>"_cp, "", "<td>25,1900</td>"});
    EXPECT_EQ(Report(page), (std::vector<String>{
                                Spaces(50) + "1 ЕВРО = 25,1900"_cp,
                                " ",
                                "На дату [07.12.2000] получить курсы валют не удалось - Ошибка!"_cp,
                            }));
}

TEST(RatesReport, NamesMatchCaseSensitivelyAndTwoNamesOnALineGiveTwoLines) {
    EXPECT_EQ(Report(Lines({"a", "b", "Евро"_cp, "c", "d", "установил с"_cp})).size(), 2u);

    const auto page = Lines({"<td>1</td>", "", "ЕВРО и Доллар США"_cp, "", "<td>2</td>"});
    const auto report = Report(page);
    ASSERT_EQ(report.size(), 5u);
    EXPECT_NE(report[0].find("Доллар США"_cp.view()), String::npos);
    EXPECT_NE(report[2].find("ЕВРО"_cp.view()), String::npos);
}

TEST(RatesReport, ANameTooCloseToAnEndOfThePageRaisesTheIndexError) {
    TStringList report;
    const auto early = Lines({"установил с 07.12.2000"_cp, "ЕВРО"_cp, "x", "y"});
    try {
        AppendRatesReport(early, kDate, report);
        FAIL() << "no index error";
    } catch (const EStringListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (-1)");
    }
    // Lines written before the failure stay; nothing is added for the name.
    EXPECT_EQ(report.Count(), 2);

    report.Clear();
    const auto late = Lines({"a", "b", "c", "ЕВРО"_cp, "d"});
    EXPECT_THROW(AppendRatesReport(late, kDate, report), EStringListError);
    EXPECT_EQ(report.Count(), 0);
}

// The name part X stands right-aligned in a field of W = 68 - len(X): the
// padding is W - len(X) = 68 - 2 len(X) spaces while W is the wider, none
// from W = len(X) on.  (The difference is always even, so a W of len(X) + 1
// cannot occur; the cases around the edge are len(X) 33, 34 and 35.)
TEST(RatesReport, ThePaddingAtTheEdgeOfTheField) {
    const struct {
        int nominalLength;  // len(X) = nominal + len(" ЕВРО = ") = nominal + 8
        int spaces;
    } cases[] = {{24, 4}, {25, 2}, {26, 0}, {27, 0}, {60, 0}};
    for (const auto& c : cases) {
        const String nominal(static_cast<std::size_t>(c.nominalLength), '1');
        const auto page = Lines({"<td>" + nominal + "</td>", "", "ЕВРО"_cp, "", "<td>2</td>"});
        const auto report = Report(page);
        ASSERT_FALSE(report.empty());
        EXPECT_EQ(report[0], Spaces(c.spaces) + nominal + " ЕВРО = 2"_cp) << c.nominalLength;
    }
}

TEST(RatesReport, WideNominalPadsNothing) {
    const String nominal(70, '9');
    const auto page = Lines({"<td>" + nominal + "</td>", "", "ЕВРО"_cp, "", "<td>1</td>"});
    const auto report = Report(page);
    EXPECT_EQ(report[0], nominal + " ЕВРО = 1"_cp);
}

// A row is a "<tr" line, five lines of one "<td" cell each and "</tr>"; the
// header's "<th" cells and rows of another length are no rows.
TEST(RatesPage, RowsOfFiveCellsTheDateAndTheNotice) {
    const auto page = Lines({
        "<p>Банк установил с 07.12.2000 курсы</p>"_cp,
        "<p>на 08.12.2000 не зарегистрированы</p>"_cp,
        "<tr>",
        "<th>Единиц</th>"_cp,
        "</tr>",
        "  <tr class=\"r\">",
        "<td>1</td>",
        "<td>USD</td>",
        "<td>Доллар США</td>"_cp,
        "<td>840</td>",
        "<td>27,9300</td>",
        "</tr>",
        "<tr>",
        "<td>1</td>",
        "<td>EUR</td>",
        "<td>978</td>",
        "<td>24,5600</td>",
        "</tr>",
        "<tr>",
        "<td>10</td>",
        "<td>FIM</td>",
        "<td>Финляндских марок</td>"_cp,
        "<td>246</td>",
        "<td>41,3000</td>",
    });
    const TRatesPage read = ReadRatesPage(page);
    EXPECT_EQ(read.EffectiveDate, "07.12.2000");
    EXPECT_TRUE(read.NotRegistered);
    ASSERT_EQ(read.Rows.size(), 1u) << "the four-cell row and the unended one are no rows";
    EXPECT_EQ(read.Rows[0].Nominal, "1");
    EXPECT_EQ(read.Rows[0].Code, "USD");
    EXPECT_EQ(read.Rows[0].Name, "Доллар США"_cp);
    EXPECT_EQ(read.Rows[0].Value, "27,9300");

    TStringList report;
    AppendRatesReport(page, kDate, report);
    EXPECT_TRUE(ReportShowsRates(report));
    TStringList failure;
    AppendRatesReport(Lines({"<td>1</td>", "", "ЕВРО"_cp, "", "<td>2</td>"}), kDate, failure);
    EXPECT_FALSE(ReportShowsRates(failure)) << "currency lines without the date of the rates";
}

}  // namespace
