#include "runtime/Variant.h"

#include <gtest/gtest.h>

#include "runtime/Exceptions.h"

namespace {

TEST(Variant, KindsAndText) {
    const char saved = DecimalSeparator();
    SetDecimalSeparator('.');
    struct Case {
        Variant v;
        TVarType type;
        const char* text;
    } cases[] = {
        {Variant(), varEmpty, ""},
        {Null(), varNull, ""},
        {Variant(42), varInteger, "42"},
        {Variant(-5LL), varInt64, "-5"},
        {Variant(2.5), varDouble, "2.5"},
        {Variant(true), varBoolean, "True"},
        {Variant(false), varBoolean, "False"},
        {Variant("abc"), varString, "abc"},
        {Variant(String("x")), varString, "x"},
        {Variant("ЕВРО"_cp), varString, "\xC5\xC2\xD0\xCE"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.v.VarType(), c.type) << c.text;
        EXPECT_EQ(VarToStr(c.v), c.text);
    }
    SetDecimalSeparator(saved);
}

TEST(Variant, Conversions) {
    EXPECT_EQ(Variant("12").AsInteger(), 12);
    EXPECT_EQ(Variant(" 12 ").AsInteger(), 12);
    EXPECT_TRUE(Variant("TRUE").AsBoolean());
    EXPECT_FALSE(Variant("false").AsBoolean());
    EXPECT_EQ(Variant().AsInteger(), 0);
    EXPECT_EQ(Variant(2.6).AsInteger(), 3);
    EXPECT_DOUBLE_EQ(Variant(3).AsDouble(), 3.0);
    try {
        Variant("abc").AsInteger();
        FAIL();
    } catch (const EVariantError& e) {
        EXPECT_EQ(e.Message(), "Could not convert variant of type (String) into type (Int64)");
    }
    EXPECT_THROW(Null().AsInteger(), EVariantError);
    EXPECT_THROW(Variant(5000000000LL).AsInteger(), EVariantError);
    EXPECT_THROW(Variant("maybe").AsBoolean(), EVariantError);
}

TEST(Variant, Equality) {
    EXPECT_EQ(Variant(), Variant());
    EXPECT_EQ(Null(), Null());
    EXPECT_FALSE(Variant() == Null());
    EXPECT_EQ(Variant(1), Variant(1LL));
    EXPECT_EQ(Variant(1), Variant(1.0));
    EXPECT_FALSE(Variant(1) == Variant("1"));
    EXPECT_EQ(Variant("a"), Variant("a"));
}

}  // namespace
