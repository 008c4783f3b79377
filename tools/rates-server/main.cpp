// kurs-rates-server: answers the rates page of a date over HTTP/1.0 from the
// bank's published history and, for later dates, from the bank's daily XML
// service.  Runs until SIGTERM or SIGINT, then exits 0.

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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
    "                         [--upstream BASE_URL [--cache-dir DIR] [--user-agent TEXT]\n"
    "                          [--fresh-for SECONDS] [--upstream-ca FILE]]\n"
    "  --listen ADDR:PORT  where to listen (default 127.0.0.1:80; port 0 picks a free one);\n"
    "                      a socket handed over by systemd is used instead when there is one\n"
    "  --data FILE         the rates to serve (default: the bank's bundled history)\n"
    "  --no-data           serve no rates of its own\n"
    "  --upstream BASE_URL ask the bank's XML service at BASE_URL (https://www.cbr.ru)\n"
    "                      for dates after the data\n"
    "  --cache-dir DIR     where its answers are kept (default $CACHE_DIRECTORY,\n"
    "                      else ${XDG_CACHE_HOME:-~/.cache}/kurs/rates)\n"
    "  --user-agent TEXT   the User-Agent sent upstream (default kurs-rates-server/" KURS_VERSION
    ")\n"
    "  --upstream-ca FILE  trust the certificate authorities in FILE (PEM) for https://\n"
    "                      instead of the system's\n"
    "  --fresh-for SECONDS how long today's document is served before the bank is asked\n"
    "                      again (default 900; also the max-age of today's page)\n";

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

// Why a file cannot be read, empty when it can; never waits on a FIFO.
std::string UnreadableFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::strerror(errno);
    struct stat st {};
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    close(fd);
    return regular ? "" : "not a regular file";
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
            } else if (option("--upstream-ca", o.Upstream.CaFile)) {
                if (const auto why = UnreadableFile(o.Upstream.CaFile); !why.empty())
                    return UsageError("cannot read the --upstream-ca file " + o.Upstream.CaFile +
                                      ": " + why);
            } else if (std::string seconds; option("--fresh-for", seconds)) {
                if (seconds.empty() || seconds.size() > 6 ||
                    seconds.find_first_not_of("0123456789") != std::string::npos)
                    return UsageError("--fresh-for needs a number of seconds, not '" + seconds +
                                      "'");
                o.Upstream.FreshFor = std::chrono::seconds(std::stoi(seconds));
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
        const std::string dataFile = o.DataFile.empty() ? DefaultDataFile(argv[0]) : o.DataFile;
        if (!o.NoData)
            history = rates::RatesData::Load(dataFile);
        std::unique_ptr<rates::Upstream> upstream;
        if (!o.Upstream.BaseUrl.empty()) {
            if (!o.CacheDirGiven)
                o.Upstream.CacheDir = rates::DefaultUpstreamCacheDir();
            upstream = std::make_unique<rates::Upstream>(o.Upstream);
        }
        auto service =
            std::make_unique<rates::RatesService>(std::move(history), std::move(upstream));
        // The pages of the history last changed when its file did.
        if (struct stat st{}; !o.NoData && ::stat(dataFile.c_str(), &st) == 0)
            service->SetHistoryModified(
                std::min(rates::WallClock::from_time_t(st.st_mtime), rates::WallClock::now()));
        rates::RatesServer server(std::move(service));
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
