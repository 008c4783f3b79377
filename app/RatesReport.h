#pragma once
// The rates page reader: scans the lines of the bank's rates page once and
// appends the short report (the date the rates apply from, one line per
// currency, the no-rates notice or the failure line) to a list of lines.

#include <vector>

#include "runtime/String.h"
#include "runtime/StringList.h"

// The text between the first ">" and the first "</" of a line (empty when
// the two are missing or in the wrong order).
String TagText(std::string_view Line);

// Appends the report of the page to Report.  DateText is the requested date
// as the URL carried it.  A currency name in the first or last two lines
// raises the list's index error; lines appended before it stay.
void AppendRatesReport(const TStrings& PageLines, const String& DateText, TStrings& Report);

// One row of the page's table, each cell's text as TagText gives it
// (cp1251, nothing checked).
struct TRateRow {
    String Nominal;
    String Code;
    String Name;
    String Value;
};

// What the page says, read the way the report reads it but for every row.
struct TRatesPage {
    // The 10 characters after "установил с " in the first line holding the
    // phrase; empty when no line holds it.
    String EffectiveDate;
    bool NotRegistered = false;  // a line holds "не зарегистрированы"
    // The rows of the table, in page order: a "<tr" line, then lines of one
    // "<td" cell each, up to a "</tr>" line, five cells in all (units, letter
    // code, name, number code, rate).  Rows of another shape (the header's
    // "<th" cells) are skipped.
    std::vector<TRateRow> Rows;
};

TRatesPage ReadRatesPage(const TStrings& PageLines);

// Whether a report that AppendRatesReport wrote shows rates: it has the line
// of the date the rates apply from and at least one currency line.
bool ReportShowsRates(const TStrings& Report);
