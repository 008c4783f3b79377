#include "tools/rates-server/CurrencyNames.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "tools/rates-server/AsciiText.h"

namespace rates {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// The table is part of the program, so a line it cannot read is a fault of
// the build, found by the first test that asks.
std::vector<CurrencyName> ReadTable(std::string_view text) {
    std::vector<CurrencyName> table;
    while (!text.empty()) {
        const auto eol = text.find('\n');
        const std::string_view line = Trim(text.substr(0, eol));
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        if (line.empty() || line.front() == '#')
            continue;
        const auto bar1 = line.find('|');
        const auto bar2 = bar1 == std::string_view::npos ? bar1 : line.find('|', bar1 + 1);
        if (bar2 == std::string_view::npos)
            throw std::logic_error("currencies.txt: a line reads id | key | name");
        table.push_back(CurrencyName{Trim(line.substr(0, bar1)),
                                     Trim(line.substr(bar1 + 1, bar2 - bar1 - 1)),
                                     Trim(line.substr(bar2 + 1))});
    }
    return table;
}

const std::vector<CurrencyName>& Table() {
    static const std::vector<CurrencyName> table = ReadTable(kCurrencyTableText);
    return table;
}

}  // namespace

std::string_view KeyOf(const Currency& c) {
    return !c.CharCode.empty() ? c.CharCode : !c.NumCode.empty() ? c.NumCode : c.Name;
}

const CurrencyName* CurrencyByKey(std::string_view key) {
    const auto& t = Table();
    const auto it =
        std::find_if(t.begin(), t.end(), [&](const CurrencyName& c) { return c.Key == key; });
    return it == t.end() ? nullptr : &*it;
}

const CurrencyName* CurrencyById(std::string_view id) {
    const auto& t = Table();
    const auto it = std::find_if(t.begin(), t.end(),
                                 [&](const CurrencyName& c) { return SameAscii(c.Id, id); });
    return it == t.end() ? nullptr : &*it;
}

}  // namespace rates
