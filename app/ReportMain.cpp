// kurs-report: see app/ReportCommand.h.

#include <signal.h>
#include <unistd.h>

#include <iostream>

#include "app/ReportCommand.h"

int main(int argc, char** argv) {
    // A reader that goes away (`kurs-report ... | head -1`) makes the next
    // write fail with EPIPE, which ends the run quietly, instead of killing
    // the process.
    ::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunReportCommand(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}
