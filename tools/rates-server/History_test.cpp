// The bundled history: tables of dates whose figures are known, the pages the
// window reads from it, and, where the bank's published figures are on this
// machine, every one of them against what the history says.

#include <sys/stat.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <map>
#include <sstream>
#include <tuple>

#include "runtime/String.h"
#include "testing/ParsedResponse.h"
#include "tools/rates-server/RatesData.h"
#include "tools/rates-server/RatesPages.h"
#include "tools/rates-server/RatesService.h"

namespace rates {
namespace {

const RatesData& History() {
    static const RatesData data = RatesData::Load(KURS_RATES_HISTORY);
    return data;
}

// A row by letter code, or by name for a currency without one.
const Currency* Row(const RatesTable& t, std::string_view key) {
    for (const auto& c : t.Currencies)
        if (c.CharCode == key || (c.CharCode.empty() && c.Name == key))
            return &c;
    return nullptr;
}

TEST(History, SpansTheBanksPublishedRates) {
    EXPECT_EQ(History().First(), (Date{1992, 7, 1}));
    EXPECT_EQ(History().Last(), (Date{2026, 8, 22}));
    EXPECT_EQ(History().PartialFrom(), (Date{2024, 1, 10}));
    EXPECT_FALSE(History().RatesOn({1992, 6, 30}));
}

TEST(History, TablesOfKnownDates) {
    struct Shown {
        const char* key;
        int nominal;
        const char* rate;
    };
    struct Case {
        const char* why;
        Date asked;
        Date from;
        std::vector<Shown> shown;
        std::vector<const char*> absent;
    };
    const Case cases[] = {
        {"the window's date",
         {2000, 12, 7},
         {2000, 12, 7},
         {{"USD", 1, "27,9300"},
          {"EUR", 1, "24,5600"},
          {"DEM", 1, "12,5600"},
          {"FIM", 10, "41,3000"}},
         {}},
        {"a Sunday", {2000, 12, 17}, {2000, 12, 16}, {}, {}},
        {"Christmas, a Sunday, and the Monday after", {2001, 1, 8}, {2001, 1, 6}, {}, {}},
        {"the New Year holidays", {2005, 1, 5}, {2005, 1, 1}, {}, {}},
        {"the first date",
         {1992, 7, 1},
         {1992, 7, 1},
         {{"USD", 1, "125,2600"}, {"DEM", 1, "82,1700"}, {"FIM", 1, "30,1800"}},
         {"EUR"}},
        {"the last rates of the mark and the markka",
         {2001, 12, 31},
         {2001, 12, 28},
         {{"DEM", 1, "13,5400"}, {"FIM", 10, "44,5500"}},
         {}},
        {"the mark and the markka are gone", {2002, 1, 1}, {2002, 1, 1}, {}, {"DEM", "FIM"}},
        // 01.05.1995 set only a few monthly rates; the weekly ones of
        // 28.04.1995 are still in force, a currency without codes too.
        {"weekly rates carried",
         {1995, 5, 3},
         {1995, 5, 1},
         {{"AMD", 1, "12,5900"},
          {"USD", 1, "5100,0000"},
          {"Украинских карбованецев", 100, "3,7700"}},
         {}},
        // The source lacks the dram from 1996 to 2010 and the lari from 1996
        // to 2023: a rate of 1996 is not in force for years.
        {"no rates of long ago",
         {2005, 6, 1},
         {2005, 6, 1},
         {{"USD", 1, "28,1946"}},
         {"AMD", "GEL", "BGN"}},
        {"the dram again", {2010, 1, 12}, {2010, 1, 12}, {{"AMD", 1000, "77,9042"}}, {"GEL"}},
        // A rate in roubles before 01.01.1998 is never shown as new roubles.
        {"the new rouble", {1998, 1, 20}, {1998, 1, 20}, {{"USD", 1, "6,0005"}}, {"XDR", "CNY"}},
        {"the last date",
         {2023, 12, 30},
         {2023, 12, 30},
         {{"USD", 1, "89,6883"}, {"EUR", 1, "99,1919"}, {"GEL", 1, "33,3042"}},
         {"DEM"}},
        // No rates were set from 31.12.2023 to 09.01.2024: the whole table
        // of 30.12.2023 holds; from 10.01.2024 on, eight currencies.
        {"the holidays after the full history",
         {2024, 1, 5},
         {2023, 12, 30},
         {{"USD", 1, "89,6883"}, {"GEL", 1, "33,3042"}},
         {}},
        {"eight currencies",
         {2026, 3, 18},
         {2026, 3, 18},
         {{"USD", 1, "81,9103"}, {"EUR", 1, "93,1557"}, {"INR", 100, "88,5929"}},
         {"GEL", "JPY", "KZT"}},
        {"a Sunday of the eight", {2026, 8, 16}, {2026, 8, 15}, {}, {"GEL"}},
        {"the end of the eight", {2026, 8, 22}, {2026, 8, 22}, {{"USD", 1, "82,9211"}}, {"JPY"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const auto t = History().RatesOn(c.asked);
        ASSERT_TRUE(t);
        EXPECT_EQ(t->From, c.from);
        for (const auto& s : c.shown) {
            const Currency* row = Row(*t, s.key);
            ASSERT_NE(row, nullptr) << s.key;
            EXPECT_EQ(row->Nominal, s.nominal) << s.key;
            EXPECT_EQ(row->Rate, s.rate) << s.key;
        }
        for (const char* key : c.absent)
            EXPECT_EQ(Row(*t, key), nullptr) << key;
    }
}

TEST(History, RowsInTheOrderOfTheirNames) {
    const auto t = History().RatesOn({2000, 12, 7});
    ASSERT_TRUE(t);
    std::vector<std::string> codes;
    for (const auto& c : t->Currencies) {
        if (c.CharCode == "USD" || c.CharCode == "EUR" || c.CharCode == "DEM" ||
            c.CharCode == "FIM")
            codes.push_back(c.CharCode);
    }
    EXPECT_EQ(codes, (std::vector<std::string>{"USD", "EUR", "DEM", "FIM"}));
    for (std::size_t i = 1; i < t->Currencies.size(); ++i)
        EXPECT_LE(AnsiCompareText(Utf8ToCp1251(t->Currencies[i - 1].Name),
                                  Utf8ToCp1251(t->Currencies[i].Name)),
                  0)
            << t->Currencies[i].Name;
}

// The window's reader: a name anywhere in a line, the nominal two lines above
// it and the rate two lines below.  Every date's page is checked where the
// rows or their names differ from the date before.
TEST(History, EveryDatesPageIsReadAsItsTable) {
    const char* const codes[] = {"USD", "EUR", "DEM", "FIM"};
    const String names[] = {"Доллар США"_cp, "ЕВРО"_cp, "Немецкая марка"_cp,
                            "Финляндских марок"_cp};
    const String dateMarker = "установил с"_cp;
    using namespace std::chrono;
    std::string lastLayout;
    int layouts = 0;
    for (sys_days d = sys_days(year{1992} / 7 / 1); d <= sys_days(year{2023} / 12 / 30);
         d += days(1)) {
        const year_month_day ymd{d};
        const Date date{static_cast<int>(ymd.year()), static_cast<int>(unsigned(ymd.month())),
                        static_cast<int>(unsigned(ymd.day()))};
        const auto t = History().RatesOn(date);
        ASSERT_TRUE(t) << date.Text();
        ASSERT_LE(t->From, date);
        std::string layout;
        for (const auto& c : t->Currencies)
            layout += c.CharCode + std::to_string(c.Nominal) + c.Name + "|";
        if (layout == lastLayout)
            continue;
        lastLayout = layout;
        ++layouts;

        const auto lines = test::Lines(RatesPage(&*t, date));
        int sentences = 0;
        int seen[4] = {};
        for (std::size_t i = 0; i < lines.size(); ++i) {
            sentences += lines[i].find(dateMarker) != std::string::npos;
            ASSERT_EQ(lines[i].find("не зарегистрированы"_cp), std::string::npos) << date.Text();
            for (int n = 0; n < 4; ++n) {
                if (lines[i].find(names[n]) == std::string::npos)
                    continue;
                ++seen[n];
                const Currency* row = Row(*t, codes[n]);
                ASSERT_NE(row, nullptr) << date.Text() << " " << codes[n];
                ASSERT_EQ(lines[i], "<td>" + names[n] + "</td>") << date.Text();
                ASSERT_TRUE(i >= 2 && i + 2 < lines.size()) << date.Text();
                EXPECT_EQ(lines[i - 2], "<td>" + std::to_string(row->Nominal) + "</td>");
                EXPECT_EQ(lines[i + 2], "<td>" + row->Rate + "</td>");
            }
        }
        ASSERT_EQ(sentences, 1) << date.Text();
        for (int n = 0; n < 4; ++n) {
            const Currency* row = Row(*t, codes[n]);
            // FIM for one markka was "Финляндская марка", which the window
            // does not look for.
            const bool findable = row && !(n == 3 && row->Nominal != 10);
            ASSERT_EQ(seen[n], findable ? 1 : 0) << date.Text() << " " << codes[n];
        }
    }
    EXPECT_GT(layouts, 100);
}

TEST(History, ServedPagesAroundItsEnds) {
    RatesService service(History());
    auto get = [&](const char* date) {
        const auto answer =
            service.Answer(std::string("GET /markets/scripts/val_res1a.asp?date_req=") + date +
                               " HTTP/1.0\r\n\r\n",
                           [](std::string) { ADD_FAILURE() << "answered later"; });
        const auto r = test::ParseResponse(answer.value_or(""));
        EXPECT_EQ(r.Status, 200) << date;
        return r.Body;
    };
    struct Case {
        const char* date;
        const char* sentence;  // nullptr: no date sentence
        bool notRegistered;
    };
    const Case cases[] = {
        {"30.06.1992", nullptr, true},
        {"01.07.1992", "установил с 01.07.1992 ", false},
        {"30.12.2023", "установил с 30.12.2023 ", false},
        {"09.01.2024", "установил с 30.12.2023 ", false},  // the New Year holidays
        {"10.01.2024", "установил с 10.01.2024 ", false},
        {"23.08.2026", nullptr, false},  // after the history, nobody to ask
        {"01.01.2030", nullptr, false},
    };
    for (const auto& c : cases) {
        const std::string page = get(c.date);
        EXPECT_EQ(page.find("установил с"_cp) != std::string::npos, c.sentence != nullptr)
            << c.date;
        if (c.sentence != nullptr) {
            EXPECT_NE(page.find(Utf8ToCp1251(c.sentence)), std::string::npos) << c.date;
        }
        EXPECT_EQ(page.find("не зарегистрированы"_cp) != std::string::npos, c.notRegistered)
            << c.date;
        EXPECT_EQ(page.find("Доллар США"_cp) != std::string::npos, c.sentence != nullptr) << c.date;
    }
}

// ---- Every rate the bank published, against the history -----------------

std::vector<std::string> SplitCsv(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string f;
    while (std::getline(in, f, ','))
        fields.push_back(f);
    if (!line.empty() && line.back() == ',')
        fields.emplace_back();
    return fields;
}

std::vector<std::string> GzipLines(const std::string& path) {
    std::vector<std::string> lines;
    gzFile f = gzopen(path.c_str(), "rb");
    if (f == nullptr)
        return lines;
    std::string text;
    char buf[1 << 16];
    int n;
    while ((n = gzread(f, buf, sizeof buf)) > 0)
        text.append(buf, n);
    gzclose(f);
    std::stringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

Date IsoDate(const std::string& s) {
    return Date{std::stoi(s.substr(0, 4)), std::stoi(s.substr(5, 2)), std::stoi(s.substr(8, 2))};
}

int DaysBetween(const Date& a, const Date& b) {
    using namespace std::chrono;
    auto n = [](const Date& d) {
        return sys_days(year{d.Year} / d.Month / d.Day).time_since_epoch().count();
    };
    return static_cast<int>(n(b) - n(a));
}

TEST(History, AgreesWithTheBanksFigures) {
    const std::string dir = KURS_BANK_RATES_DIR;
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0)
        GTEST_SKIP() << "the bank's figures are not on this machine: " << dir;

    // (cbr_id, letter code, number code, nominal) -> [first, last, name]
    std::map<std::tuple<std::string, std::string, std::string, int>,
             std::vector<std::tuple<Date, Date, std::string>>>
        names;
    std::ifstream namesFile(dir + "/currency-names-ru.csv");
    ASSERT_TRUE(namesFile);
    std::string line;
    std::getline(namesFile, line);
    while (std::getline(namesFile, line)) {
        const auto f = SplitCsv(line);
        ASSERT_GE(f.size(), 7u) << line;
        names[{f[0], f[1], f[2], std::stoi(f[3])}].emplace_back(IsoDate(f[5]), IsoDate(f[6]), f[4]);
    }

    auto rows = GzipLines(dir + "/official-rates-1992-07-01_2023-12-30.csv.gz");
    ASSERT_EQ(rows.size(), 206377u);
    // From 2024 eight currencies, with the names of 2023.
    const auto eight =
        GzipLines(dir + "/official-rates-2024-01-10_2026-08-22_eight-currencies.csv.gz");
    ASSERT_EQ(eight.size(), 5200u);
    rows.insert(rows.end(), eight.begin() + 1, eight.end());
    const Date partialFrom{2024, 1, 10};
    // Each currency's published rates so far: the one a table shows must be
    // its latest, of the same rouble.
    struct Published {
        Date date;
        int nominal;
        std::string rate;
    };
    std::map<std::string, Published> latest;  // by letter code or name
    std::optional<RatesTable> table;
    int compared = 0;
    auto checkCarried = [&](const RatesTable& t) {
        for (const auto& c : t.Currencies) {
            const std::string key = c.CharCode.empty() ? c.Name : c.CharCode;
            const auto it = latest.find(key);
            ASSERT_NE(it, latest.end()) << t.From.Text() << " " << key;
            EXPECT_EQ(c.Rate, it->second.rate) << t.From.Text() << " " << key;
            EXPECT_EQ(c.Nominal, it->second.nominal) << t.From.Text() << " " << key;
            EXPECT_LE(DaysBetween(it->second.date, t.From), 92) << t.From.Text() << " " << key;
            const Date newRouble{1998, 1, 1};
            EXPECT_FALSE(it->second.date < newRouble && !(t.From < newRouble))
                << t.From.Text() << " " << key;
        }
    };
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const auto f = SplitCsv(rows[i]);
        ASSERT_EQ(f.size(), 6u) << rows[i];
        const Date date = IsoDate(f[0]);
        if (!table || table->From != date) {
            if (table)
                checkCarried(*table);
            table = History().RatesOn(date);
            ASSERT_TRUE(table);
            ASSERT_EQ(table->From, date);
            EXPECT_EQ(table->Partial, !(date < partialFrom)) << date.Text();
        }
        const int nominal = std::stoi(f[2]);
        std::string name;
        for (const auto& [first, last, n] : names[{f[4], f[1], f[5], nominal}])
            if ((!(date < first) && !(last < date)) || !(date < partialFrom))
                name = n;
        ASSERT_FALSE(name.empty()) << rows[i];
        std::string rate = f[3];
        std::replace(rate.begin(), rate.end(), '.', ',');

        const std::string key = f[1].empty() ? name : f[1];
        const Currency* row = Row(*table, key);
        ASSERT_NE(row, nullptr) << rows[i];
        EXPECT_EQ(row->Rate, rate) << rows[i];
        EXPECT_EQ(row->Nominal, nominal) << rows[i];
        EXPECT_EQ(row->NumCode, f[5]) << rows[i];
        EXPECT_EQ(row->Name, name) << rows[i];
        latest[key] = Published{date, nominal, rate};
        ++compared;
    }
    checkCarried(*table);
    EXPECT_EQ(compared, 206376 + 5199);
}

}  // namespace
}  // namespace rates
