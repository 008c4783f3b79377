// Fuzz target: arbitrary bytes as an answer of the bank's XML service.
// Nothing may crash or overrun, and a document that is accepted must hold
// only rows the rates page can show.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tools/rates-server/upstream/BankXml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto r = rates::ReadBankXml(std::string_view(reinterpret_cast<const char*>(data), size));
    if (r.Ok != r.Error.empty())
        __builtin_trap();
    for (char c : r.Error)
        if (c < 0x20 || c >= 0x7F)
            __builtin_trap();
    if (!r.Ok)
        return 0;
    if (r.Table.Currencies.empty() || r.Table.From.Year == 0)
        __builtin_trap();
    for (const auto& c : r.Table.Currencies) {
        if (c.Nominal <= 0 || c.CharCode.empty() || c.Rate.find(',') == std::string::npos)
            __builtin_trap();
        if (c.Name.find_first_of("\r\n\t") != std::string::npos)
            __builtin_trap();
    }
    return 0;
}
