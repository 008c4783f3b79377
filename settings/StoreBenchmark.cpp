// Prints the time of one whole save and one whole restore of the program's
// settings through the registry store: the values of the main window's
// section, written in their saving order and read back, each store opened
// and closed as the form placement does it (one file replacement per save).
// Runs in a temporary configuration folder.

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "settings/AppUtils.h"
#include "settings/Registry.h"

namespace {

struct Entry {
    const char* name;
    const char* value;
};

const Entry kValues[] = {
    {"FormVersion", "0"},
    {"Flags", "0"},
    {"ShowCmd", "1"},
    {"PixelsPerInch", "96"},
    {"MinMaxPos(1024x768)", "-1,-1,-1,-1"},
    {"MinMaxPos", "-1,-1,-1,-1"},
    {"NormPos(1024x768)", "100,100,600,460"},
    {"NormPos", "100,100,600,460"},
    {"Visible", "0"},
    {"cbxProxy_Checked", "False"},
    {"edtProxy_Text", "proxy.example"},
    {"edtPort_Text", "8080"},
    {"edtServer_Text", "www.cbr.ru"},
    {"edtTimeOut_Text", "30"},
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kurs-bench-XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    ::setenv("XDG_CONFIG_HOME", tmpl.c_str(), 1);

    constexpr int kRounds = 200;
    std::vector<double> saves, restores;
    using Clock = std::chrono::steady_clock;
    for (int round = 0; round < kRounds; ++round) {
        auto start = Clock::now();
        {
            TRegIniFile store("Software\\kurs");
            for (const auto& e : kValues)
                StoreWriteString(&store, "TForm1", e.name, e.value);
        }
        saves.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());

        start = Clock::now();
        std::size_t total = 0;
        {
            TRegIniFile store("Software\\kurs");
            store.SetAccess(win::KEY_READ);
            for (const auto& e : kValues)
                total += StoreReadString(&store, "TForm1", e.name, "").size();
        }
        restores.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        if (total == 0)
            std::printf("nothing read back\n");
    }
    std::printf("settings save (14 values, one file replacement): median %.3f ms, max %.3f ms\n",
                Median(saves), *std::max_element(saves.begin(), saves.end()));
    std::printf("settings restore (14 values):                     median %.3f ms, max %.3f ms\n",
                Median(restores), *std::max_element(restores.begin(), restores.end()));
    std::error_code ec;
    std::filesystem::remove_all(tmpl, ec);
    return 0;
}
