#include "testing/SettingsHome.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>

namespace testing_support {

bool TempFolder::Make(const std::string& prefix) {
    Remove();
    std::string name = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(name.data()))
        return false;
    FPath = name;
    return true;
}

void TempFolder::Remove() {
    if (FPath.empty())
        return;
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
    FPath.clear();
}

bool SettingsHome::Make(const std::string& prefix) {
    if (!TempFolder::Make(prefix))
        return false;
    ::setenv("XDG_CONFIG_HOME", Path().c_str(), 1);
    return true;
}

std::filesystem::path SettingsHome::RegistryFolder() const {
    return Path() / "kurs" / "registry";
}

std::filesystem::path SettingsHome::RegistryFile() const {
    return RegistryFolder() / "HKEY_CURRENT_USER.reg";
}

std::filesystem::path SettingsHome::WindowsFolder() const {
    return Path() / "kurs" / "windows";
}

std::string FileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace testing_support
