#pragma once
// The rates page reader: scans the lines of the bank's rates page once and
// appends the short report (the date the rates apply from, one line per
// currency, the no-rates notice or the failure line) to a list of lines.

#include "runtime/String.h"
#include "runtime/StringList.h"

// The text between the first ">" and the first "</" of a line (empty when
// the two are missing or in the wrong order).
String TagText(std::string_view Line);

// Appends the report of the page to Report.  DateText is the requested date
// as the URL carried it.  A currency name in the first or last two lines
// raises the list's index error; lines appended before it stay.
void AppendRatesReport(const TStrings& PageLines, const String& DateText, TStrings& Report);
