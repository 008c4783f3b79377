#include "app/RatesReport.h"

namespace {

constexpr auto kNotRegistered = "не зарегистрированы"_cp;
constexpr auto kRatesFrom = "установил с"_cp;

// The currencies of the report, in the order they are searched.
const String kValidCurrencies[] = {"Доллар США"_cp, "ЕВРО"_cp, "Немецкая марка"_cp,
                                   "Финляндских марок"_cp};

const String kSpacer = " ";

}  // namespace

String TagText(std::string_view Line) {
    const int a = Pos(">", Line);
    const int b = Pos("</", Line);
    return Copy(Line, a + 1, b - a - 1);
}

void AppendRatesReport(const TStrings& PageLines, const String& DateText, TStrings& Report) {
    int datePos = 0;
    bool notRegistered = false;
    for (int i = 0; i < PageLines.Count(); ++i) {
        const String line = PageLines[i];
        if (Pos(kNotRegistered, line) > 0) {
            notRegistered = true;
            Report.Add("На дату "_cp + DateText + " - Курсы валют не установлены."_cp);
            Report.Add(kSpacer);
        }
        if (datePos == 0) {
            datePos = Pos(kRatesFrom, line);
            if (datePos > 0) {
                const int phrase = static_cast<int>(kRatesFrom.size());
                Report.Add("C " + Copy(line, datePos + phrase + 1, 11) +
                           " ЦБ установил следующие курсы :"_cp);
                Report.Add(kSpacer);
            }
        }
        for (const String& name : kValidCurrencies) {
            if (Pos(name, line) == 0)
                continue;
            const String x = TagText(PageLines[i - 2]) + " " + name + " = ";
            // Right-aligned in a field of 68 - length characters, the way a
            // "%<width>s" format pads; a field narrower than the text pads nothing.
            const int width = 68 - static_cast<int>(x.size());
            const String padded =
                width > static_cast<int>(x.size()) ? String(width - x.size(), ' ') + x : x;
            Report.Add(padded + TagText(PageLines[i + 2]));
            Report.Add(kSpacer);
        }
    }
    if (datePos == 0 && !notRegistered)
        Report.Add("На дату ["_cp + DateText + "] получить курсы валют не удалось - Ошибка!"_cp);
}

namespace {

bool StartsWithTag(std::string_view line, std::string_view tag) {
    const std::size_t first = line.find_first_not_of(" \t");
    return first != std::string_view::npos && line.substr(first, tag.size()) == tag;
}

}  // namespace

TRatesPage ReadRatesPage(const TStrings& PageLines) {
    TRatesPage page;
    bool ratesFrom = false;
    const int count = PageLines.Count();
    std::vector<String> cells;
    bool inRow = false;
    for (int i = 0; i < count; ++i) {
        const String& line = PageLines[i];
        if (!page.NotRegistered && Pos(kNotRegistered, line) > 0)
            page.NotRegistered = true;
        if (!ratesFrom) {
            if (const int at = Pos(kRatesFrom, line); at > 0) {
                ratesFrom = true;
                page.EffectiveDate = Copy(line, at + static_cast<int>(kRatesFrom.size()) + 1, 10);
            }
        }
        if (StartsWithTag(line, "<tr")) {
            inRow = true;
            cells.clear();
        } else if (inRow && StartsWithTag(line, "</tr>")) {
            inRow = false;
            if (cells.size() == 5)
                page.Rows.push_back(TRateRow{cells[0], cells[1], cells[2], cells[4]});
        } else if (inRow && StartsWithTag(line, "<td")) {
            if (cells.size() < 6)
                cells.push_back(TagText(line));
        }
    }
    return page;
}

bool ReportShowsRates(const TStrings& Report) {
    const String dateLineEnd = " ЦБ установил следующие курсы :"_cp;
    bool dateLine = false, currencyLine = false;
    for (int i = 0; i < Report.Count(); ++i) {
        const String line = Report[i];
        if (line.rfind("C ", 0) == 0 && line.size() >= dateLineEnd.size() &&
            line.compare(line.size() - dateLineEnd.size(), dateLineEnd.size(), dateLineEnd) == 0)
            dateLine = true;
        for (const String& name : kValidCurrencies)
            currencyLine = currencyLine || Pos(name + " = ", line) > 0;
    }
    return dateLine && currencyLine;
}
