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
