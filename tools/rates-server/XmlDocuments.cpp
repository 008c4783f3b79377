#include "tools/rates-server/XmlDocuments.h"

#include <charconv>

#include "runtime/String.h"
#include "tools/rates-server/CurrencyNames.h"
#include "tools/rates-server/MarkupText.h"

namespace rates {

namespace {

constexpr std::string_view kDeclaration = "<?xml version=\"1.0\" encoding=\"windows-1251\"?>";

void Element(std::string& out, std::string_view name, std::string_view text) {
    out += '<';
    out += name;
    out += '>';
    out += text;
    out += "</";
    out += name;
    out += '>';
}

// The service writes number codes with three digits.
std::string NumCode(std::string_view code) {
    if (code.empty() || code.size() >= 3)
        return std::string(code);
    return std::string(3 - code.size(), '0') + std::string(code);
}

}  // namespace

std::string UnitRate(std::string_view rate, int nominal) {
    std::string text(rate);
    for (char& c : text)
        if (c == ',')
            c = '.';
    double value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    char buf[64];
    const auto end = std::to_chars(buf, buf + sizeof buf, value / (nominal > 0 ? nominal : 1),
                                   std::chars_format::general, 15)
                         .ptr;
    std::string out(buf, end);
    for (char& c : out)
        c = c == '.' ? ',' : c == 'e' ? 'E' : c;
    return out;
}

std::string DailyXml(const RatesTable* table, const Date& requested, bool english) {
    std::string out(kDeclaration);
    out += "<ValCurs Date=\"" + (table != nullptr ? table->From : requested).Text() +
           "\" name=\"Foreign Currency Market\">";
    if (table != nullptr) {
        for (const Currency& c : table->Currencies) {
            const CurrencyName* known = CurrencyByKey(KeyOf(c));
            const std::string_view id = !c.Id.empty()      ? std::string_view(c.Id)
                                        : known != nullptr ? known->Id
                                                           : std::string_view();
            out += "<Valute ID=\"" + XmlText(id) + "\">";
            Element(out, "NumCode", XmlText(NumCode(c.NumCode)));
            Element(out, "CharCode", XmlText(c.CharCode));
            Element(out, "Nominal", std::to_string(c.Nominal));
            Element(
                out, "Name",
                XmlText(english && known != nullptr ? known->English : std::string_view(c.Name)));
            Element(out, "Value", XmlText(c.Rate));
            Element(out, "VunitRate", UnitRate(c.Rate, c.Nominal));
            out += "</Valute>";
        }
    }
    out += "</ValCurs>";
    return Utf8ToCp1251(out);
}

std::string DynamicXml(std::string_view id, const Date& from, const Date& to,
                       const std::vector<RatesData::SetRate>& rates) {
    std::string out(kDeclaration);
    const std::string idText = XmlText(id);
    out += "<ValCurs ID=\"" + idText + "\" DateRange1=\"" + from.Text() + "\" DateRange2=\"" +
           to.Text() + "\" name=\"Foreign Currency Market Dynamic\">";
    for (const auto& r : rates) {
        out += "<Record Date=\"" + r.On.Text() + "\" Id=\"" + idText + "\">";
        Element(out, "Nominal", std::to_string(r.Nominal));
        Element(out, "Value", XmlText(r.Rate));
        Element(out, "VunitRate", UnitRate(r.Rate, r.Nominal));
        out += "</Record>";
    }
    out += "</ValCurs>";
    return Utf8ToCp1251(out);
}

std::string XmlParameterError() {
    return "<?xml version=\"1.0\" encoding=\"windows-1251\" ?>\n<ValCurs>\n    Error in "
           "parameters\n</ValCurs>\n";
}

}  // namespace rates
