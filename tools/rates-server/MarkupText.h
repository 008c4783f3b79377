#pragma once

#include <string>
#include <string_view>

namespace rates {

// Text from the bank's service, which may hold any character, escaped for
// the pages and documents the server writes.  Both escape & < > and the
// double quote; the XML documents also escape the apostrophe, the HTML page
// keeps it as it is.
std::string HtmlText(std::string_view text);
std::string XmlText(std::string_view text);

}  // namespace rates
