#include "app/ReportCommand.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>

#include "app/StoredSettings.h"
#include "app/untMain.h"
#include "gui/Dialogs.h"
#include "gui/Forms.h"
#include "gui/Input.h"

#include "KursVersion.h"

const char* const ReportUsage =
    "usage: kurs-report [--date DATE] [--server TEXT] [--timeout SECONDS]\n"
    "                   [--proxy HOST:PORT | --no-proxy] [--quiet] [--help] [--version]\n"
    "\n"
    "Fetches the rates of DATE (dd.mm.yyyy, dd/mm/yyyy or yyyy-mm-dd; today by\n"
    "default) the way the kurs window does, with its stored settings, and prints\n"
    "the report.  Status texts and messages go to stderr.  Exit status: 0 done,\n"
    "1 a message was shown, 2 usage error.\n"
    "\n"
    "  --server TEXT      the rates server (address[:port] or URL)\n"
    "  --timeout SECONDS  the answer time-out, 0 to 999 (0 means one second)\n"
    "  --proxy HOST:PORT  go through this HTTP proxy (port 0 to 9999)\n"
    "  --no-proxy         go direct even when the window's settings use a proxy\n"
    "  --quiet            no status texts\n";

namespace {

bool AllDigits(std::string_view s) {
    if (s.empty())
        return false;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

int Number(std::string_view s) {
    int n = 0;
    for (char c : s)
        n = n * 10 + (c - '0');
    return n;
}

}  // namespace

std::optional<TDateTime> ParseReportDate(const std::string& Text) {
    std::string_view t = Text;
    int day = 0, month = 0, year = 0;
    if (t.size() == 10 && (t[2] == '.' || t[2] == '/') && t[5] == t[2] &&
        AllDigits(t.substr(0, 2)) && AllDigits(t.substr(3, 2)) && AllDigits(t.substr(6, 4))) {
        day = Number(t.substr(0, 2));
        month = Number(t.substr(3, 2));
        year = Number(t.substr(6, 4));
    } else if (t.size() == 10 && t[4] == '-' && t[7] == '-' && AllDigits(t.substr(0, 4)) &&
               AllDigits(t.substr(5, 2)) && AllDigits(t.substr(8, 2))) {
        year = Number(t.substr(0, 4));
        month = Number(t.substr(5, 2));
        day = Number(t.substr(8, 2));
    } else {
        return std::nullopt;
    }
    TDateTime date = 0;
    if (year < 1 || !TryEncodeDate(year, month, day, date))
        return std::nullopt;
    return date;
}

bool ParseReportOptions(const std::vector<std::string>& Args, TReportOptions& Options,
                        std::string& Error) {
    for (std::size_t i = 0; i < Args.size(); ++i) {
        std::string name = Args[i];
        std::optional<std::string> value;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        const bool wantsValue =
            name == "--date" || name == "--server" || name == "--timeout" || name == "--proxy";
        if (wantsValue && !value) {
            if (i + 1 >= Args.size()) {
                Error = name + " needs a value";
                return false;
            }
            value = Args[++i];
        } else if (!wantsValue && value) {
            Error = name + " takes no value";
            return false;
        }
        if (name == "--date") {
            Options.Date = ParseReportDate(*value);
            if (!Options.Date) {
                Error = "'" + *value + "' is not a date (dd.mm.yyyy, dd/mm/yyyy or yyyy-mm-dd)";
                return false;
            }
        } else if (name == "--server") {
            Options.Server = Utf8ToCp1251(*value);
        } else if (name == "--timeout") {
            if (!AllDigits(*value) || value->size() > 3) {
                Error = "--timeout wants 0 to 999 seconds, not '" + *value + "'";
                return false;
            }
            Options.TimeOut = *value;
        } else if (name == "--proxy") {
            const auto colon = value->rfind(':');
            if (colon == std::string::npos || colon == 0 ||
                !AllDigits(std::string_view(*value).substr(colon + 1)) ||
                value->size() - colon - 1 > 4) {
                Error = "--proxy wants HOST:PORT with a port of 0 to 9999, not '" + *value + "'";
                return false;
            }
            Options.ProxyHost = Utf8ToCp1251(value->substr(0, colon));
            Options.ProxyPort = value->substr(colon + 1);
        } else if (name == "--no-proxy") {
            Options.NoProxy = true;
        } else if (name == "--quiet") {
            Options.Quiet = true;
        } else if (name == "--help") {
            Options.Help = true;
        } else if (name == "--version") {
            Options.Version = true;
        } else {
            Error = "unknown argument '" + Args[i] + "'";
            return false;
        }
    }
    if (Options.ProxyHost && Options.NoProxy) {
        Error = "--proxy and --no-proxy exclude each other";
        return false;
    }
    return true;
}

std::string TerminalText(const String& Text) {
    String flat;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        const char c = Text[i];
        if (c == '\r' || c == '\n') {
            const char other = c == '\r' ? '\n' : '\r';
            if (i + 1 < Text.size() && Text[i + 1] == other)
                ++i;
            flat += '\n';
        } else {
            flat += c;
        }
    }
    return Cp1251ToUtf8(flat);
}

int RunReportCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
    TReportOptions options;
    std::string error;
    if (!ParseReportOptions(Args, options, error)) {
        Err << "kurs-report: " << error << "\n" << ReportUsage;
        return 2;
    }
    if (options.Help) {
        Out << ReportUsage;
        return 0;
    }
    if (options.Version) {
        Out << "kurs-report " << KURS_VERSION << "\n";
        return 0;
    }

    Application->Initialize();
    Application->SetTitle("Курсы валют"_cp);
    int boxes = 0;
    SetMessageBoxListener([&](const TMessageBoxRecord& box) {
        ++boxes;
        Err << TerminalText(box.Text) << "\n" << std::flush;
    });

    TForm1* form = nullptr;
    Application->CreateForm(form);
    // The window's own settings, read without touching the store.
    RestoreStoredSettingsReadOnly(form, WindowSettingsKey);

    if (options.Date)
        form->dteKurs->SetDate(*options.Date);
    if (options.Server)
        SendTextChange(form->edtServer, *options.Server);
    if (options.TimeOut)
        SendTextChange(form->edtTimeOut, *options.TimeOut);
    if (options.ProxyHost) {
        if (!form->cbxProxy->Checked())
            SendClick(form->cbxProxy);
        SendTextChange(form->edtProxy, *options.ProxyHost);
        SendTextChange(form->edtPort, *options.ProxyPort);
    } else if (options.NoProxy && form->cbxProxy->Checked()) {
        SendClick(form->cbxProxy);
    }
    if (!options.Quiet) {
        form->OnStatusText = [&](const String& text) {
            if (!text.empty())
                Err << Cp1251ToUtf8(text) << "\n" << std::flush;
        };
    }

    SendClick(form->Button1);

    TStrings* lines = form->Memo2->Lines();
    for (int i = 0; i < lines->Count(); ++i)
        Out << Cp1251ToUtf8(lines->Strings(i)) << "\n";
    Out << std::flush;

    form->OnStatusText = nullptr;
    Application->DoneApplication();
    SetMessageBoxListener(nullptr);
    return boxes > 0 ? 1 : 0;
}

namespace {

// Whether a colon-separated list of name=value sets the tunable name.
bool SetsTunable(std::string_view list, std::string_view name) {
    while (!list.empty()) {
        const std::size_t colon = list.find(':');
        const std::string_view item = list.substr(0, colon);
        if (item.substr(0, item.find('=')) == name)
            return true;
        list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
    }
    return false;
}

}  // namespace

std::optional<std::string> AllocatorTunables(const char* Current) {
    const std::string_view current = Current ? Current : "";
    if (SetsTunable(current, "glibc.malloc.hugetlb"))
        return std::nullopt;
    std::string value(current);
    if (!value.empty())
        value += ':';
    value += "glibc.malloc.hugetlb=1";
    if (!SetsTunable(current, "glibc.malloc.arena_max"))
        value += ":glibc.malloc.arena_max=1";
    return value;
}

void RestartWithAllocatorTunables(char** Argv) {
    const char* current = std::getenv("GLIBC_TUNABLES");
    const std::optional<std::string> wanted = AllocatorTunables(current);
    if (!wanted)
        return;
    const std::optional<std::string> before =
        current ? std::optional<std::string>(current) : std::nullopt;
    // The program's own file by its real name, which the new start keeps as
    // its process name ("exe" through the /proc link itself).
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0 || length >= static_cast<ssize_t>(sizeof self - 1))
        return;
    self[length] = '\0';
    if (::setenv("GLIBC_TUNABLES", wanted->c_str(), 1) != 0)
        return;
    ::execv(self, Argv);
    // Still here: run as started, with the environment as it was.
    if (before)
        ::setenv("GLIBC_TUNABLES", before->c_str(), 1);
    else
        ::unsetenv("GLIBC_TUNABLES");
}
