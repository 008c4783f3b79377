#include "tools/rates-server/RatesData.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "runtime/String.h"

namespace rates {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool AllDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), IsDigit);
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const auto bar = line.find('|');
        fields.push_back(TrimBlanks(line.substr(0, bar)));
        if (bar == std::string_view::npos)
            break;
        line.remove_prefix(bar + 1);
    }
    return fields;
}

// "27,8500": digits, a comma, digits.
bool IsRate(std::string_view s) {
    const auto comma = s.find(',');
    return comma != std::string_view::npos && AllDigits(s.substr(0, comma)) &&
           AllDigits(s.substr(comma + 1));
}

}  // namespace

RatesData RatesData::Parse(std::string_view text, const std::string& source) {
    RatesData data;
    int lineNo = 0;
    auto fail = [&](const std::string& reason) {
        throw DataError(source + ":" + std::to_string(lineNo) + ": " + reason);
    };
    auto finishTable = [&] {
        if (!data.FTables.empty() && data.FTables.back().Currencies.empty())
            fail("the rates of " + data.FTables.back().From.Text() + " list no currency");
    };
    while (!text.empty()) {
        ++lineNo;
        const auto eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        line = TrimBlanks(line);
        if (line.empty() || line.front() == '#')
            continue;

        if (line.front() == '[') {
            if (line.back() != ']')
                fail("a date line reads [dd.mm.yyyy]");
            const auto date = ParseDate(line.substr(1, line.size() - 2));
            if (!date)
                fail("not a date: " + std::string(line));
            finishTable();
            for (const auto& t : data.FTables)
                if (t.From == *date)
                    fail("the date " + date->Text() + " is given twice");
            data.FTables.push_back(RatesTable{*date, {}});
            continue;
        }

        if (data.FTables.empty())
            fail("a currency line before the first [date] line");
        const auto fields = SplitFields(line);
        if (fields.size() != 5)
            fail("a currency line reads: number code | letter code | nominal | name | rate");
        Currency c;
        c.NumCode = fields[0];
        c.CharCode = fields[1];
        if (fields[0].size() != 3 || !AllDigits(fields[0]))
            fail("the number code is three digits: " + c.NumCode);
        if (c.CharCode.size() != 3 || !std::all_of(c.CharCode.begin(), c.CharCode.end(),
                                                   [](char ch) { return ch >= 'A' && ch <= 'Z'; }))
            fail("the letter code is three capital Latin letters: " + c.CharCode);
        if (!AllDigits(fields[2]) || fields[2].size() > 7 || fields[2].front() == '0')
            fail("the nominal is a whole number from 1 to 9999999: " + std::string(fields[2]));
        c.Nominal = std::stoi(std::string(fields[2]));
        if (fields[3].empty())
            fail("the currency has no name");
        if (fields[3].find_first_of("<>&\"") != std::string_view::npos)
            fail("the name holds a character reserved in HTML: " + std::string(fields[3]));
        c.Name = fields[3];
        const String served = Utf8ToCp1251(c.Name);
        if (std::count(served.begin(), served.end(), '?') !=
            std::count(fields[3].begin(), fields[3].end(), '?'))
            fail("the name holds a character outside Windows-1251 or bad UTF-8: " +
                 std::string(fields[3]));
        if (!IsRate(fields[4]))
            fail("the rate is written with a decimal comma, as 27,8500: " + std::string(fields[4]));
        c.Rate = fields[4];
        auto& table = data.FTables.back();
        for (const auto& other : table.Currencies)
            if (other.CharCode == c.CharCode)
                fail(c.CharCode + " is given twice for " + table.From.Text());
        table.Currencies.push_back(std::move(c));
    }
    finishTable();
    if (data.FTables.empty())
        throw DataError(source + ": holds no rates");
    std::sort(data.FTables.begin(), data.FTables.end(),
              [](const RatesTable& a, const RatesTable& b) { return a.From < b.From; });
    return data;
}

RatesData RatesData::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw DataError("cannot read " + path + ": " + std::strerror(errno));
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        throw DataError("cannot read " + path + ": " + std::strerror(errno));
    return Parse(text.str(), path);
}

Date RatesData::First() const {
    return FTables.front().From;
}

Date RatesData::Last() const {
    return FTables.back().From;
}

std::optional<RatesTable> RatesData::RatesOn(const Date& date) const {
    const RatesTable* found = nullptr;
    for (const auto& t : FTables) {
        if (t.From > date)
            break;
        found = &t;
    }
    if (found == nullptr)
        return std::nullopt;
    return *found;
}

}  // namespace rates
