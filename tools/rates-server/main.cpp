// kurs-rates-server: answers the rates page of a date over HTTP/1.0 from a
// data file of sample rates.  Runs until SIGTERM or SIGINT, then exits 0.

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tools/rates-server/RatesData.h"
#include "tools/rates-server/RatesServer.h"

#ifndef KURS_DATADIR
#define KURS_DATADIR "/usr/local/share"
#endif

namespace {

constexpr const char* kUsage =
    "usage: kurs-rates-server [--listen ADDR:PORT] [--data FILE]\n"
    "  --listen ADDR:PORT  where to listen (default 127.0.0.1:80; port 0 picks a free one)\n"
    "  --data FILE         the rates to serve (default: the bundled sample rates.txt)\n";

rates::RatesServer* gServer = nullptr;

extern "C" void OnStopSignal(int) {
    if (gServer != nullptr)
        gServer->Stop();
}

// The bundled sample file: beside the program in the build tree, or in the
// installed share folder.
std::string DefaultDataFile(const char* argv0) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        exe = fs::path(argv0);
    const fs::path dir = exe.parent_path();
    const std::vector<fs::path> candidates = {
        dir / "rates.txt",
        dir / ".." / "share" / "kurs" / "rates.txt",
        fs::path(KURS_DATADIR) / "kurs" / "rates.txt",
    };
    for (const auto& p : candidates)
        if (fs::is_regular_file(p, ec))
            return p.string();
    return candidates.back().string();
}

int UsageError(const std::string& reason) {
    std::fprintf(stderr, "kurs-rates-server: %s\n%s", reason.c_str(), kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string listen = "127.0.0.1:80";
    std::string dataFile;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string_view name, std::string& out) {
            if (arg == name) {
                if (i + 1 >= argc)
                    return false;
                out = argv[++i];
                return true;
            }
            out = std::string(arg.substr(name.size() + 1));
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--listen" || arg.starts_with("--listen=")) {
            if (!value("--listen", listen))
                return UsageError("--listen needs ADDR:PORT");
        } else if (arg == "--data" || arg.starts_with("--data=")) {
            if (!value("--data", dataFile) || dataFile.empty())
                return UsageError("--data needs a file name");
        } else {
            return UsageError("unknown argument '" + std::string(arg) + "'");
        }
    }
    if (dataFile.empty())
        dataFile = DefaultDataFile(argv[0]);

    try {
        rates::RatesServer server(rates::RatesData::Load(dataFile));
        server.Listen(listen);

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
