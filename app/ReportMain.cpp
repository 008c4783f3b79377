// kurs-report: see app/ReportCommand.h.

#include <malloc.h>
#include <signal.h>
#include <unistd.h>

#include <iostream>

#include "app/ReportCommand.h"

int main(int argc, char** argv) {
    // A reader that goes away (`kurs-report ... | head -1`) makes the next
    // write fail with EPIPE, which ends the run quietly, instead of killing
    // the process.
    ::signal(SIGPIPE, SIG_IGN);
    // One allocator arena: the lines of a large text are made on two
    // threads, and both take them from the heap that has huge pages.
    ::mallopt(M_ARENA_MAX, 1);
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunReportCommand(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}
