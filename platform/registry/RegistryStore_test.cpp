// The registry store: typed values, names, access, queries, enumeration,
// deletion, paths, and when and how the file is written, merged and set aside.

#include "platform/registry/RegistryTestFixture.h"

#include <cstring>
#include <vector>

#include "platform/files/ConfigFiles.h"

namespace win {
namespace {

using namespace registry_test;

TEST_F(Registry, EveryTypeRoundTripsThroughTheFile) {
    std::string binary;
    for (int i = 0; i < 256; ++i)
        binary.push_back(static_cast<char>(i));
    const struct {
        const char* name;
        DWORD type;
        std::string data;
    } values[] = {
        {"Text", REG_SZ, std::string("C:\\Temp \"q\" \xCA\xF3\xF0\xF1\xFB\0", 18)},
        {"", REG_SZ, std::string("default\0", 8)},
        {"Expand", REG_EXPAND_SZ, std::string("%HOME%\\x\0", 9)},
        {"Number", REG_DWORD, std::string("\x2a\x00\x00\x01", 4)},
        {"Binary", REG_BINARY, binary},
        {"Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
        {"Two lines", REG_SZ, std::string("a\nb\0", 4)},
        {"No data", REG_SZ, std::string()},
        {"Quad", REG_QWORD, std::string("\1\2\3\4\5\6\7\x08", 8)},
    };
    HKEY k = Create(HKEY_CURRENT_USER, "Software\\kurs\\TForm1");
    for (const auto& v : values)
        ASSERT_EQ(RegSetValueExA(k, v.name, 0, v.type, reinterpret_cast<const BYTE*>(v.data.data()),
                                 static_cast<DWORD>(v.data.size())),
                  ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(k), ERROR_SUCCESS);

    const std::string text = FileText();
    EXPECT_EQ(text.rfind("REGEDIT4\n\n", 0), 0u);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\kurs\\TForm1]\n"
                        "\"Text\"=\"C:\\\\Temp \\\"q\\\" \xCA\xF3\xF0\xF1\xFB\"\n"
                        "@=\"default\"\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\"Number\"=dword:0100002a\n"), std::string::npos);
    EXPECT_NE(text.find("\"Binary\"=hex(3):00,01,02,"), std::string::npos);

    ReplaceFileContent(text);  // read back from the file alone
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\kurs\\TForm1", 0, KEY_READ, &k),
              ERROR_SUCCESS);
    for (const auto& v : values) {
        auto [type, data] = Get(k, v.name);
        EXPECT_EQ(type, v.type) << v.name;
        EXPECT_EQ(data, v.data) << v.name;
    }
    RegCloseKey(k);
}

TEST_F(Registry, NamesIgnoreCaseAndKeepTheirFirstSpelling) {
    HKEY k = Create(HKEY_CURRENT_USER, "Software\\Kurs\\\xCA\xEB\xFE\xF7");  // Ключ
    ASSERT_EQ(SetString(k, "NormPos", "1,2,3,4"), ERROR_SUCCESS);
    ASSERT_EQ(SetString(k, "NORMPOS", "5,6,7,8"), ERROR_SUCCESS);        // the same value
    ASSERT_EQ(SetString(k, "\xB8\xEB\xEA\xE0", "tree"), ERROR_SUCCESS);  // ёлка
    RegCloseKey(k);

    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\kurs\\\xEA\xCB\xDE\xD7", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &k, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    EXPECT_EQ(GetString(k, "normpos"), "5,6,7,8");
    EXPECT_EQ(GetString(k, "\xA8\xCB\xCA\xC0"), "tree");  // ЁЛКА
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, 2u);
    RegCloseKey(k);
    EXPECT_NE(FileText().find("[HKEY_CURRENT_USER\\Software\\Kurs\\\xCA\xEB\xFE\xF7]\n"
                              "\"NormPos\"=\"5,6,7,8\"\n"),
              std::string::npos)
        << FileText();
}

TEST_F(Registry, AccessOfAHandleIsHonoured) {
    HKEY k = Create(HKEY_CURRENT_USER, "Software\\kurs");
    ASSERT_EQ(SetString(k, "Kept", "yes"), ERROR_SUCCESS);
    HKEY child = Create(k, "Existing");
    RegCloseKey(child);
    RegCloseKey(k);

    HKEY ro = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\kurs", 0, KEY_READ, &ro), ERROR_SUCCESS);
    EXPECT_EQ(SetString(ro, "Kept", "no"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(SetString(ro, "New", "no"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(ro, "Kept"), ERROR_ACCESS_DENIED);
    HKEY sub = nullptr;
    EXPECT_EQ(RegCreateKeyExA(ro, "Missing", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(sub, nullptr);
    // Creating what exists only opens it, which a read handle may do.
    ASSERT_EQ(RegCreateKeyExA(ro, "Existing", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(sub);
    EXPECT_EQ(GetString(ro, "Kept"), "yes");
    RegCloseKey(ro);

    HKEY wo = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\kurs", 0, KEY_WRITE, &wo), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(wo, "Kept", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
    EXPECT_EQ(SetString(wo, "Kept", "changed"), ERROR_SUCCESS);
    RegCloseKey(wo);
    EXPECT_NE(FileText().find("\"Kept\"=\"changed\""), std::string::npos);
}

TEST_F(Registry, QueryValueReportsSizesAndShortBuffers) {
    HKEY k = Create(HKEY_CURRENT_USER, "Software\\kurs");
    ASSERT_EQ(SetString(k, "Name", "abcdef"), ERROR_SUCCESS);
    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExA(k, "Name", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, 7u);
    char buf[16];
    std::memset(buf, 'x', sizeof buf);
    size = 3;
    EXPECT_EQ(RegQueryValueExA(k, "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(buf[3], 'x');  // nothing beyond the stated size was touched
    size = sizeof buf;
    EXPECT_EQ(RegQueryValueExA(k, "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(buf, "abcdef");
    EXPECT_EQ(RegQueryValueExA(k, "Name", nullptr, nullptr, reinterpret_cast<BYTE*>(buf), nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegQueryValueExA(k, "Missing", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(k, "Missing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueA(k, "NAME"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(k, "Name", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
    // Bad input is refused before anything changes.
    EXPECT_EQ(SetString(k, "Line\nbreak", "x"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(k, "x", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(
        RegSetValueExA(k, "x", 0, REG_BINARY, reinterpret_cast<const BYTE*>(buf), (1u << 20) + 1),
        ERROR_INVALID_PARAMETER);
    RegCloseKey(k);
    EXPECT_EQ(RegCloseKey(k), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetString(k, "x", "y"), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetString(HKEY_PERFORMANCE_DATA, "x", "y"), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, EnumeratesAndDescribesKeys) {
    HKEY k = Create(HKEY_CURRENT_USER, "Software\\Enum");
    for (const char* name : {"beta", "Alpha", "gamma", "\xC4\xE5\xEB\xFC\xF2\xE0"})
        RegCloseKey(Create(k, name));
    ASSERT_EQ(SetString(k, "Second", "2"), ERROR_SUCCESS);
    ASSERT_EQ(SetString(k, "First value", "1"), ERROR_SUCCESS);
    ASSERT_EQ(SetString(k, "Second", "22222"), ERROR_SUCCESS);

    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD n = sizeof name;
        FILETIME ft;
        const LONG e = RegEnumKeyExA(k, i, name, &n, nullptr, nullptr, nullptr, &ft);
        if (e == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(e, ERROR_SUCCESS);
        EXPECT_EQ(n, std::strlen(name));
        EXPECT_NE(ft.dwHighDateTime, 0u);
        names.push_back(name);
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"Alpha", "beta", "gamma", "\xC4\xE5\xEB\xFC\xF2\xE0"}));
    char small[5];
    DWORD n = sizeof small;
    EXPECT_EQ(RegEnumKeyExA(k, 0, small, &n, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);

    DWORD subKeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
    ASSERT_EQ(RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &subKeys, &maxSub, nullptr, &values,
                               &maxName, &maxData, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 4u);
    EXPECT_EQ(maxSub, 6u);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(maxName, 11u);  // "First value"
    EXPECT_EQ(maxData, 6u);   // "22222" and its NUL

    // Values come in the order they were first set.
    std::vector<std::string> valueNames;
    for (DWORD i = 0;; ++i) {
        char name[64];
        DWORD nn = sizeof name, type = 0;
        const LONG e = RegEnumValueA(k, i, name, &nn, nullptr, &type, nullptr, nullptr);
        if (e == ERROR_NO_MORE_ITEMS)
            break;
        ASSERT_EQ(e, ERROR_SUCCESS);
        valueNames.push_back(name);
    }
    EXPECT_EQ(valueNames, (std::vector<std::string>{"Second", "First value"}));
    RegCloseKey(k);
}

TEST_F(Registry, DeletesOnlyKeysWithoutSubkeys) {
    HKEY k = Create(HKEY_CURRENT_USER, "Software\\Del\\Section\\Deeper");
    HKEY parent = Create(HKEY_CURRENT_USER, "Software\\Del");
    EXPECT_EQ(RegDeleteKeyA(parent, "Section"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(parent, "Section\\Deeper"), ERROR_SUCCESS);
    // The handle of a deleted key stays valid but reaches nothing.
    EXPECT_EQ(SetString(k, "x", "y"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(parent, "section\\deeper"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(parent, "SECTION"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(parent, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, ""), ERROR_ACCESS_DENIED);
    RegCloseKey(parent);
    const std::string text = FileText();
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Del]"), std::string::npos);
    EXPECT_EQ(text.find("Section"), std::string::npos) << text;
}

TEST_F(Registry, PathsAreChecked) {
    HKEY k = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "\\Software", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &k, nullptr),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "a\\\\b", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &k, nullptr),
              ERROR_BAD_PATHNAME);
    const std::string longName(256, 'n');
    EXPECT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, longName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &k, nullptr),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Missing\\Key", 0, KEY_READ, &k),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(k, nullptr);
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "x", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);

    k = Create(HKEY_CURRENT_USER, "Software\\Trailing\\");
    HKEY same = nullptr;
    ASSERT_EQ(RegOpenKeyExA(k, "", 0, KEY_READ, &same), ERROR_SUCCESS);
    EXPECT_NE(same, k);
    ASSERT_EQ(SetString(k, "v", "1"), ERROR_SUCCESS);
    EXPECT_EQ(GetString(same, "v"), "1");
    RegCloseKey(same);
    RegCloseKey(k);
    EXPECT_NE(FileText().find("[HKEY_CURRENT_USER\\Software\\Trailing]\n\"v\"=\"1\""),
              std::string::npos);
}

TEST_F(Registry, WritesWhenTheLastHandleClosesOrOnFlush) {
    HKEY a = Create(HKEY_CURRENT_USER, "Software\\Late");
    HKEY b = Create(HKEY_CURRENT_USER, "Software\\Other");
    ASSERT_EQ(SetString(a, "v", "1"), ERROR_SUCCESS);
    EXPECT_FALSE(fs::exists(file_));
    RegCloseKey(a);
    EXPECT_FALSE(fs::exists(file_));  // b is still open
    ASSERT_EQ(SetString(b, "w", "2"), ERROR_SUCCESS);
    ASSERT_EQ(RegFlushKey(b), ERROR_SUCCESS);
    EXPECT_NE(FileText().find("\"w\"=\"2\""), std::string::npos);
    ASSERT_EQ(SetString(b, "w", "3"), ERROR_SUCCESS);
    EXPECT_NE(FileText().find("\"w\"=\"2\""), std::string::npos);
    RegCloseKey(b);
    EXPECT_NE(FileText().find("\"w\"=\"3\""), std::string::npos);
    EXPECT_NE(FileText().find("\"v\"=\"1\""), std::string::npos);
    // A change through a root key itself with nothing open is written at once.
    ASSERT_EQ(SetString(HKEY_CURRENT_USER, "AtRoot", "r"), ERROR_SUCCESS);
    EXPECT_NE(FileText().find("[HKEY_CURRENT_USER]\n\"AtRoot\"=\"r\""), std::string::npos);
    EXPECT_EQ(fs::status(file_).permissions() & fs::perms::others_read, fs::perms::none);
    // Each root has a file of its own.
    ASSERT_EQ(SetString(HKEY_LOCAL_MACHINE, "m", "1"), ERROR_SUCCESS);
    EXPECT_TRUE(fs::exists(dir_ / "HKEY_LOCAL_MACHINE.reg"));
    EXPECT_EQ(FileText().find("\"m\""), std::string::npos);
}

TEST_F(Registry, SavingMergesWhatAnotherProgramWrote) {
    HKEY k = Create(HKEY_CURRENT_USER, "Software\\Shared");
    ASSERT_EQ(SetString(k, "Mine", "1"), ERROR_SUCCESS);
    ASSERT_EQ(SetString(k, "Gone", "x"), ERROR_SUCCESS);
    RegCloseKey(k);

    // Another program adds values and a key while we hold the key open.
    k = Create(HKEY_CURRENT_USER, "Software\\Shared");
    ReplaceFileContent(
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Shared]\n\"Mine\"=\"1\"\n\"Gone\"=\"x\"\n"
        "\"Theirs\"=\"2\"\n\n[HKEY_CURRENT_USER\\Software\\TheirKey]\n\"t\"=dword:00000001\n\n");
    ASSERT_EQ(SetString(k, "Mine", "changed"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(k, "Gone"), ERROR_SUCCESS);
    RegCloseKey(k);
    const std::string text = FileText();
    EXPECT_NE(text.find("\"Mine\"=\"changed\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"Theirs\"=\"2\""), std::string::npos) << text;
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\TheirKey]\n\"t\"=dword:00000001"),
              std::string::npos);
    EXPECT_EQ(text.find("Gone"), std::string::npos);

    // Reopening sees the other program's values.
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\TheirKey", 0, KEY_READ, &k),
              ERROR_SUCCESS);
    EXPECT_EQ(Get(k, "t").first, REG_DWORD);
    RegCloseKey(k);
}

TEST_F(Registry, DamagedFileIsMovedAsideAndTheStoreStartsEmpty) {
    const char* damaged[] = {
        "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\kurs\\TForm1]\n\"NormPos\"=\"1,2,3",
        "\x7f"
        "ELF\x02\x01\x01\0\0\0garbage",
        "",
    };
    for (const char* text : damaged) {
        ReplaceFileContent(text);
        ::testing::internal::CaptureStderr();
        HKEY k = nullptr;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\kurs\\TForm1", 0, KEY_READ, &k),
                  ERROR_FILE_NOT_FOUND);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("HKEY_CURRENT_USER.reg cannot be parsed"), std::string::npos) << err;
        EXPECT_NE(err.find("moved aside"), std::string::npos) << err;
        EXPECT_FALSE(fs::exists(file_));

        // The next save writes a sound file; the damaged one is kept aside.
        k = Create(HKEY_CURRENT_USER, "Software\\kurs\\TForm1");
        ASSERT_EQ(SetString(k, "NormPos", "5,6,7,8"), ERROR_SUCCESS);
        RegCloseKey(k);
        EXPECT_NE(FileText().find("\"NormPos\"=\"5,6,7,8\""), std::string::npos);
    }
    int aside = 0;
    for (const auto& e : fs::directory_iterator(dir_)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("HKEY_CURRENT_USER.reg.corrupt-", 0) == 0)
            ++aside;
    }
    EXPECT_EQ(aside, 3);
}

}  // namespace
}  // namespace win
