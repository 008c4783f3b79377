// kurs-report: see app/ReportCommand.h.

#include <iostream>

#include "app/ReportCommand.h"

int main(int argc, char** argv) {
    RestartWithAllocatorTunables(argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunReportCommand(args, std::cout, std::cerr);
}
