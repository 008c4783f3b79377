#pragma once
// kurs-report: the rates window without a display, for scripts and
// terminals.  It builds the same TForm1, restores the window's stored
// settings without writing them, types the options into the fields the way
// a user would, presses "Получить курсы валют" for each date asked for and
// prints the report, or the rows of the page's table as CSV or JSON.
//
//   stdout  the report's lines (UTF-8, each followed by "\n"), or the data
//   stderr  each non-empty status text (unless --quiet), the text of each
//           message box (UTF-8, a line break inside a message as one "\n"),
//           and the command's own notes (codes not on the page, bad rows)
//   exit    0 rates, 3 the server answered without rates, 1 a message,
//           2 a usage error

#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/DateTime.h"
#include "runtime/String.h"

enum class TReportFormat { Text, Csv, Json };

// The longest range --from/--to may ask for, in days, and the most codes
// --currency may name.
inline constexpr int MaxReportDays = 10000;
inline constexpr std::size_t MaxReportCurrencies = 200;

struct TReportOptions {
    std::optional<TDateTime> Date;  // today when not given
    std::optional<TDateTime> From;  // with To: every date from one to the other
    std::optional<TDateTime> To;
    std::optional<String> Server;     // as typed into the server field
    std::optional<String> TimeOut;    // digits for the time-out field
    std::optional<String> ProxyHost;  // with ProxyPort: check the proxy box
    std::optional<String> ProxyPort;
    bool NoProxy = false;
    bool Quiet = false;
    bool Help = false;
    bool Version = false;
    TReportFormat Format = TReportFormat::Text;
    bool AllCurrencies = false;           // --currency all
    std::vector<std::string> Currencies;  // upper-case, in the order given, each once
    bool CurrencyGiven() const { return AllCurrencies || !Currencies.empty(); }
};

extern const char* const ReportUsage;

// Reads the arguments after the program name; false with a one-line reason
// in Error for a usage error.
bool ParseReportOptions(const std::vector<std::string>& Args, TReportOptions& Options,
                        std::string& Error);

// A date given as d.m.yyyy or dd.mm.yyyy (with ".", "/" or "-"), yyyy-mm-dd,
// today, yesterday or tomorrow; nothing for any other text or an impossible date.
std::optional<TDateTime> ParseReportDate(const std::string& Text);

// A message box's text for the terminal: UTF-8, CR LF, LF CR, CR and LF each one "\n".
std::string TerminalText(const String& Text);

// Exit statuses.
inline constexpr int ReportHasRates = 0;
inline constexpr int ReportMessage = 1;  // a message box's text was printed
inline constexpr int ReportUsageError = 2;
inline constexpr int ReportNoRates = 3;  // the server answered without rates

// Runs the whole command; the result is the exit status.  ErrIsTerminal:
// Err is a terminal, where a long range shows a progress line.
int RunReportCommand(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err,
                     bool ErrIsTerminal = false);
