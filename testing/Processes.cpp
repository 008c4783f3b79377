#include "testing/Processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace app_testing {

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Exec(const std::string& path, const std::vector<std::string>& args,
                       const Environment& env) {
    for (const auto& [name, value] : env) {
        if (value == kUnset)
            ::unsetenv(name.c_str());
        else
            ::setenv(name.c_str(), value.c_str(), 1);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(path.c_str(), argv.data());
    std::_Exit(127);
}

int Decode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Waits for the child's end, a short sleep per look; false when it outlived the bound.
bool WaitFor(pid_t pid, int& status, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return true;
        if (r < 0 || Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const Environment& env, int timeoutMs) {
    ProgramResult result;
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        return result;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        Exec(path, args, env);
    }
    ::close(out[1]);
    ::close(err[1]);
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.Out, &result.Err};
    int open = 2;
    while (open > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) {
            result.TimedOut = true;
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left)) <= 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents)
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (auto& f : fds) {
        if (f.fd >= 0)
            ::close(f.fd);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.ExitCode = result.TimedOut ? -1 : Decode(status);
    return result;
}

ChildProcess::ChildProcess(const std::string& path, const std::vector<std::string>& args,
                           const Environment& env) {
    char name[] = "/tmp/kurs-app-child-XXXXXX";
    const int fd = ::mkstemp(name);
    FOutputFile = name;
    FPid = ::fork();
    if (FPid == 0) {
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        Exec(path, args, env);
    }
    ::close(fd);
}

ChildProcess::~ChildProcess() {
    if (Running()) {
        ::kill(FPid, SIGKILL);
        ::waitpid(FPid, &FStatus, 0);
    }
    ::unlink(FOutputFile.c_str());
}

bool ChildProcess::Running() {
    if (FPid <= 0 || FReaped)
        return false;
    if (::waitpid(FPid, &FStatus, WNOHANG) == FPid) {
        FReaped = true;
        return false;
    }
    return true;
}

int ChildProcess::Stop(int signal, int timeoutMs) {
    if (Running()) {
        ::kill(FPid, signal);
        if (!WaitFor(FPid, FStatus, timeoutMs))
            return -1;
        FReaped = true;
    }
    return Decode(FStatus);
}

bool ChildProcess::WaitForSignalHandler(int signal, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::string status = "/proc/" + std::to_string(FPid) + "/status";
    while (Running()) {
        std::ifstream in(status);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind("SigCgt:", 0) != 0)
                continue;
            const unsigned long long caught = std::stoull(line.substr(7), nullptr, 16);
            if (caught & (1ULL << (signal - 1)))
                return true;
        }
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::string ChildProcess::Output() const {
    std::ifstream in(FOutputFile, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool ChildProcess::WaitForOutput(const std::string& text, int timeoutMs) const {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Output().find(text) == std::string::npos) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

namespace {

std::vector<std::string> WithListen(std::vector<std::string> args) {
    args.insert(args.begin(), {"--listen", "127.0.0.1:0"});
    return args;
}

}  // namespace

RatesServerProcess::RatesServerProcess(const std::string& path,
                                       const std::vector<std::string>& args)
    : FChild(path, WithListen(args)) {
    const std::string prefix = "listening on 127.0.0.1:";
    if (!FChild.WaitForOutput("\n"))
        return;
    const std::string out = FChild.Output();
    const auto at = out.find(prefix);
    if (at != std::string::npos)
        FPort = std::atoi(out.c_str() + at + prefix.size());
}

bool WaitForFile(const std::string& path, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!std::filesystem::exists(path)) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace app_testing
