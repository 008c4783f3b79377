#include "net/http/NMURL.h"

#include <new>

#include "runtime/Exceptions.h"
#include "runtime/TypInfo.h"

namespace {

bool KeptAsIs(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

const TClassInfo* TNMURL::ClassProperties() {
    static const TClassInfo* info =
        RegisterPublishedClass<TNMURL, TComponent>("TNMURL", [](TPublishedProperties<TNMURL>& p) {
            p.String("InputString", &TNMURL::InputString, &TNMURL::SetInputString);
            p.Method("OnError", &TNMURL::OnError, NewMethodTypeInfo("TOnErrorEvent"));
        });
    return info;
}

TNMURL::TNMURL(TComponent* AOwner) : TComponent(AOwner) {
    ClassProperties();
}

String TNMURL::Encode() {
    static constexpr char kHex[] = "0123456789ABCDEF";
    String message;
    try {
        String result;
        result.reserve(FInputString.size());
        for (const char ch : FInputString) {
            const auto c = static_cast<unsigned char>(ch);
            if (c == ' ') {
                result += '+';
            } else if (KeptAsIs(c)) {
                result += ch;
            } else {
                result += '%';
                result += kHex[c >> 4];
                result += kHex[c & 15];
            }
        }
        return result;
    } catch (const Exception& e) {
        message = e.Message();
    } catch (const std::bad_alloc&) {
        message = "Out of memory";
    } catch (const std::exception& e) {
        message = e.what();
    }
    if (OnError)
        OnError(this, "Error during encode", message);
    return FInputString;
}
