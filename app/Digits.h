#pragma once
// kurs-report reads dates, nominals, rates and time-outs digit by digit.

#include <string_view>

// True when s is not empty and holds ASCII digits only.
inline bool AllDigits(std::string_view s) {
    if (s.empty())
        return false;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}
