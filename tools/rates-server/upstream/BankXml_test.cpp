#include "tools/rates-server/upstream/BankXml.h"

#include <gtest/gtest.h>

#include <regex>

#include "runtime/String.h"
#include "tools/rates-server/upstream/tests/BankStub.h"

namespace rates {
namespace {

using test::TestFile;

std::string Replace(std::string s, std::string_view from, std::string_view to) {
    const auto at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        s.replace(at, from.size(), to);
    return s;
}

// The letter codes of a document in order, found without the reader.
std::vector<std::string> CodesIn(const std::string& doc) {
    std::vector<std::string> codes;
    const std::regex code("<CharCode>([A-Z]+)</CharCode>");
    for (auto it = std::sregex_iterator(doc.begin(), doc.end(), code); it != std::sregex_iterator();
         ++it)
        codes.push_back((*it)[1]);
    return codes;
}

std::vector<std::string> CodesOf(const RatesTable& t) {
    std::vector<std::string> codes;
    for (const auto& c : t.Currencies)
        codes.push_back(c.CharCode);
    return codes;
}

const Currency* Find(const RatesTable& t, std::string_view code) {
    for (const auto& c : t.Currencies)
        if (c.CharCode == code)
            return &c;
    return nullptr;
}

std::string Doc(std::string_view rows, std::string_view date = "18.03.2026") {
    return "<?xml version=\"1.0\" encoding=\"windows-1251\"?><ValCurs Date=\"" + std::string(date) +
           "\" name=\"Foreign Currency Market\">" + std::string(rows) + "</ValCurs>";
}

std::string Row(std::string_view code, std::string_view nominal, std::string_view value,
                std::string_view name = "Dollar") {
    return "<Valute ID=\"R1\"><NumCode>840</NumCode><CharCode>" + std::string(code) +
           "</CharCode><Nominal>" + std::string(nominal) + "</Nominal><Name>" + std::string(name) +
           "</Name><Value>" + std::string(value) + "</Value></Valute>";
}

TEST(BankXml, TodaysDocumentMapsEveryFieldInDocumentOrder) {
    const auto bytes = TestFile("XML_daily_2026-03-18.xml");
    const auto r = ReadBankXml(bytes);
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Table.From, (Date{2026, 3, 18}));
    EXPECT_EQ(CodesOf(r.Table), CodesIn(bytes));
    EXPECT_EQ(r.Table.Currencies.size(), 54u);

    struct Expected {
        const char* Code;
        const char* Num;
        int Nominal;
        const char* Name;
        const char* Rate;
    };
    // Names as the document writes them (EUR stays "Евро"); values with
    // their comma; VunitRate is not a rate of the page.
    for (const Expected& e : {
             Expected{"AUD", "036", 1, "Австралийский доллар", "57,9433"},
             Expected{"DZD", "012", 100, "Алжирских динаров", "61,9809"},
             Expected{"USD", "840", 1, "Доллар США", "81,9103"},
             Expected{"EUR", "978", 1, "Евро", "93,1557"},
             Expected{"XDR", "960", 1, "СДР (специальные права заимствования)", "111,2866"},
             Expected{"MMK", "104", 1000, "Кьятов", "39,0049"},
         }) {
        const auto* c = Find(r.Table, e.Code);
        ASSERT_NE(c, nullptr) << e.Code;
        EXPECT_EQ(c->NumCode, e.Num);
        EXPECT_EQ(c->Nominal, e.Nominal) << e.Code;
        EXPECT_EQ(c->Name, e.Name);
        EXPECT_EQ(c->Rate, e.Rate);
    }
}

TEST(BankXml, EveryEncodingAndWhitespaceFormReadsTheSame) {
    const auto today = TestFile("XML_daily_2026-03-18.xml");
    const auto expected = ReadBankXml(today);
    ASSERT_TRUE(expected.Ok);
    const auto utf8 = Cp1251ToUtf8(today);  // still declares windows-1251
    struct Case {
        const char* What;
        std::string Bytes;
    };
    for (const auto& c : {
             Case{"re-saved as UTF-8, declaring windows-1251", utf8},
             Case{"UTF-8 with a byte order mark", "\xEF\xBB\xBF" + utf8},
             Case{"UTF-8, declared", Replace(utf8, "windows-1251", "UTF-8")},
             Case{"windows-1251 without a declaration",
                  Replace(today, "<?xml version=\"1.0\" encoding=\"windows-1251\"?>", "")},
             Case{"encoding name in capitals", Replace(today, "windows-1251", "WINDOWS-1251")},
             Case{"a space before ?> and line breaks between elements",
                  std::regex_replace(Replace(today, "\"?>", "\" ?>\r\n"), std::regex("><"),
                                     ">\n\t <")},
         }) {
        const auto r = ReadBankXml(c.Bytes);
        ASSERT_TRUE(r.Ok) << c.What << ": " << r.Error;
        EXPECT_EQ(r.Table.From, expected.Table.From) << c.What;
        ASSERT_EQ(r.Table.Currencies.size(), expected.Table.Currencies.size()) << c.What;
        for (std::size_t i = 0; i < r.Table.Currencies.size(); ++i) {
            const auto& a = r.Table.Currencies[i];
            const auto& b = expected.Table.Currencies[i];
            EXPECT_TRUE(a.CharCode == b.CharCode && a.NumCode == b.NumCode &&
                        a.Nominal == b.Nominal && a.Name == b.Name && a.Rate == b.Rate)
                << c.What << ", row " << i;
        }
    }
}

TEST(BankXml, RecordedOlderDocuments) {
    // Pretty-printed, with a space before "?>".
    const auto pretty = ReadBankXml(TestFile("XML_daily_2016-08-23_reformatted.xml"));
    ASSERT_TRUE(pretty.Ok) << pretty.Error;
    EXPECT_EQ(pretty.Table.From, (Date{2016, 8, 23}));
    EXPECT_EQ(pretty.Table.Currencies.size(), 33u);
    ASSERT_NE(Find(pretty.Table, "EUR"), nullptr);
    EXPECT_EQ(Find(pretty.Table, "EUR")->Name, "Евро");
    EXPECT_EQ(Find(pretty.Table, "USD")->Rate, "64,2078");

    // Re-saved as UTF-8 by whoever stored it.
    const auto old = ReadBankXml(TestFile("XML_daily_2002-09-21_utf8_resaved.xml"));
    ASSERT_TRUE(old.Ok) << old.Error;
    EXPECT_EQ(old.Table.From, (Date{2002, 9, 21}));
    EXPECT_EQ(old.Table.Currencies.size(), 17u);
    EXPECT_EQ(old.Table.Currencies.front().Name, "Австралийский доллар");
    EXPECT_EQ(Find(old.Table, "USD")->Rate, "31,6379");
    EXPECT_EQ(Find(old.Table, "DEM"), nullptr);
}

TEST(BankXml, FieldTextIsTrimmedAndNamesStayOnOneLine) {
    const auto r = ReadBankXml(
        Doc("<Valute>\n <Name>\n  Special\r\n\tdrawing  rights &amp; more </Name>\n"
            " <Value> 111,2866 </Value><CharCode> XDR </CharCode>\n"
            " <Nominal>\n1\n</Nominal><VunitRate>1,1E-05</VunitRate><Extra><b>x</b></Extra>"
            "</Valute>"
            "<Comment>ignored</Comment>",
            "1.3.2026"));
    ASSERT_TRUE(r.Ok) << r.Error;
    EXPECT_EQ(r.Table.From, (Date{2026, 3, 1}));
    ASSERT_EQ(r.Table.Currencies.size(), 1u);
    const auto& c = r.Table.Currencies[0];
    EXPECT_EQ(c.Name, "Special drawing rights & more");
    EXPECT_EQ(c.CharCode, "XDR");
    EXPECT_EQ(c.NumCode, "");
    EXPECT_EQ(c.Nominal, 1);
    EXPECT_EQ(c.Rate, "111,2866");
}

TEST(BankXml, TheLargestPlausibleFiguresAndEightLevelsAreRead) {
    const auto r =
        ReadBankXml(Doc(Row("USD", "1000000", "9999999,9999") +
                        Replace(Replace(Row("EUR", "0010", "0,1"), "R1", "R2"), "<Name>",
                                "<Extra><a><b><c><d><e></e></d></c></b></a></Extra><Name>")));
    ASSERT_TRUE(r.Ok) << r.Error;
    ASSERT_EQ(r.Table.Currencies.size(), 2u);
    EXPECT_EQ(r.Table.Currencies[0].Nominal, 1000000);
    EXPECT_EQ(r.Table.Currencies[0].Rate, "9999999,9999");
    EXPECT_EQ(r.Table.Currencies[1].Nominal, 10);
}

TEST(BankXml, BadDocumentsAreRefusedWithTheReason) {
    const auto today = TestFile("XML_daily_2026-03-18.xml");
    const auto good = Row("USD", "1", "79,8012");
    struct Case {
        std::string Bytes;
        const char* Why;
    };
    for (const auto& c : {
             Case{TestFile("XML_daily_error_in_parameters.xml"),
                  "the service answered 'Error in parameters'"},
             Case{"<!DOCTYPE html>\n<html><head><title>One moment</title></head><body>"
                  "<p>Checking your browser</body></html>",
                  "an HTML page"},
             Case{"<html><body>Please wait</body></html>", "an HTML page"},
             Case{"", "an empty answer"},
             Case{" \r\n", "an empty answer"},
             Case{"Error in parameters", "not a well-formed XML document"},
             Case{today.substr(0, today.size() / 2), "not a well-formed XML document"},
             Case{Replace(today, "<Value>81,9103",
                          std::string("<Value>81,9\0"
                                      "103",
                                      15)),
                  "not a well-formed XML document"},
             Case{Replace(today, "encoding=\"windows-1251\"", "encoding=\"koi8-u\""),
                  "not a well-formed XML document"},
             Case{"<?xml version=\"1.0\"?><!DOCTYPE ValCurs [<!ENTITY a \"aaaaaaaaaa\">"
                  "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]><ValCurs Date=\"18.03.2026\">"
                  "<Valute><CharCode>USD</CharCode><Nominal>1</Nominal><Name>&b;</Name>"
                  "<Value>1,0</Value></Valute></ValCurs>",
                  "a document type declaration"},
             Case{"<Valuta name=\"Foreign Currency Market Lib\"/>", "<Valuta>, not ValCurs"},
             Case{Doc(good, ""), "ValCurs with a bad Date ''"},
             Case{"<ValCurs name=\"x\">" + good + "</ValCurs>", "ValCurs without a Date"},
             Case{Doc(good, "32.01.2026"), "bad Date '32.01.2026'"},
             Case{Doc(good, "2026-03-18"), "bad Date '2026-03-18'"},
             Case{Doc(""), "no rates in the document of 18.03.2026"},
             Case{Doc(good + "<Valute><Nominal>1</Nominal><Value>1,0</Value></Valute>"),
                  "row 2: no CharCode"},
             Case{Doc(Row("U<S", "1", "1,0")), "not a well-formed"},
             Case{Doc(Row("us d", "1", "1,0")), "row 1: bad CharCode 'us d'"},
             Case{Doc(Row("USD", "0", "1,0")), "row 1 (USD): bad Nominal '0'"},
             Case{Doc(Row("USD", "-1", "1,0")), "bad Nominal '-1'"},
             Case{Doc(Row("USD", "1.5", "1,0")), "bad Nominal '1.5'"},
             Case{Doc(Row("USD", "99999999999", "1,0")), "bad Nominal '99999999999'"},
             Case{Doc(Row("USD", "", "1,0")), "row 1 (USD): no Nominal"},
             Case{Doc(Row("USD", "1", "79.8012")), "bad Value '79.8012'"},
             Case{Doc(Row("USD", "1", "79,")), "bad Value '79,'"},
             Case{Doc(Row("USD", "1", ",5")), "bad Value ',5'"},
             Case{Doc(Row("USD", "1", "7,9,8")), "bad Value '7,9,8'"},
             Case{Doc(Row("USD", "1", "5,88139E-05")), "bad Value '5,88139E-05'"},
             Case{Doc(Row("USD", "1", "1 000,5")), "bad Value '1 000,5'"},
             Case{Doc(Row("USD", "1", "")), "row 1 (USD): no Value"},
             Case{Doc("<Valute><CharCode>USD</CharCode><CharCode>EUR</CharCode></Valute>"),
                  "two <CharCode> in one Valute"},
             Case{Doc(Row("USD", "1", "<b>1,0</b>")), "markup inside <Value>"},
             Case{Doc(Row("USD", "1", std::string(2000, '1') + ",0")), "<Value> too long"},
             Case{"<ValCurs>" + std::string(kMaxBankXmlSize, ' ') + "</ValCurs>",
                  "larger than 2097152 bytes"},
             // Figures no rate of the bank ever had.
             Case{Doc(Row("USD", "1", "999999999999999999999,9999")),
                  "bad Value '999999999999999999999,9999'"},
             Case{Doc(Row("USD", "1", "12345678,5")), "bad Value '12345678,5'"},
             Case{Doc(Row("USD", "1", "79,80125")), "bad Value '79,80125'"},
             Case{Doc(Row("USD", "2", "1,0")), "bad Nominal '2'"},
             Case{Doc(Row("USD", "110", "1,0")), "bad Nominal '110'"},
             Case{Doc(Row("USD", "10000000", "1,0")), "bad Nominal '10000000'"},
             Case{Doc(Row("USD", "1", "1,0") + Replace(Row("USD", "1", "2,0"), "R1", "R2")),
                  "row 2 (USD): USD is listed twice"},
             Case{Doc(Row("USD", "1", "1,0") + Row("EUR", "1", "2,0")),
                  "row 2 (EUR): the ID 'R1' is listed twice"},
             Case{Doc("<Valute><a><b><c><d><e><f><g></g></f></e></d></c></b></a></Valute>"),
                  "elements nested deeper than 8 levels"},
         }) {
        const auto r = ReadBankXml(c.Bytes);
        EXPECT_FALSE(r.Ok) << c.Why;
        EXPECT_NE(r.Error.find(c.Why), std::string::npos)
            << "expected '" << c.Why << "' in '" << r.Error << "'";
        for (char ch : r.Error)
            EXPECT_TRUE(ch >= 0x20 && ch < 0x7F) << r.Error;
    }
}

}  // namespace
}  // namespace rates
