#include "gui/Mask.h"

#include <gtest/gtest.h>

#include "gui/Forms.h"
#include "gui/Input.h"

namespace {

struct MaskCase {
    const char* mask;
    const char* assigned;
    const char* text;      // what Text reads back
    const char* editText;  // what the field shows
};

class MaskedText : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskedText, AssignedTextReadsBackAtFullWidth) {
    const MaskCase& c = GetParam();
    TForm form(nullptr);
    TMaskEdit edit(&form);
    edit.SetEditMask(c.mask);
    edit.SetText(c.assigned);
    EXPECT_EQ(edit.Text(), c.text);
    EXPECT_EQ(edit.EditText(), c.editText);
    // Reading back and assigning again changes nothing.
    edit.SetText(edit.Text());
    EXPECT_EQ(edit.Text(), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, MaskedText,
    ::testing::Values(
        MaskCase{"999;1;_", "20", "20 ", "20_"}, MaskCase{"999;1;_", "20 ", "20 ", "20_"},
        MaskCase{"999;1;_", "", "   ", "___"}, MaskCase{"999;1;_", "   ", "   ", "___"},
        MaskCase{"999;1;_", "5", "5  ", "5__"}, MaskCase{"999;1;_", "2 0", "2 0", "2_0"},
        MaskCase{"999;1;_", "999", "999", "999"}, MaskCase{"999;1;_", "1234", "123", "123"},
        MaskCase{"999;1;_", " 7", " 7 ", "_7_"}, MaskCase{"999;1;_", "a1b", " 1 ", "_1_"},
        MaskCase{"9999;1;_", "", "    ", "____"}, MaskCase{"9999;1;_", "80", "80  ", "80__"},
        MaskCase{"9999;1;_", "8080", "8080", "8080"}, MaskCase{"9999;1;_", "80  ", "80  ", "80__"},
        MaskCase{"99.99;1;_", "12.34", "12.34", "12.34"},
        MaskCase{"99.99;1;_", "1", "1 .  ", "1_.__"},
        MaskCase{"99.99;0;_", "1234", "1234", "12.34"}, MaskCase{"999;1;*", "4", "4  ", "4**"}));

TEST(MaskEdit, WidthAndLengthFollowTheMask) {
    TForm form(nullptr);
    TMaskEdit timeOut(&form);
    timeOut.SetEditMask("999;1;_");
    EXPECT_EQ(timeOut.MaxLength(), 3);
    EXPECT_EQ(timeOut.Text(), "   ");
    TMaskEdit port(&form);
    port.SetEditMask("9999;1;_");
    EXPECT_EQ(port.MaxLength(), 4);
    EXPECT_EQ(port.Text(), "    ");
}

TEST(MaskEdit, ChangingTheMaskKeepsWhatStillFits) {
    TForm form(nullptr);
    TMaskEdit edit(&form);
    edit.SetText("42");
    edit.SetEditMask("999;1;_");
    EXPECT_EQ(edit.Text(), "42 ");
    edit.SetEditMask("9;1;_");
    EXPECT_EQ(edit.Text(), "4");
}

struct TypingCase {
    const char* name;
    const char* mask;
    const char* initial;
    const char* keys;  // characters typed at the caret; '<' is Backspace, '~' Delete, '[' Home
    const char* text;
};

class MaskTyping : public ::testing::TestWithParam<TypingCase> {};

TEST_P(MaskTyping, OnlyAcceptedCharactersEnterTheirPositions) {
    const TypingCase& c = GetParam();
    TForm form(nullptr);
    TMaskEdit edit(&form);
    edit.SetParent(&form);
    edit.SetEditMask(c.mask);
    edit.SetText(c.initial);
    edit.SetSelStart(0);
    for (const char* k = c.keys; *k; ++k) {
        switch (*k) {
            case '<':
                SendChars(&edit, "\b");
                break;
            case '~':
                SendKeyDown(&edit, VK_DELETE);
                break;
            case '[':
                SendKeyDown(&edit, VK_HOME);
                break;
            case '>':
                SendKeyDown(&edit, VK_RIGHT);
                break;
            default:
                SendChars(&edit, std::string_view(k, 1));
        }
    }
    EXPECT_EQ(edit.Text(), c.text) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, MaskTyping,
    ::testing::Values(TypingCase{"digits", "999;1;_", "", "20", "20 "},
                      TypingCase{"one digit", "999;1;_", "", "5", "5  "},
                      TypingCase{"letters and signs refused", "999;1;_", "", "a-1 x2", "12 "},
                      TypingCase{"full field refuses more", "999;1;_", "", "12345", "123"},
                      TypingCase{"overwrites at the caret", "999;1;_", "123", "9", "923"},
                      TypingCase{"middle left empty", "999;1;_", "", "2>", "2  "},
                      TypingCase{"gap between digits", "999;1;_", "", "2>0", "2 0"},
                      TypingCase{"backspace clears the last", "999;1;_", "", "20<", "2  "},
                      TypingCase{"delete at home", "9999;1;_", "8080", "[~", " 080"},
                      TypingCase{"port", "9999;1;_", "", "80", "80  "},
                      TypingCase{"literal skipped", "99.99;1;_", "", "1234", "12.34"}),
    [](const ::testing::TestParamInfo<TypingCase>& info) {
        std::string name = info.param.name;
        for (char& ch : name) {
            if (!isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        }
        return name;
    });

TEST(MaskEdit, ReadOnlyFieldIgnoresTyping) {
    TForm form(nullptr);
    TMaskEdit edit(&form);
    edit.SetParent(&form);
    edit.SetEditMask("999;1;_");
    edit.SetReadOnly(true);
    SendChars(&edit, "12");
    EXPECT_EQ(edit.Text(), "   ");
}

TEST(MaskEdit, OnChangeFiresOncePerChange) {
    TForm form(nullptr);
    TMaskEdit edit(&form);
    edit.SetEditMask("999;1;_");
    int changes = 0;
    edit.OnChange = [&](TObject*) { ++changes; };
    edit.SetText("20");
    edit.SetText("20 ");  // the same content
    edit.SetText("20");
    EXPECT_EQ(changes, 1);
}

}  // namespace
