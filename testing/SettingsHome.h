#pragma once
// Temporary folders for tests: a fresh folder that is removed with all it
// holds, and a settings home, such a folder named by XDG_CONFIG_HOME, so that
// no test reads or writes a real user's settings.

#include <filesystem>
#include <string>

namespace testing_support {

// A fresh folder under the system's temporary folder, made by Make and
// removed with everything in it by Remove or when the object goes.
class TempFolder {
  public:
    TempFolder() = default;
    ~TempFolder() { Remove(); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Makes a new folder PREFIX-XXXXXX (removing one made before); false
    // when it cannot be made.
    bool Make(const std::string& prefix);
    void Remove();
    const std::filesystem::path& Path() const { return FPath; }

  private:
    std::filesystem::path FPath;
};

// A TempFolder that XDG_CONFIG_HOME names from Make on.  The variable is not
// put back when the folder goes: a later test that makes no home of its own
// then writes below a temporary path, never into a real home folder.
class SettingsHome : public TempFolder {
  public:
    bool Make(const std::string& prefix = "kurs-settings");
    // The registry's folder and the current user's file in it, and the
    // folder of the INI files given by a bare name.
    std::filesystem::path RegistryFolder() const;
    std::filesystem::path RegistryFile() const;
    std::filesystem::path WindowsFolder() const;
};

// The bytes of a whole file; empty when it cannot be read.
std::string FileText(const std::filesystem::path& path);

}  // namespace testing_support
