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

// The value of s, which AllDigits accepts and is short enough for an int.
inline int DigitsValue(std::string_view s) {
    int n = 0;
    for (char c : s)
        n = n * 10 + (c - '0');
    return n;
}
