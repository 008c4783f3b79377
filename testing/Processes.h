#pragma once
// Programs started by the end-to-end tests: a run of a command with its
// output captured, the bundled rates server on a free loopback port, and a
// program left running until the test signals it.

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace app_testing {

// Environment changes for a child: a value sets the variable, an empty
// optional-like marker "\x01" removes it.
using Environment = std::map<std::string, std::string>;
inline const std::string kUnset = "\x01";

struct ProgramResult {
    int ExitCode = -1;  // -1 when it did not exit normally
    bool TimedOut = false;
    std::string Out;
    std::string Err;
};

// Runs the program to its end (killed after timeoutMs), stdin empty.
ProgramResult RunProgram(const std::string& path, const std::vector<std::string>& args,
                         const Environment& env = {}, int timeoutMs = 30000);

// A started program; the destructor kills what is still running.
class ChildProcess {
  public:
    ChildProcess(const std::string& path, const std::vector<std::string>& args,
                 const Environment& env = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return FPid; }
    bool Running();
    // Sends the signal and waits (bounded) for the end; the exit code, or
    // -1 when it did not exit normally in time.
    int Stop(int signal, int timeoutMs = 10000);
    // What the program wrote so far (stdout and stderr go to one file).
    std::string Output() const;
    // Waits (bounded) until the program catches the signal (it has
    // installed its handler).
    bool WaitForSignalHandler(int signal, int timeoutMs = 10000);
    // Waits (bounded) until the output holds the text.
    bool WaitForOutput(const std::string& text, int timeoutMs = 10000) const;

  private:
    pid_t FPid = -1;
    std::string FOutputFile;
    int FStatus = 0;
    bool FReaped = false;
};

// kurs-rates-server on 127.0.0.1 at the port it picks itself, with the
// arguments given (the bank's bundled history when there are none).
class RatesServerProcess {
  public:
    explicit RatesServerProcess(const std::string& path, const std::vector<std::string>& args = {});
    bool Running() const { return FPort > 0; }
    int Port() const { return FPort; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(FPort); }
    std::string Output() const { return FChild.Output(); }

  private:
    ChildProcess FChild;
    int FPort = 0;
};

// Waits (bounded) until the file exists.
bool WaitForFile(const std::string& path, int timeoutMs = 10000);

}  // namespace app_testing
