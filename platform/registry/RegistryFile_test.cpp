#include "platform/registry/RegistryFile.h"

#include <gtest/gtest.h>

#include <string>

namespace win::regfile {
namespace {

constexpr const char* kRoot = "HKEY_CURRENT_USER";

Key ParseOk(const std::string& text) {
    Key root;
    std::string error;
    EXPECT_TRUE(Parse(text, kRoot, root, &error)) << error << "\n" << text;
    return root;
}

TEST(RegistryFile, SerializesEachFormAndParsesItBack) {
    Key root;
    Key& k = *root.AddSubkey("Software")->AddSubkey("kurs");
    k.SetValue("Plain", 1, std::string("C:\\Temp \"x\"\0", 12));
    k.SetValue("", 1, std::string("default\0", 8));
    k.SetValue("Cyr", 1, std::string("\xCA\xF3\xF0\xF1\0", 5));
    k.SetValue("Count", 4, std::string("\x0a\x00\x00\x00", 4));
    k.SetValue("Bin", 3, std::string("\x00\xff\x10", 3));
    k.SetValue("Expand", 2, std::string("%HOME%\0", 7));
    k.SetValue("Lines", 1, std::string("a\r\nb\0", 5));
    k.SetValue("Empty", 1, std::string());
    k.SetValue("Short dword", 4, std::string("\x01\x02", 2));
    root.AddSubkey("Empty key");

    const std::string text = Serialize(root, kRoot);
    EXPECT_EQ(text,
              "REGEDIT4\n\n"
              "[HKEY_CURRENT_USER\\Empty key]\n\n"
              "[HKEY_CURRENT_USER\\Software]\n\n"
              "[HKEY_CURRENT_USER\\Software\\kurs]\n"
              "\"Plain\"=\"C:\\\\Temp \\\"x\\\"\"\n"
              "@=\"default\"\n"
              "\"Cyr\"=\"\xCA\xF3\xF0\xF1\"\n"
              "\"Count\"=dword:0000000a\n"
              "\"Bin\"=hex(3):00,ff,10\n"
              "\"Expand\"=hex(2):25,48,4f,4d,45,25,00\n"
              "\"Lines\"=hex(1):61,0d,0a,62,00\n"
              "\"Empty\"=hex(1):\n"
              "\"Short dword\"=hex(4):01,02\n\n");

    Key back = ParseOk(text);
    EXPECT_EQ(Serialize(back, kRoot), text);
    ASSERT_NE(back.Subkey("EMPTY KEY"), nullptr);
    const Key* kk = back.Subkey("software")->Subkey("KURS");
    ASSERT_NE(kk, nullptr);
    EXPECT_EQ(kk->FindValue("plain")->data, std::string("C:\\Temp \"x\"\0", 12));
    EXPECT_EQ(kk->FindValue("Lines")->data, std::string("a\r\nb\0", 5));
    EXPECT_EQ(kk->FindValue("Empty")->type, 1u);
    EXPECT_TRUE(kk->FindValue("Empty")->data.empty());
}

TEST(RegistryFile, ReadsTheOtherSpellingsOfTheFormat) {
    Key root = ParseOk(
        "REGEDIT4\r\n\r\n"
        "; a comment\r\n"
        "[hkey_current_user\\A]\r\n"
        "\"Bin\"=hex:01,02,\\\r\n"
        "  03,04\r\n"
        "\"D\" = dword:ff\r\n"
        "\"Multi\"=hex(7):61,00,00\r\n"
        "[HKEY_CURRENT_USER\\A]\r\n"
        "\"Late\"=\"x\"\r\n");
    const Key* a = root.Subkey("a");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->FindValue("Bin")->type, 3u);
    EXPECT_EQ(a->FindValue("Bin")->data, std::string("\x01\x02\x03\x04"));
    EXPECT_EQ(a->FindValue("D")->data, std::string("\xff\0\0\0", 4));
    EXPECT_EQ(a->FindValue("Multi")->type, 7u);
    EXPECT_NE(a->FindValue("Late"), nullptr);
}

TEST(RegistryFile, RefusesDamagedText) {
    const struct {
        const char* text;
        const char* why;
    } cases[] = {
        {"", "empty file"},
        {"REGEDIT", "truncated header"},
        {"<binary>\x01\x02", "not a registry file"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"Name\"=\"tex", "string cut short"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"Na", "name cut short"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\So", "key line cut short"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"N\"=hex:01,", "hex list ending in a comma"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"N\"=hex:01,\\", "continued last line"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"N\"=dword:123456789", "dword too long"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"N\"=dword:xyz", "dword not hex"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"N\"=hex:1ff", "byte over two digits"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"N\"=what", "unknown data"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"N\"=\"a\" junk", "text after a string"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"N\"=\"a\\n\"", "unknown escape"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\nN=\"a\"", "unquoted name"},
        {"REGEDIT4\n\n\"N\"=\"a\"", "value before any key"},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n", "key of another root"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USER\\A\\\\B]\n", "empty key name"},
        {"REGEDIT4\n\n[HKEY_CURRENT_USERX\\A]\n", "root name with a tail"},
    };
    for (const auto& c : cases) {
        Key root;
        std::string error;
        EXPECT_FALSE(Parse(c.text, kRoot, root, &error)) << c.why;
        EXPECT_NE(error.find("line "), std::string::npos) << c.why;
    }
}

TEST(RegistryFile, FoldsCp1251Capitals) {
    EXPECT_TRUE(SameName("NormPos", "normpos"));
    EXPECT_TRUE(SameName("\xCA\xEB\xFE\xF7", "\xEA\xCB\xDE\xD7"));  // Ключ / кЛЮЧ
    EXPECT_TRUE(SameName("\xA8", "\xB8"));                          // Ё / ё
    EXPECT_TRUE(SameName("\xB2\xAF\xAA", "\xB3\xBF\xBA"));          // І Ї Є
    EXPECT_FALSE(SameName("\xC5", "\xB8"));                         // Е is not ё
    EXPECT_FALSE(SameName("a", "ab"));
    for (int c = 0; c < 256; ++c) {
        const auto f = FoldByte(static_cast<unsigned char>(c));
        EXPECT_EQ(FoldByte(f), f) << c;  // folding is stable
    }
}

TEST(RegistryFile, ReplaysChanges) {
    Key root;
    Apply(root, Change{Change::SetValue, {"A", "B"}, "v", 1, std::string("x\0", 2)});
    Apply(root, Change{Change::CreateKey, {"A", "C"}, {}, 0, {}});
    ASSERT_NE(root.Subkey("a"), nullptr);
    EXPECT_NE(root.Subkey("a")->Subkey("b")->FindValue("V"), nullptr);
    Apply(root, Change{Change::DeleteValue, {"a", "b"}, "V", 0, {}});
    EXPECT_EQ(root.Subkey("a")->Subkey("b")->FindValue("v"), nullptr);
    Apply(root, Change{Change::DeleteKey, {"a", "b"}, {}, 0, {}});
    EXPECT_EQ(root.Subkey("a")->Subkey("b"), nullptr);
    // A key that gained subkeys elsewhere keeps them; its values go.
    root.Subkey("a")->SetValue("w", 1, std::string("y\0", 2));
    Apply(root, Change{Change::DeleteKey, {"A"}, {}, 0, {}});
    ASSERT_NE(root.Subkey("a"), nullptr);
    EXPECT_TRUE(root.Subkey("a")->values.empty());
    EXPECT_NE(root.Subkey("a")->Subkey("c"), nullptr);
    // Missing keys are no fault.
    Apply(root, Change{Change::DeleteKey, {"X", "Y"}, {}, 0, {}});
    Apply(root, Change{Change::DeleteValue, {"X"}, "v", 0, {}});
}

TEST(RegistryFile, SplitsPaths) {
    Path p;
    EXPECT_TRUE(SplitPath("", p));
    EXPECT_TRUE(p.empty());
    EXPECT_TRUE(SplitPath("Software\\kurs\\", p));
    EXPECT_EQ(p, (Path{"Software", "kurs"}));
    EXPECT_FALSE(SplitPath("\\Software", p));
    EXPECT_FALSE(SplitPath("a\\\\b", p));
    EXPECT_FALSE(SplitPath("a\nb", p));
    EXPECT_TRUE(SplitPath(std::string(255, 'k'), p));
    EXPECT_FALSE(SplitPath(std::string(256, 'k'), p));
}

}  // namespace
}  // namespace win::regfile
