#pragma once
// What the registry's tests share: a fixture that gives each test its own
// settings home, and helpers that make keys and read and write values and
// whole files.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "platform/registry/Registry.h"
#include "testing/SettingsHome.h"

namespace win::registry_test {

namespace fs = std::filesystem;

inline std::string ReadText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void WriteText(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
}

class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(home.Make("kurs-registry"));
        home_ = home.Path();
        dir_ = home.RegistryFolder();
        file_ = home.RegistryFile();
    }
    void TearDown() override { home.Remove(); }

    // Rewrites the file as a new inode, as another program's save would, so
    // the next opening reads it again.
    void ReplaceFileContent(const std::string& text) {
        fs::create_directories(dir_);
        WriteText(dir_ / "other.tmp", text);
        fs::rename(dir_ / "other.tmp", file_);
    }
    std::string FileText() const { return ReadText(file_); }

    testing_support::SettingsHome home;
    fs::path home_, dir_, file_;
};

inline HKEY Create(HKEY parent, const char* path, REGSAM sam = KEY_ALL_ACCESS) {
    HKEY k = nullptr;
    EXPECT_EQ(RegCreateKeyExA(parent, path, 0, nullptr, 0, sam, nullptr, &k, nullptr),
              ERROR_SUCCESS)
        << path;
    return k;
}

inline LONG SetString(HKEY k, const char* name, const std::string& text) {
    return RegSetValueExA(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1));
}

// The value's type and bytes, or the error code as type when it fails.
inline std::pair<DWORD, std::string> Get(HKEY k, const char* name) {
    DWORD type = 0, size = 0;
    LONG e = RegQueryValueExA(k, name, nullptr, &type, nullptr, &size);
    if (e != ERROR_SUCCESS)
        return {0xE0000000u | static_cast<DWORD>(e), ""};
    std::string data(size, '\0');
    e = RegQueryValueExA(k, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    EXPECT_EQ(e, ERROR_SUCCESS);
    data.resize(size);
    return {type, data};
}

inline std::string GetString(HKEY k, const char* name) {
    auto [type, data] = Get(k, name);
    if (type != REG_SZ || data.empty())
        return "<none>";
    return data.substr(0, data.size() - 1);
}

}  // namespace win::registry_test
