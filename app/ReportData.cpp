#include "app/ReportData.h"

#include <cctype>
#include <cstdio>

#include "app/Digits.h"

namespace {

// The page writes names as HTML text.
String HtmlDecoded(std::string_view s) {
    static const struct {
        std::string_view entity, text;
    } kEntities[] = {{"&amp;", "&"},   {"&lt;", "<"},  {"&gt;", ">"},
                     {"&quot;", "\""}, {"&#39;", "'"}, {"&nbsp;", " "}};
    String out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        bool replaced = false;
        if (s[i] == '&') {
            for (const auto& e : kEntities) {
                if (s.substr(i, e.entity.size()) == e.entity) {
                    out += e.text;
                    i += e.entity.size() - 1;
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += s[i];
    }
    return out;
}

// What the problem text quotes of a cell: UTF-8, at most 40 bytes of the page.
std::string Quoted(std::string_view cell) {
    const std::string utf8 = Cp1251ToUtf8(cell.substr(0, 40));
    return "'" + utf8 + (cell.size() > 40 ? "...'" : "'");
}

std::string CsvField(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos)
        return s;
    std::string out = "\"";
    for (char c : s) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

std::optional<TRateRecord> CheckRateRow(const TRateRow& Row, std::string& Problem) {
    const String code = Trim(Row.Code);
    bool letters = code.size() == 3;
    for (char c : code)
        letters = letters && std::isalpha(static_cast<unsigned char>(c));
    if (!letters) {
        Problem = "a row has a letter code that is not three letters: " + Quoted(Row.Code);
        return std::nullopt;
    }
    TRateRecord r;
    r.Code = UpperCase(code);

    const String nominal = Trim(Row.Nominal);
    if (!AllDigits(nominal) || nominal.size() > 9 ||
        nominal.find_first_not_of('0') == nominal.npos) {
        Problem = "the row of " + r.Code +
                  " has a nominal that is not a number of units: " + Quoted(Row.Nominal);
        return std::nullopt;
    }
    r.Nominal = DigitsValue(nominal);

    const String trimmedValue = Trim(Row.Value);
    const std::string_view value = trimmedValue;
    const std::size_t point = value.find_first_of(",.");
    const std::string_view whole = value.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : value.substr(point + 1);
    if (!AllDigits(whole) || whole.size() > 15 || fraction.size() > 15 ||
        (point != std::string_view::npos && !AllDigits(fraction))) {
        Problem = "the row of " + r.Code + " has a rate that is not a number: " + Quoted(Row.Value);
        return std::nullopt;
    }
    r.Value = std::string(whole);
    if (point != std::string_view::npos)
        r.Value += "." + std::string(fraction);
    r.Name = Cp1251ToUtf8(HtmlDecoded(Trim(Row.Name)));
    return r;
}

std::string IsoDate(TDateTime Date) {
    return FormatDateTime("yyyy-mm-dd", Date);
}

std::optional<TDateTime> PageDate(const String& Text) {
    const std::string_view t = Text;
    if (t.size() != 10 || t[2] != '.' || t[5] != '.' || !AllDigits(t.substr(0, 2)) ||
        !AllDigits(t.substr(3, 2)) || !AllDigits(t.substr(6, 4)))
        return std::nullopt;
    TDateTime date = 0;
    if (!TryEncodeDate(DigitsValue(t.substr(6, 4)), DigitsValue(t.substr(3, 2)),
                       DigitsValue(t.substr(0, 2)), date))
        return std::nullopt;
    return date;
}

std::string CsvHeader() {
    return "requested,effective,code,nominal,value,name\r\n";
}

std::string CsvRecords(const std::string& Requested, const std::string& Effective,
                       const std::vector<TRateRecord>& Records) {
    std::string out;
    for (const TRateRecord& r : Records) {
        out += Requested + "," + Effective + "," + r.Code + "," + std::to_string(r.Nominal) + "," +
               r.Value + "," + CsvField(r.Name) + "\r\n";
    }
    return out;
}

std::string JsonRecord(const std::string& Requested, const std::optional<std::string>& Effective,
                       const std::vector<TRateRecord>& Records) {
    std::string out = "{\"requested\":" + JsonString(Requested) +
                      ",\"effective\":" + (Effective ? JsonString(*Effective) : "null") +
                      ",\"rates\":[";
    for (std::size_t i = 0; i < Records.size(); ++i) {
        const TRateRecord& r = Records[i];
        out += (i ? ",{\"code\":" : "{\"code\":") + JsonString(r.Code) +
               ",\"nominal\":" + std::to_string(r.Nominal) + ",\"value\":" + JsonString(r.Value) +
               ",\"name\":" + JsonString(r.Name) + "}";
    }
    return out + "]}";
}
