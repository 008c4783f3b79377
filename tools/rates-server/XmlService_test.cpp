// The bank's XML service as the rates server answers it from the bundled
// history: the real documents' currencies, ids, codes and figures in their
// order, the forms of the date, and the error document for what it cannot
// read.

#include "tools/rates-server/XmlService.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>

#include "testing/ParsedResponse.h"
#include "tools/rates-server/RatesService.h"
#include "tools/rates-server/XmlDocuments.h"
#include "tools/rates-server/upstream/BankXml.h"

namespace rates {
namespace {

using test::ParseResponse;

std::string BankDocument(const std::string& name) {
    std::ifstream in(std::string(KURS_BANK_XML_DIR) + "/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

RatesService& History() {
    static RatesService service(RatesData::Load(KURS_RATES_HISTORY));
    return service;
}

test::ParsedResponse Ask(const std::string& target, const std::string& method = "GET") {
    auto answer = History().Answer(method + " " + target + " HTTP/1.0\r\nHost: x\r\n\r\n",
                                   [](std::string) { ADD_FAILURE() << "answered later"; });
    return ParseResponse(answer.value_or(""));
}

// id, codes, nominal and value of each row, in order.
std::vector<std::string> Rows(const RatesTable& t) {
    std::vector<std::string> rows;
    for (const auto& c : t.Currencies)
        rows.push_back(c.Id + " " + c.NumCode + " " + c.CharCode + " " + std::to_string(c.Nominal) +
                       " " + c.Rate);
    return rows;
}

TEST(XmlService, TheHistoryAnswersTheBanksOwnDocumentsRowForRow) {
    for (const auto& [file, date] :
         {std::pair{"XML_daily_2002-09-21_utf8_resaved.xml", "21/09/2002"},
          std::pair{"XML_daily_2016-08-23_reformatted.xml", "23/08/2016"}}) {
        const auto bank = ReadBankXml(BankDocument(file));
        ASSERT_TRUE(bank.Ok) << file;
        const auto r = Ask("/scripts/XML_daily.asp?date_req=" + std::string(date));
        EXPECT_EQ(r.Status, 200);
        EXPECT_EQ(r.Header("Content-Type"), "application/xml; charset=windows-1251");
        const auto ours = ReadBankXml(r.Body);
        ASSERT_TRUE(ours.Ok) << ours.Error;
        EXPECT_EQ(ours.Table.From, bank.Table.From);
        EXPECT_EQ(Rows(ours.Table), Rows(bank.Table)) << file;
    }
}

TEST(XmlService, ThePartialYearsHoldTheirCurrenciesInTheBanksOrder) {
    const auto bank = ReadBankXml(BankDocument("XML_daily_2026-03-18.xml"));
    ASSERT_TRUE(bank.Ok);
    const auto r = Ask("/scripts/XML_daily.asp?date_req=18/03/2026");
    const auto ours = ReadBankXml(r.Body);
    ASSERT_TRUE(ours.Ok) << ours.Error;
    std::vector<std::string> expected;
    for (const auto& row : Rows(bank.Table))
        for (const auto& c : ours.Table.Currencies)
            if (row.find(" " + c.CharCode + " ") != std::string::npos)
                expected.push_back(row);
    EXPECT_EQ(expected.size(), 8u);
    EXPECT_EQ(Rows(ours.Table), expected);
    // Replaceable by the bank's full table; the full history's are settled.
    EXPECT_EQ(r.Header("Cache-Control"), "public, max-age=86400");
    const auto settled = Ask("/scripts/XML_daily.asp?date_req=02/11/2023");
    EXPECT_EQ(settled.Header("Cache-Control"), "public, max-age=31536000, immutable");
    EXPECT_FALSE(settled.Header("ETag").empty());
    EXPECT_EQ(Ask("/scripts/XML_daily.asp?date_req=99/99/2023").Header("Cache-Control"),
              "no-store");
}

TEST(XmlService, UnitRatesAreWrittenAsTheBankWritesThem) {
    const auto doc = BankDocument("XML_daily_2026-03-18.xml");
    const std::regex row(
        "<Nominal>([0-9]+)</Nominal><Name>[^<]*</Name><Value>([^<]+)</Value>"
        "<VunitRate>([^<]+)</VunitRate>");
    int rows = 0;
    for (auto it = std::sregex_iterator(doc.begin(), doc.end(), row); it != std::sregex_iterator();
         ++it, ++rows)
        EXPECT_EQ(UnitRate((*it)[2].str(), std::stoi((*it)[1].str())), (*it)[3].str());
    EXPECT_EQ(rows, 54);
}

TEST(XmlService, DatesInEveryFormAClientSendsAndEnglishNames) {
    const auto slashes = Ask("/scripts/XML_daily.asp?date_req=02/11/2023");
    EXPECT_NE(slashes.Body.find("<ValCurs Date=\"02.11.2023\" name=\"Foreign Currency Market\">"
                                "<Valute ID=\"R01010\"><NumCode>036</NumCode>"),
              std::string::npos);
    EXPECT_EQ(Ask("/scripts/XML_daily.asp?date_req=02%2F11%2F2023").Body, slashes.Body);
    EXPECT_EQ(Ask("/scripts/xml_daily.asp?DATE_REQ=2.11.2023").Body, slashes.Body);
    // A Sunday: the document of the Saturday before.
    EXPECT_NE(Ask("/scripts/XML_daily.asp?date_req=05/11/2023").Body.find("Date=\"04.11.2023\""),
              std::string::npos);
    // No date: the latest the history has.
    EXPECT_NE(Ask("/scripts/XML_daily.asp").Body.find("Date=\"22.08.2026\""), std::string::npos);

    const auto english = Ask("/scripts/XML_daily_eng.asp?date_req=02/11/2023").Body;
    EXPECT_NE(english.find("<CharCode>USD</CharCode><Nominal>1</Nominal><Name>US Dollar</Name>"),
              std::string::npos);
    const auto marks = Ask("/scripts/XML_daily_eng.asp?date_req=05/05/1999").Body;
    EXPECT_NE(marks.find("<Name>Deutsche Mark</Name>"), std::string::npos);
    EXPECT_NE(marks.find("<Name>Finnish Marka</Name>"), std::string::npos);

    // Before the first rates: an empty document; HEAD: the head alone.
    EXPECT_EQ(Ask("/scripts/XML_daily.asp?date_req=30/06/1992").Body,
              "<?xml version=\"1.0\" encoding=\"windows-1251\"?><ValCurs Date=\"30.06.1992\" "
              "name=\"Foreign Currency Market\"></ValCurs>");
    const auto head = Ask("/scripts/XML_daily.asp?date_req=02/11/2023", "HEAD");
    EXPECT_EQ(head.Status, 200);
    EXPECT_EQ(head.Body, "");
    EXPECT_EQ(head.Header("Content-Length"), std::to_string(slashes.Body.size()));
}

TEST(XmlService, OneCurrencyOverASpanHasARecordPerDateItsRateWasSet) {
    const auto r =
        Ask("/scripts/XML_dynamic.asp?date_req1=01/03/2001&date_req2=06/03/2001&VAL_NM_RQ=R01235");
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.Body,
              "<?xml version=\"1.0\" encoding=\"windows-1251\"?><ValCurs ID=\"R01235\" "
              "DateRange1=\"01.03.2001\" DateRange2=\"06.03.2001\" name=\"Foreign Currency Market "
              "Dynamic\">"
              "<Record Date=\"01.03.2001\" Id=\"R01235\"><Nominal>1</Nominal><Value>28,6200</"
              "Value><VunitRate>28,62</VunitRate></Record>"
              "<Record Date=\"02.03.2001\" Id=\"R01235\"><Nominal>1</Nominal><Value>28,6200</"
              "Value><VunitRate>28,62</VunitRate></Record>"
              "<Record Date=\"03.03.2001\" Id=\"R01235\"><Nominal>1</Nominal><Value>28,6500</"
              "Value><VunitRate>28,65</VunitRate></Record>"
              "<Record Date=\"06.03.2001\" Id=\"R01235\"><Nominal>1</Nominal><Value>28,6600</"
              "Value><VunitRate>28,66</VunitRate></Record></ValCurs>");
    // The nominal of each date: the Finnish markka's changed with 1999.
    const auto fim =
        Ask("/scripts/XML_dynamic.asp?date_req1=30/12/1998&date_req2=05/01/1999&VAL_NM_RQ=r01740")
            .Body;
    EXPECT_NE(fim.find("<Record Date=\"30.12.1998\" Id=\"R01740\"><Nominal>1</Nominal>"),
              std::string::npos);
    EXPECT_NE(fim.find("<Nominal>10</Nominal>"), std::string::npos);
    // A span without rates: an empty document.
    EXPECT_EQ(Ask("/scripts/XML_dynamic.asp?date_req1=01/01/1980&date_req2=01/01/1981&VAL_NM_RQ="
                  "R01235")
                  .Body.find("<Record"),
              std::string::npos);
}

TEST(XmlService, WhatTheServiceCannotReadGetsTheBanksErrorDocument) {
    const std::string error = BankDocument("XML_daily_error_in_parameters.xml");
    ASSERT_FALSE(error.empty());
    const std::string range = "/scripts/XML_dynamic.asp?VAL_NM_RQ=R01235&date_req1=01/01/1995";
    for (const std::string& target : std::vector<std::string>{
             "/scripts/XML_daily.asp?date_req=31.02.2024",
             "/scripts/XML_daily.asp?date_req=32/13/2023",
             "/scripts/XML_daily.asp?date_req=01/01/20245",
             "/scripts/XML_daily.asp?date_req=2023-11-02",
             "/scripts/XML_daily_eng.asp?date_req=02/11/2023&date_req=03/11/2023",
             range + "&date_req2=20/05/2022",  // 10,000 days and one
             range,
             range + "&date_req2=01/02/1995&VAL_NM_RQ=R01239",
             "/scripts/XML_dynamic.asp?date_req1=01/01/1995&date_req2=01/02/1995&VAL_NM_RQ=R99999",
             "/scripts/XML_dynamic.asp?date_req1=01/01/1995&date_req2=01/02/1995&VAL_NM_RQ=",
         }) {
        const auto r = Ask(target);
        EXPECT_EQ(r.Status, 200) << target;
        EXPECT_TRUE(r.Body == error) << target;
    }
    // 10,000 days is still a span.
    EXPECT_NE(Ask(range + "&date_req2=19/05/2022").Body.find("<Record"), std::string::npos);
}

}  // namespace
}  // namespace rates
