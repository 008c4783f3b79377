#pragma once
// Reads one answer of the bank's daily XML service into a rates table.  A
// pure function of the bytes: no network, no files, so that it can be tested
// and fuzzed on its own.

#include <cstddef>
#include <string>
#include <string_view>

#include "tools/rates-server/RatesTable.h"

namespace rates {

// The service's documents are about 10 KB; anything larger is refused, by
// the reader and by the client that receives it.
inline constexpr std::size_t kMaxBankXmlSize = 2 * 1024 * 1024;

struct BankXmlResult {
    bool Ok = false;
    // When Ok: From is the document's ValCurs Date, the rows in document
    // order, names in UTF-8.
    RatesTable Table;
    // When not Ok: one line, printable ASCII, that says why.
    std::string Error;
};

// Accepts a ValCurs document with a valid Date and at least one Valute, each
// with a CharCode, a Nominal that is a power of ten from 1 to 1 000 000 and a
// Value written as at most seven digits, a comma and at most four digits; no
// currency (by ID or CharCode) twice, and no element deeper than 8 levels.  The text may be
// windows-1251 (declared or not) or UTF-8, whatever the declaration says: bytes that are valid
// UTF-8 and not plain ASCII are read as UTF-8.
BankXmlResult ReadBankXml(std::string_view bytes);

// Text from a peer, fit for a log line: printable ASCII, other bytes as '?',
// at most max characters (then "...").
std::string PrintableAscii(std::string_view s, std::size_t max);

}  // namespace rates
