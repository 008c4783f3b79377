#include "tools/rates-server/RatesData.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
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
        std::string text;
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
        {"[07.12.2000]\n840 | USD | 1 | X\x01Y | 1,0\n", "f:2:"},  // control character
        {std::string("[07.12.2000]\n840 | USD | 1 | X") + '\0' + "Y | 1,0\n", "f:2:"},
        {"[07.12.2000]\n840 | USD | 1 | X | 1,0\n840 | USD | 1\n", "f:3:"},
        {"[07.12.2000]\nUSD | 27,85\n", "f:2:"},  // no full line of USD yet
        {"[07.12.2000]\n840 | | 1 | X | 1,0\n[08.12.2000]\nUSD | 27,85\n", "f:4:"},
        {"[07.12.2000]\n840|USD|1|X|1,0\n[08.12.2000]\nUSD | 27.85\n", "f:4:"},
        {"[07.12.2000]\n840|USD|1|X|1,0\n[08.12.2000]\nUSD | \n", "f:4:"},
        {"[07.12.2000]\n840|USD|1|X|1,0\nUSD | -\n", "f:3:"},                // a rate and an end
        {"[07.12.2000]\n840|USD|1|X|1,0\n[08.12.2000]\nUSD | -\n", "f:4:"},  // only an end
        {"[07.12.2000]\n840|USD|1|X|1,0|2\n", "f:2:"},
        {"[07.12.2000]\n840 | USD | 1 | X | 1,0000000000000000000000001\n", "f:2:"},
        // Names the window would misread: another currency's or a marker phrase.
        {"[07.12.2000]\n826 | GBP | 1 | Доллар США и фунт | 1,0\n", "f:2:"},
        {"[07.12.2000]\n036 | AUD | 1 | ЕВРОдоллар | 1,0\n", "f:2:"},
        {"[07.12.2000]\n | | 1 | Банк установил с утра | 1,0\n", "f:2:"},
        {"[07.12.2000]\n | | 1 | Курсы не зарегистрированы | 1,0\n", "f:2:"},
        // Its short lines would read as a date or a comment.
        {"[07.12.2000]\n | | 1 | [Старый] рубль | 1,0\n", "f:2:"},
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

// The key of each row, its nominal and rate, in the page's order.
std::string Summary(const RatesData& data, const Date& date) {
    const auto t = data.RatesOn(date);
    if (!t)
        return "none";
    std::string s = t->From.Text() + ":";
    for (const auto& c : t->Currencies)
        s += " " +
             (!c.CharCode.empty()  ? c.CharCode
              : !c.NumCode.empty() ? c.NumCode
                                   : c.Name) +
             " " + std::to_string(c.Nominal) + " " + c.Rate + ";";
    return s;
}

TEST(RatesData, CompactLinesCarryRatesUntilTheCurrencysLastOrAnEnd) {
    const auto data = RatesData::Parse(
        "[01.12.2000]\n"
        "840 | USD | 1 | Доллар США | 27,8100\n"
        "246 | FIM | 10 | Финляндских марок | 40,9200\n"
        " | | 100 | Украинских карбованецев | 3,7700\n"  // no codes: known by its name
        "051 |  | 1 | Армянский драм | 12,5900\n"        // known by its number code
        "[05.12.2000]\n"
        "USD | 27,8300\n"
        "051 | 12,6000\n"
        "[06.12.2000]\n"
        "USD | 27,8400\n"
        "FIM | -\n"
        "Украинских карбованецев | 3,8000\n"
        "[07.12.2000]\n"
        "840 | USD | 10 | Долларов США | 278,5000\n"
        "[08.12.2000]\n"
        "USD | 278,7000\n"
        "FIM | 42,0000\n"
        "[12.12.2000]\n"
        "USD | 279,0000\n");
    struct Case {
        Date asked;
        const char* shown;
    };
    const Case cases[] = {
        {{2000, 11, 30}, "none"},
        {{2000, 12, 1},
         "01.12.2000: 051 1 12,5900; USD 1 27,8100; Украинских карбованецев 100 3,7700;"
         " FIM 10 40,9200;"},
        {{2000, 12, 4},
         "01.12.2000: 051 1 12,5900; USD 1 27,8100; Украинских карбованецев 100 3,7700;"
         " FIM 10 40,9200;"},
        {{2000, 12, 5},
         "05.12.2000: 051 1 12,6000; USD 1 27,8300; Украинских карбованецев 100 3,7700;"
         " FIM 10 40,9200;"},
        {{2000, 12, 6}, "06.12.2000: USD 1 27,8400; Украинских карбованецев 100 3,8000;"},
        {{2000, 12, 7}, "07.12.2000: USD 10 278,5000;"},
        {{2000, 12, 8}, "08.12.2000: USD 10 278,7000; FIM 10 42,0000;"},
        {{2000, 12, 12}, "12.12.2000: USD 10 279,0000;"},
        {{2030, 1, 1}, "12.12.2000: USD 10 279,0000;"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Summary(data, c.asked), c.shown) << c.asked.Text();
    const auto t = data.RatesOn({2000, 12, 8});
    EXPECT_EQ(t->Currencies[0].Name, "Долларов США");
    EXPECT_EQ(t->Currencies[1].Name, "Финляндских марок");
    const auto noCodes = data.RatesOn({2000, 12, 1})->Currencies[2];
    EXPECT_EQ(noCodes.NumCode, "");
    EXPECT_EQ(noCodes.CharCode, "");
}

TEST(RatesData, DatesInAnyOrderAndShortLinesTakeTheFileOrdersFullLine) {
    const auto data = RatesData::Parse(
        "[05.12.2000]\n840 | USD | 1 | Доллар США | 2,0\n"
        "[01.12.2000]\nUSD | 1,0\n"
        "[03.12.2000]\n840 | USD | 10 | Долларов США | 30,0\n"
        "[04.12.2000]\nUSD | -\n978 | EUR | 1 | Евро | 25,0\n");
    EXPECT_EQ(Summary(data, {2000, 12, 1}), "01.12.2000: USD 1 1,0;");
    EXPECT_EQ(Summary(data, {2000, 12, 3}), "03.12.2000: USD 10 30,0;");
    EXPECT_EQ(Summary(data, {2000, 12, 4}), "04.12.2000: EUR 1 25,0;");
    EXPECT_EQ(Summary(data, {2000, 12, 5}), "05.12.2000: USD 1 2,0;");
}

TEST(RatesData, RowsInAlphabeticalOrderOfNames) {
    const auto data = RatesData::Parse(
        "[01.12.2000]\n"
        "001 | AAA | 1 | Жёлтый | 1,0\n"
        "002 | BBB | 1 | ёж | 1,0\n"
        "003 | CCC | 1 | Ель | 1,0\n"
        "004 | DDD | 1 | австралийский | 1,0\n"
        "005 | EEE | 1 | Я | 1,0\n"
        "006 | FFF | 1 | Ежи | 1,0\n");
    std::string order;
    const auto t = data.RatesOn({2000, 12, 1});
    for (const auto& c : t->Currencies)
        order += c.CharCode + " ";
    // Case ignored, Ё after Е: австралийский, Ежи, Ель, ёж, Жёлтый, Я.
    EXPECT_EQ(order, "DDD FFF CCC BBB AAA EEE ");
}

TEST(RatesData, AnOverlongLineIsQuotedShort) {
    try {
        RatesData::Parse("[07.12.2000]\n840 | USD | 1 | X | " + std::string(1 << 20, '9') + "\n",
                         "f");
        FAIL();
    } catch (const DataError& e) {
        EXPECT_LT(std::strlen(e.what()), 200u) << e.what();
        EXPECT_EQ(std::string(e.what()).rfind("f:2: the rate", 0), 0u) << e.what();
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

// gzip data of text repeated count times.
std::string Gzip(std::string_view text, int count = 1) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_RLE), Z_OK);
    std::string out;
    char buf[1 << 16];
    for (int i = 0; i <= count; ++i) {
        const bool last = i == count;
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
        z.avail_in = last ? 0 : static_cast<uInt>(text.size());
        int rc;
        do {
            z.next_out = reinterpret_cast<Bytef*>(buf);
            z.avail_out = sizeof buf;
            rc = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
            out.append(buf, sizeof buf - z.avail_out);
        } while (z.avail_out == 0 || (last && rc != Z_STREAM_END));
    }
    deflateEnd(&z);
    return out;
}

class RatesFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/kurs-rates-data-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        FDir = dir;
    }
    void TearDown() override { std::filesystem::remove_all(FDir); }
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string path = FDir + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    // The DataError of loading the file; "" when it loads.
    static std::string LoadError(const std::string& path) {
        try {
            RatesData::Load(path);
            return "";
        } catch (const DataError& e) {
            return e.what();
        }
    }
    std::string FDir;
};

TEST_F(RatesFile, GzipFilesReadAsTheirText) {
    const std::string whole = Gzip(kSmall);
    const std::string half(kSmall, std::strlen(kSmall) / 2);
    const std::string parts = Gzip(half) + Gzip(kSmall + half.size());  // gzip allows this
    for (const auto& bytes : {whole, parts}) {
        const auto data = RatesData::Load(Write("rates.txt.gz", bytes));
        EXPECT_EQ(Summary(data, {2000, 12, 1}), "01.12.2000: USD 1 27,8100; FIM 10 40,9200;");
        EXPECT_EQ(Summary(data, {2000, 12, 5}), "05.12.2000: USD 1 27,8300;");
    }
    EXPECT_EQ(RatesData::ReadText(Write("a.gz", parts)), kSmall);
}

// Files are read in pieces; lines run across them.
TEST_F(RatesFile, TheHistoryMeansTheSamePlainAndCompressed) {
    const auto packed = RatesData::Load(KURS_RATES_HISTORY);
    const auto plain =
        RatesData::Load(Write("history.txt", RatesData::ReadText(KURS_RATES_HISTORY)));
    EXPECT_EQ(plain.First(), packed.First());
    EXPECT_EQ(plain.Last(), packed.Last());
    for (const Date d : {Date{1992, 7, 1}, Date{1995, 5, 3}, Date{2000, 12, 7}, Date{2023, 12, 30}})
        EXPECT_EQ(Summary(plain, d), Summary(packed, d));
}

TEST_F(RatesFile, DamagedFilesAreErrorsNamingTheFile) {
    const std::string gz = Gzip(kSmall);
    std::string flipped = gz;
    flipped[gz.size() / 2] ^= 0x55;
    struct Case {
        const char* why;
        std::string bytes;
        const char* says;
    };
    const Case cases[] = {
        {"cut short", gz.substr(0, gz.size() - 9), "cut short"},
        {"only the magic bytes", "\x1f\x8b", "cut short"},
        {"a changed byte", flipped, "damaged"},
        {"bytes after the end", gz + "junk", "damaged"},
        {"too long unpacked", Gzip(std::string(1 << 20, '#'), 65), "more than 64 MB"},
        {"empty", "", "holds no rates"},
        {"a bad line", Gzip("[07.12.2000]\n840 | USD\n"), ":2: no full line of 840"},
    };
    for (const auto& c : cases) {
        const std::string path = Write("rates.gz", c.bytes);
        const std::string error = LoadError(path);
        EXPECT_NE(error.find(path), std::string::npos) << c.why << ": " << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.why << ": " << error;
    }
    EXPECT_NE(LoadError(FDir).find("cannot read " + FDir), std::string::npos);  // a folder
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
