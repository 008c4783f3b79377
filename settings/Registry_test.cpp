#include "settings/Registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "testing/TestHome.h"

using namespace win;

namespace {

// The message of the ERegistryException that f raises.
std::string RegistryError(const std::function<void()>& f) {
    try {
        f();
    } catch (const ERegistryException& e) {
        return e.Message();
    }
    return "<no ERegistryException>";
}

class RegIniFile : public TestHome {
  protected:
    // Puts a raw value below HKEY_CURRENT_USER, as another program might.
    static void PutRaw(const char* path, const char* name, DWORD type, const void* data,
                       DWORD size) {
        HKEY k = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &k, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(k, name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(k);
    }
    static DWORD TypeOf(const char* path, const char* name) {
        HKEY k = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &k) != ERROR_SUCCESS)
            return 0;
        DWORD type = 0;
        RegQueryValueExA(k, name, nullptr, &type, nullptr, nullptr);
        RegCloseKey(k);
        return type;
    }
};

TEST_F(RegIniFile, FirstStartReadsDefaultsAndLeavesTheStoreKeyBehind) {
    {
        TRegIniFile store("Software\\Sample");
        store.SetAccess(KEY_READ);
        EXPECT_EQ(store.ReadString("TForm1", "NormPos", "none"), "none");
        EXPECT_EQ(store.ReadInteger("TForm1", "Flags", 7), 7);
        EXPECT_EQ(store.FileName(), "Software\\Sample");
        EXPECT_EQ(store.CurrentPath(), "Software\\Sample");
    }
    EXPECT_EQ(RegistryText(),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Sample]\n\n");
}

TEST_F(RegIniFile, WritesEveryValueAsText) {
    {
        TRegIniFile store("Software\\Sample");
        store.WriteString("TForm1", "edtServer_Text", "www.cbr.ru");
        store.WriteInteger("TForm1", "PixelsPerInch", 96);
        store.WriteInteger("TForm1", "Negative", -12);
        store.WriteBool("TForm1", "Visible", true);
        store.WriteBool("TForm1", "Hidden", false);
        store.WriteString("TForm1", "\xD2\xE5\xEA\xF1\xF2", "\xC4\xE0");  // Текст = Да
        EXPECT_EQ(store.ReadString("TForm1", "EDTSERVER_TEXT", ""), "www.cbr.ru");
        EXPECT_EQ(store.ReadInteger("tform1", "PixelsPerInch", 0), 96);
        EXPECT_EQ(store.ReadInteger("TForm1", "Negative", 0), -12);
        EXPECT_TRUE(store.ReadBool("TForm1", "Visible", false));
        EXPECT_FALSE(store.ReadBool("TForm1", "Hidden", true));
    }
    EXPECT_EQ(TypeOf("Software\\Sample\\TForm1", "PixelsPerInch"), REG_SZ);
    EXPECT_EQ(RegistryText(),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Sample]\n\n"
              "[HKEY_CURRENT_USER\\Software\\Sample\\TForm1]\n"
              "\"edtServer_Text\"=\"www.cbr.ru\"\n\"PixelsPerInch\"=\"96\"\n"
              "\"Negative\"=\"-12\"\n\"Visible\"=\"1\"\n\"Hidden\"=\"0\"\n"
              "\"\xD2\xE5\xEA\xF1\xF2\"=\"\xC4\xE0\"\n\n");
}

TEST_F(RegIniFile, ReadsFollowTheTypeRules) {
    const DWORD ten = 10;
    PutRaw("Software\\Sample\\S", "Dword", REG_DWORD, &ten, 4);
    PutRaw("Software\\Sample\\S", "Text", REG_SZ, "12abc", 6);
    PutRaw("Software\\Sample\\S", "Hex", REG_SZ, "$1F", 4);
    PutRaw("Software\\Sample\\S", "Expand", REG_EXPAND_SZ, "%X%", 4);
    PutRaw("Software\\Sample\\S", "Empty", REG_SZ, "", 0);
    PutRaw("Software\\Sample\\S", "Inner", REG_SZ, "ab\0cd", 6);
    PutRaw("Software\\Sample\\S", "Binary", REG_BINARY, "\1\2", 2);

    TRegIniFile store("Software\\Sample");
    EXPECT_EQ(store.ReadInteger("S", "Text", -1), -1);  // no number: the default
    EXPECT_EQ(store.ReadInteger("S", "Missing", -2), -2);
    EXPECT_EQ(store.ReadInteger("Missing", "Text", -3), -3);
    EXPECT_EQ(store.ReadInteger("S", "Hex", 0), 31);
    EXPECT_EQ(store.ReadString("S", "Expand", "d"), "%X%");
    EXPECT_EQ(store.ReadString("S", "Empty", "d"), "");
    EXPECT_EQ(store.ReadString("S", "Inner", "d"), "ab");
    EXPECT_EQ(RegistryError([&] { store.ReadInteger("S", "Dword", 0); }),
              "Invalid data type for 'Dword'");
    EXPECT_EQ(RegistryError([&] { store.ReadString("S", "Binary", ""); }),
              "Invalid data type for 'Binary'");
    // The current key is the store key again after each failure.
    EXPECT_EQ(store.CurrentPath(), "Software\\Sample");
    EXPECT_EQ(store.ReadString("S", "Text", ""), "12abc");
}

TEST_F(RegIniFile, SectionsAreSubkeysAndEraseGoesDepthFirst) {
    {
        TRegIniFile store("Software\\Sample");
        store.WriteString("A\\B", "v", "1");
        store.WriteString("A\\B\\C", "v", "2");
        store.WriteString("A\\D", "v", "3");
        store.WriteString("A", "v", "4");
        store.WriteString("Kept", "v", "5");
        store.WriteString("\\Software\\FromRoot", "v", "6");
        EXPECT_EQ(store.ReadString("a\\b", "v", ""), "1");
        EXPECT_EQ(store.ReadString("\\Software\\Sample\\A\\D", "v", ""), "3");
        TStringList sections;
        store.ReadSections(&sections);
        ASSERT_EQ(sections.Count(), 2);
        EXPECT_EQ(sections[0], "A");
        EXPECT_EQ(sections[1], "Kept");
        store.EraseSection("A");
        EXPECT_FALSE(store.SectionExists("A"));
        EXPECT_EQ(store.ReadString("A\\B", "v", "gone"), "gone");
        store.EraseSection("Missing");  // no fault
        store.EraseSection("");         // never the store key itself
        EXPECT_EQ(store.ReadString("Kept", "v", ""), "5");
    }
    const std::string text = RegistryText();
    EXPECT_EQ(text.find("Sample\\A"), std::string::npos) << text;
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\FromRoot]\n\"v\"=\"6\""), std::string::npos);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Sample\\Kept]"), std::string::npos);
}

TEST_F(RegIniFile, ReadOnlyOrRefusedWritesRaise) {
    TRegIniFile store("Software\\Sample");
    store.WriteString("S", "v", "old");
    store.SetAccess(KEY_READ);
    EXPECT_EQ(RegistryError([&] { store.WriteString("S", "v", "new"); }),
              "Failed to set data for 'v'");
    EXPECT_EQ(store.ReadString("S", "v", ""), "old");

    // A store key opened for reading only cannot get new subkeys.
    TRegIniFile other("Software\\Other");
    other.SetAccess(KEY_READ);
    ASSERT_TRUE(other.OpenKey("\\Software\\Other", false));
    EXPECT_EQ(RegistryError([&] { other.WriteInteger("New", "n", 1); }),
              "Failed to create key New");
}

TEST_F(RegIniFile, TheUserIsToldWhySettingsWereNotKept) {
    const std::filesystem::path dir = Home / "kurs" / "registry";
    const std::string file = (dir / "HKEY_CURRENT_USER.reg").string();
    const struct {
        const char* name;
        std::function<void()> make;
        String told;
    } cases[] = {
        {"nothing in the way", [] {}, ""},
        {"a read-only file",
         [&] {
             std::filesystem::create_directories(dir);
             std::ofstream(file) << "REGEDIT4\n\n";
             std::filesystem::permissions(file, std::filesystem::perms::owner_read);
         },
         "Файл настроек доступен только для чтения: "_cp + file +
             ".\r\nНастройки не сохранены."_cp},
        {"a folder where the file should be", [&] { std::filesystem::create_directories(file); },
         "Файл настроек нельзя прочитать: "_cp + file +
             " (Is a directory).\r\nПрограмма работает с начальными установками, настройки не "
             "сохранены."_cp},
        {"a file where the folder should be", [&] { std::ofstream(Home / "kurs") << "x"; },
         "Настройки не сохранены: "_cp + file + " (cannot create the folder: Not a directory)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(Home / "kurs");
        c.make();
        ::testing::internal::CaptureStderr();
        {
            TRegIniFile store("Software\\Sample");
            store.WriteString("TForm1", "edtServer_Text", "10.0.0.7");
        }
        ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(RegistrySettingsProblem(), c.told);
    }
    // Once saving works again, nothing is told.
    std::filesystem::remove_all(Home / "kurs");
    { TRegIniFile("Software\\Sample").WriteString("TForm1", "edtServer_Text", "10.0.0.7"); }
    EXPECT_EQ(RegistrySettingsProblem(), "");
}

TEST_F(RegIniFile, ReadOnlyOtherRootWithoutTheKeyLooksAtTheRoot) {
    HKEY k = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "TForm1", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &k, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(k, "Flags", 0, REG_SZ, reinterpret_cast<const BYTE*>("5"), 2),
              ERROR_SUCCESS);
    RegCloseKey(k);

    TRegIniFile store("Software\\Sample");
    store.SetAccess(KEY_READ);
    store.SetRootKey(HKEY_LOCAL_MACHINE);
    EXPECT_EQ(store.CurrentKey(), nullptr);
    EXPECT_FALSE(store.OpenKey("Software\\Sample", false));
    EXPECT_EQ(store.ReadInteger("TForm1", "Flags", 0), 5);
    EXPECT_EQ(store.ReadString("TForm1", "NormPos", "d"), "d");
    // The key path was still made below the current user.
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Sample", 0, KEY_READ, &k), ERROR_SUCCESS);
    RegCloseKey(k);
}

class Registry : public TestHome {};

TEST_F(Registry, KeysValuesAndPaths) {
    {
        TRegistry reg;
        EXPECT_EQ(reg.RootKey(), HKEY_CURRENT_USER);
        EXPECT_EQ(reg.Access(), KEY_ALL_ACCESS);
        ASSERT_TRUE(reg.OpenKey("Software", true));
        ASSERT_TRUE(reg.OpenKey("kurs\\Keys", true));
        EXPECT_EQ(reg.CurrentPath(), "Software\\kurs\\Keys");
        reg.WriteInteger("Count", 0x7fffffff);
        reg.WriteInteger("Minus", -1);
        reg.WriteExpandString("Path", "%HOME%");
        const unsigned char bytes[] = {0, 1, 254, 255};
        reg.WriteBinaryData("Bytes", bytes, 4);
        EXPECT_EQ(reg.ReadInteger("Count"), 0x7fffffff);
        EXPECT_EQ(reg.ReadInteger("Minus"), -1);
        EXPECT_EQ(reg.ReadString("Path"), "%HOME%");
        EXPECT_EQ(reg.GetDataType("Path"), rdExpandString);
        EXPECT_EQ(reg.GetDataType("Count"), rdInteger);
        EXPECT_EQ(reg.GetDataSize("Bytes"), 4);
        EXPECT_EQ(reg.GetDataSize("Missing"), -1);
        unsigned char back[8] = {};
        EXPECT_EQ(reg.ReadBinaryData("Bytes", back, sizeof back), 4);
        EXPECT_EQ(back[2], 254);
        EXPECT_EQ(RegistryError([&] { reg.ReadBinaryData("Bytes", back, 2); }),
                  "Failed to get data for 'Bytes'");
        EXPECT_EQ(RegistryError([&] { reg.ReadInteger("Path"); }), "Invalid data type for 'Path'");
        TStringList names;
        reg.GetValueNames(&names);
        EXPECT_EQ(names.Count(), 4);
        EXPECT_TRUE(reg.DeleteValue("count"));
        EXPECT_FALSE(reg.ValueExists("Count"));
        EXPECT_FALSE(reg.DeleteValue("Count"));

        ASSERT_TRUE(reg.OpenKey("\\Software\\kurs", false));
        EXPECT_EQ(reg.CurrentPath(), "Software\\kurs");
        EXPECT_TRUE(reg.KeyExists("Keys"));
        EXPECT_TRUE(reg.HasSubKeys());
        reg.GetKeyNames(&names);
        ASSERT_EQ(names.Count(), 1);
        EXPECT_EQ(names[0], "Keys");
        EXPECT_FALSE(reg.DeleteKey(""));
        EXPECT_TRUE(reg.DeleteKey("Keys"));
        EXPECT_FALSE(reg.KeyExists("Keys"));
        EXPECT_FALSE(reg.OpenKey("Keys", false));
        EXPECT_EQ(reg.CurrentPath(), "Software\\kurs");  // a failed opening changes nothing
        EXPECT_TRUE(reg.OpenKeyReadOnly(""));
        EXPECT_EQ(RegistryError([&] { reg.WriteString("x", "y"); }), "Failed to set data for 'x'");
        reg.CloseKey();
        EXPECT_EQ(reg.CurrentKey(), nullptr);
        EXPECT_EQ(reg.CurrentPath(), "");
    }
}

// A value that is missing, or larger than the buffer it is read into,
// cannot be got: the failure names the value.  A text read of a missing
// value is no failure (it says so by its result).
TEST_F(Registry, AValueThatCannotBeGotNamesItself) {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKey("Software\\kurs\\Get", true));
    const unsigned char bytes[] = {1, 2, 3, 4, 5};
    reg.WriteBinaryData("Five", bytes, 5);
    unsigned char buffer[8] = {};
    const struct {
        const char* what;
        std::function<void()> read;
        const char* error;
    } cases[] = {
        {"integer", [&] { reg.ReadInteger("Gone"); }, "Failed to get data for 'Gone'"},
        {"bool", [&] { reg.ReadBool("Gone"); }, "Failed to get data for 'Gone'"},
        {"binary", [&] { reg.ReadBinaryData("Gone", buffer, 8); }, "Failed to get data for 'Gone'"},
        {"short buffer", [&] { reg.ReadBinaryData("Five", buffer, 4); },
         "Failed to get data for 'Five'"},
        {"negative size", [&] { reg.ReadBinaryData("Five", buffer, -1); },
         "Failed to get data for 'Five'"},
        {"exact buffer", [&] { EXPECT_EQ(reg.ReadBinaryData("Five", buffer, 5), 5); },
         "<no ERegistryException>"},
        {"text", [&] { EXPECT_EQ(reg.ReadString("Gone"), ""); }, "<no ERegistryException>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RegistryError(c.read), c.error) << c.what;
}

}  // namespace
