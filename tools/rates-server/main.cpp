// kurs-rates-server: answers the rates page of a date over HTTP/1.0 from the
// bank's published history and, for later dates, from the bank's daily XML
// service.  Runs until SIGTERM or SIGINT, then exits 0.

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tools/rates-server/RatesData.h"
#include "tools/rates-server/RatesServer.h"
#include "tools/rates-server/RatesService.h"
#include "tools/rates-server/SocketActivation.h"
#include "tools/rates-server/upstream/Upstream.h"

#include "KursVersion.h"

#ifndef KURS_DATADIR
#define KURS_DATADIR "/usr/local/share"
#endif

namespace {

constexpr const char* kHistoryFile = "bank-rates.txt.gz";

constexpr const char* kUsage =
    "usage: kurs-rates-server [--listen ADDR:PORT] [--data FILE | --no-data]\n"
    "                         [--upstream BASE_URL [--cache-dir DIR] [--user-agent TEXT]]\n"
    "  --listen ADDR:PORT  where to listen (default 127.0.0.1:80; port 0 picks a free one);\n"
    "                      a socket handed over by systemd is used instead when there is one\n"
    "  --data FILE         the rates to serve (default: the bank's bundled history)\n"
    "  --no-data           serve no rates of its own\n"
    "  --upstream BASE_URL ask the bank's XML service at BASE_URL (https://www.cbr.ru)\n"
    "                      for dates after the data\n"
    "  --cache-dir DIR     where its answers are kept (default $CACHE_DIRECTORY,\n"
    "                      else ${XDG_CACHE_HOME:-~/.cache}/kurs/rates)\n"
    "  --user-agent TEXT   the User-Agent sent upstream (default kurs-rates-server/" KURS_VERSION
    ")\n";

rates::RatesServer* gServer = nullptr;

extern "C" void OnStopSignal(int) {
    if (gServer != nullptr)
        gServer->Stop();
}

// The bundled history: beside the program in the build tree, or in the
// installed share folder.
std::string DefaultDataFile(const char* argv0) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        exe = fs::path(argv0);
    const fs::path dir = exe.parent_path();
    const std::vector<fs::path> candidates = {
        dir / kHistoryFile,
        dir / ".." / "share" / "kurs" / kHistoryFile,
        fs::path(KURS_DATADIR) / "kurs" / kHistoryFile,
    };
    for (const auto& p : candidates)
        if (fs::is_regular_file(p, ec))
            return p.string();
    return candidates.back().string();
}

// Every idle client holds a descriptor: take as many as the system allows,
// so that many of them do not keep others out.
void RaiseDescriptorLimit() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, 65536);
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

int UsageError(const std::string& reason) {
    std::fprintf(stderr, "kurs-rates-server: %s\n%s", reason.c_str(), kUsage);
    return 2;
}

struct Options {
    std::string Listen = "127.0.0.1:80";
    bool ListenGiven = false;
    std::string DataFile;
    bool NoData = false;
    rates::UpstreamOptions Upstream;
    bool CacheDirGiven = false;
};

}  // namespace

int main(int argc, char** argv) {
    Options o;
    o.Upstream.UserAgent = "kurs-rates-server/" KURS_VERSION;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        // "--name VALUE" or "--name=VALUE"; false when arg is another option.
        auto option = [&](std::string_view name, std::string& out) {
            if (arg == name) {
                if (i + 1 >= argc)
                    throw std::string(name) + " needs a value";
                out = argv[++i];
                return true;
            }
            if (arg.size() > name.size() && arg.starts_with(name) && arg[name.size()] == '=') {
                out = std::string(arg.substr(name.size() + 1));
                return true;
            }
            return false;
        };
        try {
            if (arg == "--help" || arg == "-h") {
                std::fputs(kUsage, stdout);
                return 0;
            } else if (arg == "--version") {
                std::puts("kurs-rates-server " KURS_VERSION);
                return 0;
            } else if (option("--listen", o.Listen)) {
                o.ListenGiven = true;
            } else if (option("--data", o.DataFile)) {
                if (o.DataFile.empty())
                    return UsageError("--data needs a file name");
            } else if (arg == "--no-data") {
                o.NoData = true;
            } else if (option("--upstream", o.Upstream.BaseUrl)) {
                while (o.Upstream.BaseUrl.ends_with('/'))
                    o.Upstream.BaseUrl.pop_back();
                if (o.Upstream.BaseUrl.empty())
                    return UsageError("--upstream needs a URL such as https://www.cbr.ru");
            } else if (option("--cache-dir", o.Upstream.CacheDir)) {
                o.CacheDirGiven = true;
            } else if (option("--user-agent", o.Upstream.UserAgent)) {
            } else {
                return UsageError("unknown argument '" + std::string(arg) + "'");
            }
        } catch (const std::string& reason) {
            return UsageError(reason);
        }
    }
    if (o.NoData && !o.DataFile.empty())
        return UsageError("--data and --no-data exclude each other");

    // Taken before any thread starts, since it changes the environment.
    const auto inherited = rates::InheritedSockets();
    RaiseDescriptorLimit();
    try {
        std::optional<rates::RatesData> history;
        if (!o.NoData)
            history =
                rates::RatesData::Load(o.DataFile.empty() ? DefaultDataFile(argv[0]) : o.DataFile);
        std::unique_ptr<rates::Upstream> upstream;
        if (!o.Upstream.BaseUrl.empty()) {
            if (!o.CacheDirGiven)
                o.Upstream.CacheDir = rates::DefaultUpstreamCacheDir();
            upstream = std::make_unique<rates::Upstream>(o.Upstream);
        }
        rates::RatesServer server(
            std::make_unique<rates::RatesService>(std::move(history), std::move(upstream)));
        if (!inherited.empty() && !o.ListenGiven)
            server.Adopt(inherited.front());
        else
            server.Listen(o.Listen);

        gServer = &server;
        struct sigaction sa {};
        sa.sa_handler = OnStopSignal;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
        signal(SIGPIPE, SIG_IGN);

        std::printf("kurs-rates-server: listening on %s\n", server.Address().c_str());
        std::fflush(stdout);
        server.Run();
        gServer = nullptr;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kurs-rates-server: %s\n", e.what());
        return 1;
    }
    return 0;
}
