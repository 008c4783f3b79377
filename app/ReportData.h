#pragma once
// kurs-report's data formats: the rows of the rates page's table checked
// and written as CSV (RFC 4180, CR LF line ends) or as one JSON object per
// date.  Rates stay the text the page published, with a decimal point, so no
// digit is lost to floating point.

#include <optional>
#include <string>
#include <vector>

#include "app/RatesReport.h"
#include "runtime/DateTime.h"

// One rate as the data formats write it, UTF-8.
struct TRateRecord {
    std::string Code;   // three upper-case letters
    long Nominal = 0;   // units the rate is for
    std::string Value;  // digits, a decimal point, the published digits
    std::string Name;   // the page's name, HTML entities read
};

// The record of a row, or nothing with the reason in Problem (a nominal or
// a rate that is not a number, a code that is not three letters).
std::optional<TRateRecord> CheckRateRow(const TRateRow& Row, std::string& Problem);

// yyyy-mm-dd.
std::string IsoDate(TDateTime Date);

// The date the page writes after "установил с": dd.mm.yyyy.
std::optional<TDateTime> PageDate(const String& Text);

// The header line, and a date's records as lines, each ended by CR LF.
std::string CsvHeader();
std::string CsvRecords(const std::string& Requested, const std::string& Effective,
                       const std::vector<TRateRecord>& Records);

// {"requested":...,"effective":... or null,"rates":[...]} on one line, no line end.
std::string JsonRecord(const std::string& Requested, const std::optional<std::string>& Effective,
                       const std::vector<TRateRecord>& Records);
