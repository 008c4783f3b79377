#include "tools/rates-server/upstream/BankXml.h"

#include <expat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <set>

#include "runtime/Cp1251.h"

namespace rates {

namespace {

// Fields longer than this are not rates.
constexpr std::size_t kMaxField = 1024;
// The document is three levels deep (ValCurs, Valute, its fields); room for
// a few more, but not for a pile of nested elements that only costs memory.
constexpr int kMaxDepth = 8;
// The bank's largest rate ever is 30 778,89 roubles; its rates have at most
// four decimals.
constexpr std::size_t kMaxWholeDigits = 7;
constexpr std::size_t kMaxDecimals = 4;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

// Expat knows UTF-8, UTF-16, ISO-8859-1 and US-ASCII; windows-1251 is given
// to it as a table.
int OnUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
    const std::string_view n = name;
    if (!EqualsIgnoringCase(n, "windows-1251") && !EqualsIgnoringCase(n, "cp1251") &&
        !EqualsIgnoringCase(n, "x-cp1251"))
        return XML_STATUS_ERROR;
    for (int b = 0; b < 256; ++b) {
        const char32_t cp = cp1251::ToCodePoint(static_cast<unsigned char>(b));
        info->map[b] = b != 0 && cp == 0 ? -1 : static_cast<int>(cp);
    }
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}

enum class TextKind { Ascii, Utf8, Other };

// Strict UTF-8: no overlong forms, no surrogates, nothing past U+10FFFF.
TextKind Classify(std::string_view s) {
    bool ascii = true;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        ascii = false;
        std::size_t extra = 0;
        char32_t cp = 0;
        char32_t least = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
            cp = b & 0x1F;
            least = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            cp = b & 0x0F;
            least = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            cp = b & 0x07;
            least = 0x10000;
        } else {
            return TextKind::Other;
        }
        if (s.size() - i <= extra)
            return TextKind::Other;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80)
                return TextKind::Other;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return TextKind::Other;
        i += extra + 1;
    }
    return ascii ? TextKind::Ascii : TextKind::Utf8;
}

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsXmlSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsXmlSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

// A name goes into one line of a page: runs of blanks and line breaks become
// one space.
std::string OneLine(std::string_view s) {
    std::string out;
    bool blank = false;
    for (char c : Trim(s)) {
        if (IsXmlSpace(c)) {
            blank = true;
            continue;
        }
        if (blank)
            out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

// Text from the document on one line, fit for a log line.
std::string Printable(std::string_view s, std::size_t max = 60) {
    return PrintableAscii(OneLine(s), max);
}

bool AllDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsRate(std::string_view s) {
    const auto comma = s.find(',');
    return comma != std::string_view::npos && AllDigits(s.substr(0, comma)) &&
           AllDigits(s.substr(comma + 1)) && comma <= kMaxWholeDigits &&
           s.size() - comma - 1 <= kMaxDecimals;
}

// Every nominal the bank has used is a power of ten from 1 to 1 000 000.
bool IsNominal(std::string_view s) {
    if (!AllDigits(s))
        return false;
    s.remove_prefix(std::min(s.find_first_not_of('0'), s.size()));
    return !s.empty() && s.size() <= 7 && s.front() == '1' &&
           s.find_first_not_of('0', 1) == std::string_view::npos;
}

bool IsCharCode(std::string_view s) {
    return !s.empty() && s.size() <= 8 && std::all_of(s.begin(), s.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
}

enum Field { kNumCode, kCharCode, kNominal, kName, kValue, kFieldCount };
constexpr const char* kFieldNames[kFieldCount] = {"NumCode", "CharCode", "Nominal", "Name",
                                                  "Value"};

struct Reader {
    XML_Parser Parser = nullptr;
    std::string Error;
    std::optional<std::string> DeclaredEncoding;
    int Depth = 0;
    bool RootSeen = false;
    std::optional<std::string> DateText;
    std::string RootText;
    // The Valute being read, when Depth is inside one.
    bool InRow = false;
    std::optional<std::string> Fields[kFieldCount];
    std::string RowId;   // the Valute's ID attribute
    int Capturing = -1;  // the field whose text is being read
    // Depth of an element whose content is skipped, 0 when none.
    int SkipFrom = 0;
    RatesTable Table;
    // What the rows so far listed: one currency twice is not a rates table.
    std::set<std::string, std::less<>> Ids;
    std::set<std::string, std::less<>> CharCodes;

    void Fail(std::string why) {
        if (Error.empty())
            Error = std::move(why);
        XML_StopParser(Parser, XML_FALSE);
    }

    std::string RowName() const {
        std::string s = "row " + std::to_string(Table.Currencies.size() + 1);
        if (Fields[kCharCode] && IsCharCode(Trim(*Fields[kCharCode])))
            s += " (" + std::string(Trim(*Fields[kCharCode])) + ")";
        return s;
    }

    void Start(std::string_view name, const XML_Char** attrs) {
        ++Depth;
        if (Depth > kMaxDepth)
            return Fail("elements nested deeper than " + std::to_string(kMaxDepth) + " levels");
        if (SkipFrom != 0)
            return;
        if (Depth == 1) {
            RootSeen = true;
            if (name != "ValCurs")
                return Fail(EqualsIgnoringCase(name, "html")
                                ? "an HTML page, not the rates document"
                                : "the document is <" + Printable(name, 30) + ">, not ValCurs");
            for (const XML_Char** a = attrs; a[0] != nullptr; a += 2)
                if (std::string_view(a[0]) == "Date")
                    DateText = a[1];
            return;
        }
        if (Depth == 2) {
            if (name != "Valute") {
                SkipFrom = Depth;
                return;
            }
            InRow = true;
            for (auto& f : Fields)
                f.reset();
            RowId.clear();
            for (const XML_Char** a = attrs; a[0] != nullptr; a += 2)
                if (std::string_view(a[0]) == "ID")
                    RowId = Printable(a[1], 16);
            return;
        }
        if (Capturing >= 0)
            return Fail(RowName() + ": markup inside <" + kFieldNames[Capturing] + ">");
        for (int f = 0; f < kFieldCount; ++f) {
            if (name != kFieldNames[f])
                continue;
            if (Fields[f])
                return Fail(RowName() + ": two <" + kFieldNames[f] + "> in one Valute");
            Fields[f].emplace();
            Capturing = f;
            return;
        }
        SkipFrom = Depth;  // VunitRate and anything else in a row
    }

    void End() {
        const int depth = Depth--;
        if (SkipFrom != 0) {
            if (depth == SkipFrom)
                SkipFrom = 0;
            return;
        }
        if (depth == 3) {
            Capturing = -1;
        } else if (depth == 2 && InRow) {
            InRow = false;
            EndRow();
        }
    }

    void Text(std::string_view text) {
        if (SkipFrom != 0)
            return;
        std::string* into = Capturing >= 0 ? &*Fields[Capturing] : Depth == 1 ? &RootText : nullptr;
        if (into == nullptr)
            return;
        if (into->size() + text.size() > kMaxField)
            return Fail(Capturing >= 0 ? RowName() + ": <" + kFieldNames[Capturing] + "> too long"
                                       : "too much text in ValCurs");
        into->append(text);
    }

    void EndRow() {
        auto field = [this](Field f) { return Fields[f] ? Trim(*Fields[f]) : std::string_view(); };
        const auto charCode = field(kCharCode);
        const auto numCode = field(kNumCode);
        const auto nominal = field(kNominal);
        const auto value = field(kValue);
        if (!IsCharCode(charCode))
            return Fail(RowName() + ": " +
                        (charCode.empty() ? std::string("no CharCode")
                                          : "bad CharCode '" + Printable(charCode) + "'"));
        if (!numCode.empty() && (!AllDigits(numCode) || numCode.size() > 8))
            return Fail(RowName() + ": bad NumCode '" + Printable(numCode) + "'");
        if (!IsNominal(nominal))
            return Fail(RowName() + ": " +
                        (nominal.empty() ? std::string("no Nominal")
                                         : "bad Nominal '" + Printable(nominal) + "'"));
        if (!IsRate(value))
            return Fail(
                RowName() + ": " +
                (value.empty() ? std::string("no Value") : "bad Value '" + Printable(value) + "'"));
        if (!RowId.empty() && !Ids.emplace(RowId).second)
            return Fail(RowName() + ": the ID '" + RowId + "' is listed twice");
        if (!CharCodes.emplace(charCode).second)
            return Fail(RowName() + ": " + std::string(charCode) + " is listed twice");
        Currency c;
        c.NumCode = std::string(numCode);
        c.CharCode = std::string(charCode);
        c.Nominal = std::stoi(std::string(nominal));
        c.Name = OneLine(field(kName));
        c.Rate = std::string(value);
        c.Id = RowId;
        Table.Currencies.push_back(std::move(c));
    }
};

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attrs) {
    static_cast<Reader*>(data)->Start(name, attrs);
}

void XMLCALL OnEnd(void* data, const XML_Char*) {
    static_cast<Reader*>(data)->End();
}

void XMLCALL OnText(void* data, const XML_Char* s, int len) {
    static_cast<Reader*>(data)->Text(std::string_view(s, static_cast<std::size_t>(len)));
}

void XMLCALL OnXmlDecl(void* data, const XML_Char*, const XML_Char* encoding, int) {
    if (encoding != nullptr)
        static_cast<Reader*>(data)->DeclaredEncoding = encoding;
}

// The rates document has no document type; one with a DTD (and its
// entities) is refused before any of it is expanded.
void XMLCALL OnDoctype(void* data, const XML_Char* name, const XML_Char*, const XML_Char*, int) {
    static_cast<Reader*>(data)->Fail(name != nullptr && EqualsIgnoringCase(name, "html")
                                         ? "an HTML page, not the rates document"
                                         : "a document type declaration in the answer");
}

struct ParserFree {
    void operator()(XML_Parser p) const { XML_ParserFree(p); }
};

// One pass of expat over the bytes; encoding nullptr lets the document's
// declaration decide.
BankXmlResult Parse(std::string_view bytes, const char* encoding, bool* declared) {
    std::unique_ptr<XML_ParserStruct, ParserFree> parser(XML_ParserCreate(encoding));
    BankXmlResult result;
    if (!parser) {
        result.Error = "out of memory";
        return result;
    }
    Reader r;
    r.Parser = parser.get();
    XML_SetUserData(parser.get(), &r);
    XML_SetUnknownEncodingHandler(parser.get(), OnUnknownEncoding, nullptr);
    XML_SetElementHandler(parser.get(), OnStart, OnEnd);
    XML_SetCharacterDataHandler(parser.get(), OnText);
    XML_SetXmlDeclHandler(parser.get(), OnXmlDecl);
    XML_SetStartDoctypeDeclHandler(parser.get(), OnDoctype);

    const auto status =
        XML_Parse(parser.get(), bytes.data(), static_cast<int>(bytes.size()), XML_TRUE);
    if (declared != nullptr)
        *declared = r.DeclaredEncoding.has_value();
    if (!r.Error.empty()) {
        result.Error = r.Error;
        return result;
    }
    if (status != XML_STATUS_OK) {
        const auto code = XML_GetErrorCode(parser.get());
        if (!r.RootSeen && bytes.find_first_not_of(" \t\r\n") == std::string_view::npos)
            result.Error = "an empty answer";
        else
            result.Error = std::string("not a well-formed XML document (line ") +
                           std::to_string(XML_GetCurrentLineNumber(parser.get())) + ": " +
                           XML_ErrorString(code) + ")";
        return result;
    }
    if (!r.DateText) {
        const auto text = Printable(r.RootText);
        result.Error =
            text.empty() ? "ValCurs without a Date" : "the service answered '" + text + "'";
        return result;
    }
    const auto date = ParseDate(*r.DateText);
    if (!date) {
        result.Error = "ValCurs with a bad Date '" + Printable(*r.DateText) + "'";
        return result;
    }
    if (r.Table.Currencies.empty()) {
        result.Error = "no rates in the document of " + date->Text();
        return result;
    }
    result.Ok = true;
    result.Table = std::move(r.Table);
    result.Table.From = *date;
    return result;
}

}  // namespace

BankXmlResult ReadBankXml(std::string_view bytes) {
    if (bytes.size() > kMaxBankXmlSize) {
        BankXmlResult r;
        r.Error = "the answer is larger than " + std::to_string(kMaxBankXmlSize) + " bytes";
        return r;
    }
    const TextKind kind = Classify(bytes);
    // A document re-saved as UTF-8 may still declare windows-1251: valid
    // UTF-8 with letters beyond ASCII is read as UTF-8 whatever it declares.
    if (kind == TextKind::Utf8)
        return Parse(bytes, "UTF-8", nullptr);
    bool declared = false;
    auto result = Parse(bytes, nullptr, &declared);
    // The service writes windows-1251; without a declaration expat would
    // read such bytes as UTF-8 and stop at the first letter.
    if (!result.Ok && kind == TextKind::Other && !declared)
        result = Parse(bytes, "windows-1251", nullptr);
    return result;
}

std::string PrintableAscii(std::string_view s, std::size_t max) {
    std::string out;
    for (char c : s) {
        if (out.size() >= max) {
            out += "...";
            break;
        }
        out += c >= 0x20 && c < 0x7F ? c : '?';
    }
    return out;
}

}  // namespace rates
