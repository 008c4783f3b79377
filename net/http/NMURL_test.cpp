#include "net/http/NMURL.h"

#include <gtest/gtest.h>

namespace {

String Escape(const String& s) {
    TNMURL u(nullptr);
    u.SetInputString(s);
    return u.Encode();
}

TEST(TNMURL, EscapesEverythingButAsciiLettersAndDigits) {
    struct Case {
        String in, out;
    };
    const Case cases[] = {
        {"", ""},
        {"a b+c", "a+b%2Bc"},
        {"50%", "50%25"},
        {"Доллар"_cp, "%C4%EE%EB%EB%E0%F0"},
        {"AZaz09", "AZaz09"},
        {"-._*~", "%2D%2E%5F%2A%7E"},
        {"&=/?:#", "%26%3D%2F%3F%3A%23"},
        {"  ", "++"},
        {String("\x00\x01\x7f\x80\xff", 5), "%00%01%7F%80%FF"},  // NUL is escaped, not an end
        {"\r\n", "%0D%0A"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Escape(c.in), c.out) << c.in;
}

TEST(TNMURL, LongTextIsEscapedWhole) {
    String in(70000, '.');
    in[69999] = ' ';
    const String out = Escape(in);
    ASSERT_EQ(out.size(), 69999u * 3 + 1);
    EXPECT_EQ(out.substr(0, 6), "%2E%2E");
    EXPECT_EQ(out.substr(out.size() - 4), "%2E+");
}

TEST(TNMURL, EncodeFollowsTheCurrentInputAndStartsEmpty) {
    TNMURL u(nullptr);
    EXPECT_EQ(u.InputString(), "");
    EXPECT_EQ(u.Encode(), "");
    u.SetInputString("a b");
    EXPECT_EQ(u.Encode(), "a+b");
    u.SetInputString("x");
    EXPECT_EQ(u.Encode(), "x");
    EXPECT_EQ(u.InputString(), "x");
}

}  // namespace
