#include "testing/ProxyProcess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace testing_support {

namespace {

std::string Find(const char* name) {
    for (const char* dir : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"}) {
        std::string path = std::string(dir) + name;
        if (::access(path.c_str(), X_OK) == 0)
            return path;
    }
    return {};
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

ProxyProcess::ProxyProcess(Kind kind, PortKind portKind, bool caching) : FKind(kind) {
    const char* name = kind == Tinyproxy ? "tinyproxy" : "squid";
    const std::string program = Find(name);
    if (program.empty()) {
        FProblem = std::string(name) + " is not installed (make deps installs it)";
        return;
    }
    char folder[] = "/tmp/kurs-proxy-XXXXXX";
    if (!::mkdtemp(folder)) {
        FProblem = "no temporary folder";
        return;
    }
    FFolder = folder;
    // The proxy drops root for an unprivileged user that must still write here.
    ::chmod(folder, 0777);
    const int port = FreeLoopbackPort(portKind);
    const std::string conf = FFolder + "/proxy.conf";
    {
        std::ofstream c(conf);
        if (kind == Tinyproxy) {
            c << "User nobody\nGroup nogroup\nPort " << port << "\nListen 127.0.0.1\n"
              << "Timeout 30\nMaxClients 20\nAllow 127.0.0.1\n"
              << "PidFile \"" << FFolder << "/proxy.pid\"\n"
              << "LogFile \"" << FFolder << "/proxy.log\"\nLogLevel Info\n";
        } else {
            c << "http_port 127.0.0.1:" << port << "\nhttp_access allow all\n"
              << (caching ? "cache_mem 8 MB\nmaximum_object_size_in_memory 512 KB\n"
                          : "cache deny all\n")
              << "pid_filename " << FFolder << "/proxy.pid\n"
              << "access_log stdio:" << FFolder << "/access.log\n"
              << "cache_log " << FFolder << "/proxy.log\n"
              << "coredump_dir " << FFolder << "\nshutdown_lifetime 0 seconds\n"
              << "cache_effective_user proxy\ndns_nameservers 127.0.0.1\n";
        }
    }
    FPid = ::fork();
    if (FPid == 0) {
        const std::string out = FFolder + "/stdout.log";
        const int log = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(log, 1);
        ::dup2(log, 2);
        if (kind == Tinyproxy)
            ::execl(program.c_str(), name, "-d", "-c", conf.c_str(), nullptr);
        else
            ::execl(program.c_str(), name, "-N", "-f", conf.c_str(), nullptr);
        std::_Exit(127);
    }
    // Squid takes a few seconds to come up on a busy machine.
    for (int i = 0; i < 300; ++i) {
        if (Listening(port)) {
            FPort = port;
            return;
        }
        int status = 0;
        if (::waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    FProblem = std::string(name) + " did not start listening: " + Log();
}

ProxyProcess::~ProxyProcess() {
    if (FPid > 0) {
        ::kill(FPid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 100 && ::waitpid(FPid, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (::waitpid(FPid, &status, WNOHANG) == 0) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, &status, 0);
        }
    }
    if (!FFolder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(FFolder, ignored);
    }
}

std::string ProxyProcess::AccessLog() const {
    return ReadFile(FFolder + "/access.log");
}

std::string ProxyProcess::Log() const {
    return ReadFile(FFolder + "/stdout.log") + ReadFile(FFolder + "/proxy.log");
}

}  // namespace testing_support
