#pragma once
// TNMURL: form-style escaping of a text (the data of a POST).

#include <functional>

#include "runtime/Classes.h"

class TClassInfo;

using TOnErrorEvent =
    std::function<void(TComponent* Sender, const String& Operation, const String& ErrMsg)>;

class TNMURL : public TComponent {
  public:
    explicit TNMURL(TComponent* AOwner);
    String ClassName() const override { return "TNMURL"; }
    static const TClassInfo* ClassProperties();

    const String& InputString() const { return FInputString; }
    void SetInputString(const String& value) { FInputString = value; }

    // InputString escaped, computed on every call: a blank becomes "+", the
    // ASCII letters and digits stay, every other byte becomes "%" and two
    // upper-case hexadecimal digits.  When building the result fails (memory
    // exhausted), OnError gets "Error during encode" and the error's message,
    // and InputString comes back unchanged.
    String Encode();

    TOnErrorEvent OnError;

  private:
    String FInputString;
};
