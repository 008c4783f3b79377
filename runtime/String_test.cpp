#include "runtime/String.h"

#include <gtest/gtest.h>

#include "runtime/Exceptions.h"

namespace {

// --- the _cp literal and code page conversion ---------------------------------

static_assert("Курс"_cp.size() == 4);
static_assert("Ёё"_cp.view() == "\xA8\xB8");
static_assert("A№€"_cp.view() == "A\xB9\x88");

TEST(Cp1251, LiteralIsCp1251AndBehavesAsText) {
    const String s = "Доллар США"_cp;
    EXPECT_EQ(s.size(), 10u);
    EXPECT_EQ(static_cast<unsigned char>(s[0]), 0xC4);  // Д
    EXPECT_TRUE(s == "Доллар США"_cp);
    EXPECT_TRUE("Доллар США"_cp == s);
    EXPECT_FALSE("ЕВРО"_cp == s);
    std::string_view v = "ЕВРО"_cp;
    EXPECT_EQ(v, "\xC5\xC2\xD0\xCE");
    EXPECT_EQ("На дату "_cp + String("07.12.2000") + " - "_cp,
              "\xCD\xE0 \xE4\xE0\xF2\xF3 07.12.2000 - ");
    EXPECT_EQ("C "_cp + "ЦБ"_cp, "C \xD6\xC1");
    String t = "а"_cp;
    t += "я"_cp;
    EXPECT_EQ(t, "\xE0\xFF");
}

TEST(Cp1251, RoundTripsEveryByte) {
    String all;
    for (int b = 1; b < 256; ++b)
        if (b != 0x98)
            all.push_back(static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
    EXPECT_EQ(Cp1251ToUtf8("\xC0\xFF\xA8\xB8\xB9"), "Ая\u0401\u0451\u2116");
}

TEST(Cp1251, UnmappableAndMalformedInputBecomeQuestionMarks) {
    EXPECT_EQ(Utf8ToCp1251("a\u4E2Db"), "a?b");
    EXPECT_EQ(Utf8ToCp1251("a\xFF"), "a?");
    EXPECT_EQ(Utf8ToCp1251("\xD0"), "?");          // cut sequence
    EXPECT_EQ(Utf8ToCp1251("\xC0\x80x"), "?x");    // overlong NUL stays out
    EXPECT_EQ(Utf8ToCp1251("\xED\xA0\x80"), "?");  // surrogate
    EXPECT_EQ(Cp1251ToUtf8("\x98"), "\uFFFD");
}

// --- Pos / Copy / Delete / Insert -----------------------------------------------------

TEST(Positions, PosIsOneBased) {
    EXPECT_EQ(Pos("b", "abc"), 2);
    EXPECT_EQ(Pos("abc", "abc"), 1);
    EXPECT_EQ(Pos("x", "abc"), 0);
    EXPECT_EQ(Pos("", "abc"), 0);
    EXPECT_EQ(Pos("abcd", "abc"), 0);
    EXPECT_EQ(Pos("установил с"_cp, "Банк установил с 07.12.2000"_cp), 6);
}

TEST(Positions, CopyClampsLikeTheRuntime) {
    struct Case {
        int index, count;
        const char* expected;
    } cases[] = {
        {1, 3, "abc"},
        {2, 2, "bc"},
        {0, 2, "ab"},
        {-5, 2, "ab"},
        {3, 10, "cde"},
        {5, 1, "e"},
        {6, 1, ""},
        {100, 1, ""},
        {2, 0, ""},
        {2, -1, ""},
        {1, 2147483647, "abcde"},
        {-2147483647 - 1, 2, "ab"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Copy("abcde", c.index, c.count), c.expected) << c.index << "," << c.count;
    EXPECT_EQ(Copy("", 1, 1), "");
}

TEST(Positions, DeleteAndInsert) {
    String s = "abcde";
    Delete(s, 2, 2);
    EXPECT_EQ(s, "ade");
    Delete(s, 0, 1);
    EXPECT_EQ(s, "ade");
    Delete(s, 3, 100);
    EXPECT_EQ(s, "ad");
    Insert("XY", s, 2);
    EXPECT_EQ(s, "aXYd");
    Insert("<", s, -3);
    Insert(">", s, 100);
    EXPECT_EQ(s, "<aXYd>");
}

// --- trimming and case ------------------------------------------------------------------

TEST(Trimming, DropsEveryByteUpTo32) {
    EXPECT_EQ(Trim(" \t\r\n\x01 ab c \x1F\x20"), "ab c");
    EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");  // no-break space is a character
    EXPECT_EQ(Trim("   "), "");
    EXPECT_EQ(TrimLeft("  a  "), "a  ");
    EXPECT_EQ(TrimRight("  a  "), "  a");
    EXPECT_EQ(Trim(String("\0a\0", 3)), "a");
}

TEST(Case, AsciiOnlyAndAnsi) {
    EXPECT_EQ(UpperCase("abc Доллар"_cp), "ABC "_cp + "Доллар"_cp);
    EXPECT_EQ(LowerCase("ABC ЕВРО"_cp), "abc "_cp + "ЕВРО"_cp);
    EXPECT_EQ(AnsiUpperCase("abc ёжик"_cp), "ABC ЁЖИК"_cp);
    EXPECT_EQ(AnsiLowerCase("ABC ЁЖИК ЎЇІЄҐ"_cp), "abc ёжик ўїієґ"_cp);
}

TEST(Case, CompareTextIgnoresCyrillicCaseWhateverTheLocale) {
    EXPECT_TRUE(AnsiSameText("ЕВРО"_cp, "евро"_cp));
    EXPECT_TRUE(AnsiSameText("Ёлка"_cp, "ёЛКА"_cp));
    EXPECT_FALSE(AnsiSameText("Ёлка"_cp, "Елка"_cp));
    EXPECT_FALSE(AnsiSameText("abc", "abcd"));
    EXPECT_TRUE(AnsiSameText("Content-Type", "content-type"));

    struct Case {
        String a, b;
        int sign;
    } cases[] = {
        {"а"_cp, "Б"_cp, -1}, {"Я"_cp, "а"_cp, 1}, {"Е"_cp, "ё"_cp, -1},   {"ё"_cp, "Ж"_cp, -1},
        {"abc", "ABD", -1},   {"b", "A", 1},       {"ab", "AB", 0},        {"ab", "abc", -1},
        {"", "", 0},          {"z", "а"_cp, -1},   {"Ёж"_cp, "ежа"_cp, 1},
    };
    for (const Case& c : cases) {
        const int r = AnsiCompareText(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << Cp1251ToUtf8(c.a) << " vs " << Cp1251ToUtf8(c.b);
        const int back = AnsiCompareText(c.b, c.a);
        EXPECT_EQ((back > 0) - (back < 0), -c.sign);
    }
    EXPECT_TRUE(SameText("ABC", "abc"));
    EXPECT_FALSE(SameText("ЕВРО"_cp, "евро"_cp));  // ASCII-only variant
}

// --- integers -----------------------------------------------------------------------------

TEST(Integers, StrictConversion) {
    struct Good {
        const char* text;
        int value;
    } good[] = {{"0", 0},
                {"42", 42},
                {"-17", -17},
                {"+8", 8},
                {"007", 7},
                {"$FF", 255},
                {"0x10", 16},
                {"2147483647", 2147483647},
                {"-2147483648", -2147483647 - 1}};
    for (const Good& g : good)
        EXPECT_EQ(StrToInt(g.text), g.value) << g.text;

    const char* bad[] = {"",  " ",   "20 ",        " 20",         "2 0", "abc", "-",
                         "+", "1.5", "2147483648", "-2147483649", "$",   "12a", "$G"};
    for (const char* b : bad) {
        EXPECT_THROW(StrToInt(b), EConvertError) << '"' << b << '"';
        EXPECT_EQ(StrToIntDef(b, 20), 20) << '"' << b << '"';
    }
    try {
        StrToInt("x1");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'x1' is not a valid integer value");
    }
    EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
    EXPECT_EQ(IntToStr(-123), "-123");
    EXPECT_EQ(IntToHex(255, 4), "00FF");
}

TEST(Floats, RegionalSeparator) {
    const char saved = DecimalSeparator();
    SetDecimalSeparator(',');
    EXPECT_DOUBLE_EQ(StrToFloat("27,85"), 27.85);
    EXPECT_DOUBLE_EQ(StrToFloat("27.85"), 27.85);
    EXPECT_EQ(FloatToStr(1.5), "1,5");
    EXPECT_THROW(StrToFloat("abc"), EConvertError);
    EXPECT_THROW(StrToFloat(""), EConvertError);
    SetDecimalSeparator('.');
    EXPECT_EQ(FloatToStr(0.1), "0.1");
    EXPECT_EQ(FloatToStr(100), "100");
    EXPECT_EQ(FloatToStr(1e20), "1E20");
    SetDecimalSeparator(saved);
}

TEST(Floats, GeneralFormatPrecisions) {
    const char saved = DecimalSeparator();
    SetDecimalSeparator('.');
    struct Case {
        double value;
        int precision;
        const char* expected;
    } cases[] = {
        {0.1f, 7, "0.1"},
        {0.1f, 15, "0.100000001490116"},
        {0.1, 15, "0.1"},
        {1.0 / 3, 7, "0.3333333"},
        {123456789.0, 7, "1.234568E8"},
        {1234567.0, 7, "1234567"},
        {0.0001, 15, "0.0001"},
        {0.00001, 15, "1E-5"},
        {-2.5e-10, 15, "-2.5E-10"},
        {0, 15, "0"},
        {1e15, 15, "1E15"},
        {123456789012345.0, 15, "123456789012345"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FloatToStrF(c.value, ffGeneral, c.precision, 0), c.expected) << c.expected;
    EXPECT_EQ(FloatToStrF(1234.5, ffFixed, 15, 2), "1234.50");
    EXPECT_EQ(FloatToStrF(1234.5, ffExponent, 3, 2), "1.23E+03");
    SetDecimalSeparator(',');
    EXPECT_EQ(FloatToStrF(2.5, ffGeneral, 7, 0), "2,5");
    SetDecimalSeparator(saved);
}

TEST(Replace, AllFirstAndIgnoringCase) {
    EXPECT_EQ(StringReplace("a.b.c", ".", ","), "a,b,c");
    EXPECT_EQ(StringReplace("a.b.c", ".", ",", false), "a,b.c");
    EXPECT_EQ(StringReplace("Ёж ёж"_cp, "ЁЖ"_cp, "x", true, true), "x x");
    EXPECT_EQ(StringReplace("abc", "", "x"), "abc");
    EXPECT_EQ(QuotedStr("it's"), "'it''s'");
}

// --- Format ----------------------------------------------------------------------------

TEST(Format, Specifiers) {
    struct Case {
        String got, expected;
    } cases[] = {
        {Format("%d", 42), "42"},
        {Format("%d", -7), "-7"},
        {Format("%5d|%-5d|", 42, 42), "   42|42   |"},
        {Format("%.3d", 7), "007"},
        {Format("%s", "abc"), "abc"},
        {Format("%6s", "abc"), "   abc"},
        {Format("%-6s|", "abc"), "abc   |"},
        {Format("%2s", "abcdef"), "abcdef"},
        {Format("%-2s", "abcdef"), "abcdef"},
        {Format("%0s", "ab"), "ab"},
        {Format("%.2s", "abcdef"), "ab"},
        {Format("%%%.2x", 0x2F), "%2F"},
        {Format("%.2x", 0x0A), "0A"},
        {Format("%X", 255), "FF"},
        {Format("%x", -1), "FFFFFFFF"},
        {Format("%%"), "%"},
        {Format("%s.%s", "Sec", "Item"), "Sec.Item"},
        {Format("Item%d", 3), "Item3"},
        {Format("(%dx%d)", 1024, 768), "(1024x768)"},
        {Format("%d,%d,%d,%d", -1, -1, -8, -31), "-1,-1,-8,-31"},
        {Format("%*d", 4, 5), "   5"},
        {Format("%1:s%0:s", "a", "b"), "ba"},
        {Format("%s", "Ёж"_cp), "Ёж"_cp},
        {Format("%u", 4000000000u), "4000000000"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.expected);
    EXPECT_EQ(Format("%" + IntToStr(53) + "s", "1 Доллар США = "_cp).size(), 53u);
    EXPECT_EQ(Format("%" + IntToStr(-3) + "s", "abcdef"), "abcdef");
}

TEST(Format, FloatsUseTheRegionalSeparator) {
    const char saved = DecimalSeparator();
    SetDecimalSeparator(',');
    EXPECT_EQ(Format("%.2f", 27.856), "27,86");
    SetDecimalSeparator('.');
    const char thousands = ThousandSeparator();
    SetThousandSeparator(',');
    EXPECT_EQ(Format("%n", 1234567.5), "1,234,567.50");
    EXPECT_EQ(Format("%.0n", -1234.0), "-1,234");
    SetThousandSeparator(thousands);
    EXPECT_EQ(Format("%8.3f", 3.14159), "   3.142");
    SetDecimalSeparator(saved);
}

TEST(Format, BadSpecificationsRaise) {
    EXPECT_THROW(Format("%d", "text"), EConvertError);
    EXPECT_THROW(Format("%s", 5), EConvertError);
    EXPECT_THROW(Format("%d"), EConvertError);
    EXPECT_THROW(Format("abc %"), EConvertError);
    EXPECT_THROW(Format("%q", 1), EConvertError);
    EXPECT_THROW(Format("%f", 1), EConvertError);
    try {
        Format("%d %d", 1);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Format '%d %d' invalid or incompatible with argument");
    }
}

}  // namespace
