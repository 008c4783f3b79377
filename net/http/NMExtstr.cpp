#include "net/http/NMExtstr.h"

int TExStringList::IndexOfField(std::string_view Name) const {
    for (int i = 0; i < Count(); ++i) {
        const String line = Get(i);
        const auto colon = line.find(':');
        if (colon == String::npos)
            continue;
        if (AnsiSameText(std::string_view(line).substr(0, colon), Name))
            return i;
    }
    return -1;
}

void TExStringList::SetField(std::string_view Name, std::string_view Value) {
    int i = IndexOfField(Name);
    if (!Value.empty()) {
        if (i == -1)
            i = Add(String());
        SetStrings(i, String(Name) + ": " + String(Value));
    } else if (i != -1) {
        Delete(i);
    }
}
