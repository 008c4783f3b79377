#include "settings/IniFiles.h"

#include <gtest/gtest.h>

#include "settings/AppUtils.h"
#include "settings/Registry.h"
#include "testing/TestHome.h"

namespace {

class IniFile : public TestHome {};

TEST_F(IniFile, ValuesRoundTripThroughABareFileName) {
    TIniFile ini("Sample.INI");
    ini.WriteString("TForm1", "edtServer_Text", "www.cbr.ru");
    ini.WriteInteger("TForm1", "PixelsPerInch", 96);
    ini.WriteBool("TForm1", "Visible", true);
    EXPECT_EQ(ini.ReadString("tform1", "EDTSERVER_TEXT", ""), "www.cbr.ru");
    EXPECT_EQ(ini.ReadString("TForm1", "Missing", "dflt"), "dflt");
    EXPECT_EQ(ini.ReadInteger("TForm1", "PixelsPerInch", 0), 96);
    EXPECT_TRUE(ini.ReadBool("TForm1", "Visible", false));
    EXPECT_EQ(IniText("Sample.INI"),
              "[TForm1]\nedtServer_Text=www.cbr.ru\nPixelsPerInch=96\nVisible=1\n");
}

TEST_F(IniFile, IntegersAreDecimalOrZeroXHexadecimal) {
    const struct {
        const char* stored;
        int read;
    } cases[] = {
        {"42", 42},    {"-7", -7}, {"0x1F", 31}, {"0X1f", 31}, {"0x", -1},
        {"12abc", -1}, {"", -1},   {"$10", 16},  {"0xZZ", -1}, {"99999999999", -1},
    };
    TIniFile ini("numbers.ini");
    for (const auto& c : cases) {
        ini.WriteString("N", "v", c.stored);
        EXPECT_EQ(ini.ReadInteger("N", "v", -1), c.read) << c.stored;
    }
}

TEST_F(IniFile, LongValuesComeBackCutTo2047Characters) {
    TIniFile ini("long.ini");
    const String text(3000, 'z');
    ini.WriteString("S", "long", text);
    EXPECT_EQ(ini.ReadString("S", "long", ""), String(2047, 'z'));
}

TEST_F(IniFile, SectionsAreListedAndErased) {
    TIniFile ini("sections.ini");
    ini.WriteString("One", "a", "1");
    ini.WriteString("One", "b", "2");
    ini.WriteString("Two", "c", "3");
    TStringList names;
    ini.ReadSections(&names);
    EXPECT_EQ(names.Text(), "One\r\nTwo\r\n");
    ini.ReadSection("one", &names);
    EXPECT_EQ(names.Text(), "a\r\nb\r\n");
    EXPECT_TRUE(ini.ValueExists("One", "B"));
    ini.DeleteKey("One", "b");
    EXPECT_FALSE(ini.ValueExists("One", "b"));
    ini.EraseSection("One");
    EXPECT_FALSE(ini.SectionExists("One"));
    EXPECT_EQ(IniText("sections.ini"), "[Two]\nc=3\n");
}

TEST_F(IniFile, FailedWritesRaiseWithTheFileName) {
    TIniFile ini("/nonexistent-folder/x.ini");
    const auto message = [](const std::function<void()>& f) -> std::string {
        try {
            f();
        } catch (const Exception& e) {
            return e.Message();
        }
        return "<none>";
    };
    EXPECT_EQ(message([&] { ini.WriteString("S", "k", "v"); }),
              "Unable to write to /nonexistent-folder/x.ini");
    EXPECT_EQ(message([&] { ini.WriteInteger("S", "k", 1); }),
              "Unable to write to /nonexistent-folder/x.ini");
    EXPECT_EQ(message([&] { ini.EraseSection("S"); }), "<none>");  // nothing to erase
    TIniFile bad("bad.ini");
    EXPECT_EQ(message([&] { bad.WriteString("S", "k", "two\nlines"); }),
              "Unable to write to bad.ini");
    EXPECT_EQ(ini.ReadString("S", "k", "d"), "d");
}

class StoreDispatch : public TestHome {};

TEST_F(StoreDispatch, QuotesSurviveAnIniFile) {
    const struct {
        const char* value;
        const char* stored;
    } cases[] = {
        {"\"abc\"", "\"\"abc\"\""}, {"'abc'", "\"'abc'\""}, {"\"abc", "\"abc"}, {"abc'", "abc'"},
        {"\"", "\"\"\""},           {"plain", "plain"},     {"'x\"", "'x\""},   {"", ""},
    };
    TIniFile ini("quotes.ini");
    for (const auto& c : cases) {
        EXPECT_EQ(IniQuoted(c.value), c.stored) << c.value;
        StoreWriteString(&ini, "Q", "v", c.value);
        EXPECT_EQ(StoreReadString(&ini, "Q", "v", "<default>"), c.value) << c.value;
    }
    EXPECT_EQ(IniText("quotes.ini"), "[Q]\nv=\n");
}

TEST_F(StoreDispatch, PicksTheBackEndByClass) {
    TRegIniFile reg("Software\\Sample");
    TIniFile ini("Sample.INI");
    TObject other;
    StoreWriteString(&reg, "S", "text", "\"quoted\"");  // no INI quoting for the registry
    StoreWriteInteger(&reg, "S", "n", 5);
    StoreWriteString(&ini, "S", "text", "ini");
    StoreWriteInteger(&ini, "S", "n", 6);
    StoreWriteString(&other, "S", "text", "lost");
    StoreWriteInteger(nullptr, "S", "n", 7);

    EXPECT_EQ(StoreReadString(&reg, "S", "text", ""), "\"quoted\"");
    EXPECT_EQ(StoreReadInteger(&reg, "S", "n", 0), 5);
    EXPECT_EQ(StoreReadString(&ini, "S", "text", ""), "ini");
    EXPECT_EQ(StoreReadInteger(&ini, "S", "n", 0), 6);
    EXPECT_EQ(StoreReadString(&other, "S", "text", "d"), "d");
    EXPECT_EQ(StoreReadInteger(nullptr, "S", "n", 9), 9);
    EXPECT_EQ(IniText("Sample.INI"), "[S]\ntext=ini\nn=6\n");
}

}  // namespace
