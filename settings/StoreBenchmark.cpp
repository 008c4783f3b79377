// Prints the time of one whole save and one whole restore of the program's
// settings through the registry store: first the bare store (the values of
// the main window's section, written in their saving order and read back,
// each store opened and closed as the form placement does it), then the
// whole thing through TFormStorage on a window like the program's (window
// placement and the five stored fields), with the number of times the
// registry file was replaced per save.  Runs in a temporary configuration
// folder.

#include <stdlib.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "gui/Mask.h"
#include "gui/StdCtrls.h"
#include "settings/AppUtils.h"
#include "settings/Placemnt.h"
#include "settings/Registry.h"
#include "testing/SettingsHome.h"

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

// The program's main window, as far as its stored settings go.
class TForm1 : public TForm {
  public:
    explicit TForm1(TComponent* AOwner) : TForm(AOwner) {
        SetBorderStyle(bsSingle);
        SetPosition(poScreenCenter);
        SetClientSize(287, 225);
        auto* cbxProxy = Field<TCheckBox>("cbxProxy");
        cbxProxy->SetChecked(true);
        Field<TEdit>("edtProxy")->SetText("proxy.example");
        auto* port = Field<TMaskEdit>("edtPort");
        port->SetEditMask("9999;1;_");
        port->SetText("8080");
        Field<TEdit>("edtServer")->SetText("127.0.0.1");
        auto* timeOut = Field<TMaskEdit>("edtTimeOut");
        timeOut->SetEditMask("999;1;_");
        timeOut->SetText("20");
        Storage = new TFormStorage(this);
        Storage->SetOptions(TPlacementOptions{fpPosition});
        Storage->SetUseRegistry(true);
        Storage->SetIniFileName("Software\\kurs");
        for (const char* entry : {"cbxProxy.Checked", "edtProxy.Text", "edtPort.Text",
                                  "edtServer.Text", "edtTimeOut.Text"})
            Storage->StoredProps()->Add(entry);
    }
    String ClassName() const override { return "TForm1"; }
    TFormStorage* Storage;

  private:
    template <typename T>
    T* Field(const char* name) {
        T* c = new T(this);
        c->SetName(name);
        c->SetParent(this);
        return c;
    }
};

// Counts the replacements of the current user's registry file.
class TReplacementCounter {
  public:
    explicit TReplacementCounter(const std::string& folder)
        : FFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        if (FFd >= 0)
            ::inotify_add_watch(FFd, folder.c_str(), IN_MOVED_TO);
    }
    ~TReplacementCounter() {
        if (FFd >= 0)
            ::close(FFd);
    }
    int Take() {
        int count = 0;
        alignas(inotify_event) char buffer[4096];
        ssize_t n;
        while (FFd >= 0 && (n = ::read(FFd, buffer, sizeof(buffer))) > 0) {
            for (char* p = buffer; p < buffer + n;) {
                auto* event = reinterpret_cast<inotify_event*>(p);
                if (event->len > 0 && std::string(event->name) == "HKEY_CURRENT_USER.reg")
                    ++count;
                p += sizeof(inotify_event) + event->len;
            }
        }
        return count;
    }

  private:
    int FFd;
};

}  // namespace

int main() {
    testing_support::SettingsHome home;
    if (!home.Make("kurs-bench")) {
        std::perror("mkdtemp");
        return 1;
    }

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

    // The whole save and restore through TFormStorage.
    auto* form = NewForm<TForm1>(Application);
    form->Show();
    TReplacementCounter counter(home.RegistryFolder().string());
    counter.Take();
    saves.clear();
    restores.clear();
    int replacements = 0, most = 0;
    for (int round = 0; round < kRounds; ++round) {
        auto start = Clock::now();
        form->Storage->SaveSettings();
        saves.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        const int n = counter.Take();
        replacements += n;
        most = std::max(most, n);

        start = Clock::now();
        form->Storage->RestoreSettings();
        restores.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        counter.Take();
    }
    FreeForm(form);
    std::printf(
        "TFormStorage save (placement and 5 fields):       median %.3f ms, max %.3f ms, "
        "%.2f file replacements per save (at most %d)\n",
        Median(saves), *std::max_element(saves.begin(), saves.end()),
        static_cast<double>(replacements) / kRounds, most);
    std::printf("TFormStorage restore (placement and 5 fields):    median %.3f ms, max %.3f ms\n",
                Median(restores), *std::max_element(restores.begin(), restores.end()));
    return 0;
}
