#pragma once
// Test fixture: points XDG_CONFIG_HOME at a fresh temporary folder for each
// test, so no test touches a real home folder, and removes it afterwards.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class TestHome : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "kurs-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        Home = tmpl;
        ::setenv("XDG_CONFIG_HOME", tmpl.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(Home, ec);
    }
    std::string FileText(const std::filesystem::path& p) const {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string RegistryText() const {
        return FileText(Home / "kurs" / "registry" / "HKEY_CURRENT_USER.reg");
    }
    std::string IniText(const std::string& name) const {
        return FileText(Home / "kurs" / "windows" / name);
    }

    std::filesystem::path Home;
};
