#pragma once
// TExStringList: the list of a request's lines ("Name: value"), with lookup
// and replacement of a header line by its name.

#include <string_view>

#include "runtime/StringList.h"

class TExStringList : public TStringList {
  public:
    String ClassName() const override { return "TExStringList"; }

    // Index of the first line whose name (all text before its first ":",
    // nothing trimmed) equals Name, case ignored; -1 when none does.  A line
    // without ":" has no name.
    int IndexOfField(std::string_view Name) const;
    // Value not empty: the line Name + ": " + Value replaces the line found
    // for Name in place, or is appended.  Value empty: the line found for
    // Name is deleted; nothing happens when there is none.
    void SetField(std::string_view Name, std::string_view Value);
};
