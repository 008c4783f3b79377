#include "tools/rates-server/MarkupText.h"

namespace rates {

namespace {

std::string Escaped(std::string_view text, bool apostrophe) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        switch (ch) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                if (apostrophe) {
                    out += "&apos;";
                } else {
                    out += ch;
                }
                break;
            default:
                out += ch;
        }
    }
    return out;
}

}  // namespace

std::string HtmlText(std::string_view text) {
    return Escaped(text, false);
}

std::string XmlText(std::string_view text) {
    return Escaped(text, true);
}

}  // namespace rates
