#pragma once
// The clipboard: the desktop's through the backend, or one kept in the
// process when there is no backend (headless, tests).

#include "runtime/String.h"

class TClipboard {
  public:
    String AsText() const;
    void SetAsText(const String& value);
    bool HasText() const { return !AsText().empty(); }
};

TClipboard* Clipboard();
