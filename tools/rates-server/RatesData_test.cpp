#include "tools/rates-server/RatesData.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace rates {
namespace {

TEST(ParseDate, AcceptsTheThreeSeparatorsAndRealDatesOnly) {
    struct Case {
        const char* text;
        bool valid;
        Date date;
    };
    const Case cases[] = {
        {"07.12.2000", true, {2000, 12, 7}},
        {"07/12/2000", true, {2000, 12, 7}},
        {"07-12-2000", true, {2000, 12, 7}},
        {"7.1.2001", true, {2001, 1, 7}},
        {"29.02.2000", true, {2000, 2, 29}},  // 2000 is a leap year
        {"29.02.1900", false, {}},            // 1900 is not
        {"31.04.2000", false, {}},
        {"00.12.2000", false, {}},
        {"07.13.2000", false, {}},
        {"07.12/2000", false, {}},  // mixed separators
        {"07.12.00", false, {}},    // two-digit year
        {"007.12.2000", false, {}},
        {" 07.12.2000", false, {}},
        {"07.12.2000 ", false, {}},
        {"07..2000", false, {}},
        {"07.12.2000.1", false, {}},
        {"", false, {}},
        {"abc", false, {}},
    };
    for (const auto& c : cases) {
        const auto d = ParseDate(c.text);
        EXPECT_EQ(d.has_value(), c.valid) << c.text;
        if (d && c.valid) {
            EXPECT_EQ(*d, c.date) << c.text;
        }
    }
    EXPECT_EQ((Date{2000, 12, 7}.Text()), "07.12.2000");
}

const char* const kSmall =
    "# comment\n"
    "[05.12.2000]\r\n"
    "840 | USD | 1 | Доллар США | 27,8300\n"
    "\n"
    "[01.12.2000]\n"
    "  840|USD|1|Доллар США|27,8100  \n"
    "246 | FIM | 10 | Финляндских марок | 40,9200\n";

TEST(RatesData, ParsesTablesInDateOrderAndTrimsFields) {
    const auto data = RatesData::Parse(kSmall);
    EXPECT_EQ(data.First(), (Date{2000, 12, 1}));
    EXPECT_EQ(data.Last(), (Date{2000, 12, 5}));
    const auto first = data.RatesOn({2000, 12, 1});
    ASSERT_TRUE(first);
    ASSERT_EQ(first->Currencies.size(), 2u);
    const auto& fim = first->Currencies[1];
    EXPECT_EQ(fim.NumCode, "246");
    EXPECT_EQ(fim.CharCode, "FIM");
    EXPECT_EQ(fim.Nominal, 10);
    EXPECT_EQ(fim.Name, "Финляндских марок");
    EXPECT_EQ(fim.Rate, "40,9200");
    EXPECT_EQ(first->Currencies[0].Rate, "27,8100");
}

TEST(RatesData, RatesOnPicksTheLatestTableNotAfterTheDate) {
    const auto data = RatesData::Parse(kSmall);
    EXPECT_FALSE(data.RatesOn({2000, 11, 30}));
    EXPECT_EQ(data.RatesOn({2000, 12, 1})->From, (Date{2000, 12, 1}));
    EXPECT_EQ(data.RatesOn({2000, 12, 4})->From, (Date{2000, 12, 1}));
    EXPECT_EQ(data.RatesOn({2000, 12, 5})->From, (Date{2000, 12, 5}));
    EXPECT_EQ(data.RatesOn({2030, 1, 1})->From, (Date{2000, 12, 5}));
}

TEST(RatesData, RejectsBadLinesNamingTheLine) {
    struct Case {
        const char* text;
        const char* where;
    };
    const Case cases[] = {
        {"840 | USD | 1 | Доллар США | 27,8500\n", "f:1:"},  // no date yet
        {"[07.12.2000\n", "f:1:"},
        {"[31.02.2000]\n840|USD|1|X|1,0\n", "f:1:"},
        {"[07.12.2000]\n840 | USD | 1 | Доллар США\n", "f:2:"},  // four fields
        {"[07.12.2000]\n84 | USD | 1 | X | 1,0\n", "f:2:"},
        {"[07.12.2000]\n840 | usd | 1 | X | 1,0\n", "f:2:"},
        {"[07.12.2000]\n840 | USD | 0 | X | 1,0\n", "f:2:"},
        {"[07.12.2000]\n840 | USD | -1 | X | 1,0\n", "f:2:"},
        {"[07.12.2000]\n840 | USD | 1 |  | 1,0\n", "f:2:"},
        {"[07.12.2000]\n840 | USD | 1 | <b>X | 1,0\n", "f:2:"},  // would break the page
        {"[07.12.2000]\n840 | USD | 1 | X | 27.85\n", "f:2:"},   // decimal point
        {"[07.12.2000]\n840 | USD | 1 | X | 27\n", "f:2:"},
        {"[07.12.2000]\n840 | USD | 1 | 日本 | 1,0\n", "f:2:"},        // not in cp1251
        {"[07.12.2000]\n840 | USD | 1 | \xD0 | 1,0\n", "f:2:"},        // broken UTF-8
        {"[07.12.2000]\n840|USD|1|X|1,0\n840|USD|1|Y|2,0\n", "f:3:"},  // USD twice
        {"[07.12.2000]\n840|USD|1|X|1,0\n[07.12.2000]\n", "f:3:"},     // date twice
        {"[07.12.2000]\n[08.12.2000]\n840|USD|1|X|1,0\n", "f:2:"},     // empty table
        {"[07.12.2000]\n", "f:1:"},
        {"# nothing\n", "f:"},
    };
    for (const auto& c : cases) {
        try {
            RatesData::Parse(c.text, "f");
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const DataError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(c.where, 0), 0u) << e.what();
        }
    }
}

TEST(RatesData, LoadOfAMissingFileSaysWhichFile) {
    try {
        RatesData::Load("/nonexistent/rates.txt");
        FAIL();
    } catch (const DataError& e) {
        EXPECT_NE(std::string(e.what()).find("/nonexistent/rates.txt"), std::string::npos);
    }
}

TEST(RatesData, BundledSampleHasTheFourCurrenciesOf07122000AndSaysItIsIllustrative) {
    const auto data = RatesData::Load(KURS_RATES_SAMPLE_DATA);
    const auto t = data.RatesOn({2000, 12, 7});
    ASSERT_TRUE(t);
    EXPECT_EQ(t->From, (Date{2000, 12, 7}));
    auto nominalOf = [&](const std::string& name) {
        for (const auto& c : t->Currencies)
            if (c.Name == name)
                return c.Nominal;
        return 0;
    };
    EXPECT_EQ(nominalOf("Доллар США"), 1);
    EXPECT_EQ(nominalOf("ЕВРО"), 1);
    EXPECT_EQ(nominalOf("Немецкая марка"), 1);
    EXPECT_EQ(nominalOf("Финляндских марок"), 10);
    EXPECT_GT(t->Currencies.size(), 4u);

    std::ifstream in(KURS_RATES_SAMPLE_DATA);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("ILLUSTRATIVE SAMPLE FIGURES, NOT OFFICIAL RATES"),
              std::string::npos);
}

}  // namespace
}  // namespace rates
