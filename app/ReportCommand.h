#pragma once
// kurs-report: the rates window without a display, for scripts and
// terminals.  It builds the same TForm1, restores the window's stored
// settings without writing them, types the options into the fields the way
// a user would, presses "Получить курсы валют" and prints the report.
//
//   stdout  the report's lines, UTF-8, each followed by "\n"
//   stderr  each non-empty status text (unless --quiet) and the text of each
//           message box, UTF-8, a line break inside a message as one "\n"
//   exit    0 no message box was shown, 1 one was, 2 a usage error

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/DateTime.h"
#include "runtime/String.h"

struct TReportOptions {
    std::optional<TDateTime> Date;    // today when not given
    std::optional<String> Server;     // as typed into the server field
    std::optional<String> TimeOut;    // digits for the time-out field
    std::optional<String> ProxyHost;  // with ProxyPort: check the proxy box
    std::optional<String> ProxyPort;
    bool NoProxy = false;
    bool Quiet = false;
    bool Help = false;
    bool Version = false;
};

extern const char* const ReportUsage;

// Reads the arguments after the program name; false with a one-line reason
// in Error for a usage error.
bool ParseReportOptions(const std::vector<std::string>& Args, TReportOptions& Options,
                        std::string& Error);

// A date given as dd.mm.yyyy, dd/mm/yyyy or yyyy-mm-dd.
std::optional<TDateTime> ParseReportDate(const std::string& Text);

// A message box's text for the terminal: UTF-8, CR LF, LF CR, CR and LF each one "\n".
std::string TerminalText(const String& Text);

// Runs the whole command; the result is the exit status.
int RunReportCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err);

// The value GLIBC_TUNABLES should have so that the C library's allocator
// asks for huge pages and keeps one arena: Current (null when unset) with
// glibc.malloc.hugetlb=1 added, and glibc.malloc.arena_max=1 unless Current
// sets it; nothing when Current sets glibc.malloc.hugetlb already, to
// whatever value.
std::optional<std::string> AllocatorTunables(const char* Current);

// kurs-report keeps a page of up to 256 MiB in memory twice (the answer and
// its lines), and first touching that much new memory one small page at a
// time costs more than receiving it.  The allocator asks for huge pages only
// when told so at start-up.  The lines of a large page are made on two
// threads, and a second thread's own arena would get small pages: with one
// arena both take huge ones.  So the program starts itself once more with
// those tunables set.  Returns when they were set already or the new start
// failed.
void RestartWithAllocatorTunables(char** Argv);
