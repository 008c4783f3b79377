#include "tools/rates-server/MarkupText.h"

#include <gtest/gtest.h>

// The XML documents escape the apostrophe; the HTML page keeps it, as the
// page always has.
TEST(MarkupText, EscapesTheMarkupCharactersAndTheApostropheOnlyInXml) {
    EXPECT_EQ(rates::HtmlText("a&b<c>\"d'"), "a&amp;b&lt;c&gt;&quot;d'");
    EXPECT_EQ(rates::XmlText("a&b<c>\"d'"), "a&amp;b&lt;c&gt;&quot;d&apos;");
}
