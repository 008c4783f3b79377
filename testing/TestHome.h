#pragma once
// Test fixture: points XDG_CONFIG_HOME at a fresh temporary folder for each
// test, so no test touches a real home folder, and removes it afterwards.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "testing/SettingsHome.h"

class TestHome : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(FHome.Make("kurs-settings"));
        Home = FHome.Path();
    }
    void TearDown() override { FHome.Remove(); }
    std::string FileText(const std::filesystem::path& p) const {
        return testing_support::FileText(p);
    }
    std::filesystem::path RegistryFile() const { return FHome.RegistryFile(); }
    std::string RegistryText() const { return FileText(RegistryFile()); }
    std::string IniText(const std::string& name) const {
        return FileText(FHome.WindowsFolder() / name);
    }

    std::filesystem::path Home;

  private:
    testing_support::SettingsHome FHome;
};
