#include "net/http/NMUUE.h"

#include "runtime/Exceptions.h"
#include "runtime/TypInfo.h"

namespace {

constexpr char kMimeAlphabet[65] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// 0 is the grave accent, v from 1 to 63 the character 32 + v.
constexpr char kUUAlphabet[65] =
    "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";

constexpr int kBytesPerLine = 45;

}  // namespace

const TClassInfo* TNMUUProcessor::ClassProperties() {
    static const TClassInfo* info = RegisterPublishedClass<TNMUUProcessor, TComponent>(
        "TNMUUProcessor", [](TPublishedProperties<TNMUUProcessor>& p) {
            static const TTypeInfo* methods = NewEnumTypeInfo("UUMethods", {"uuMime", "uuCode"});
            p.Enumeration("Method", methods, &TNMUUProcessor::Method, &TNMUUProcessor::SetMethod)
                .SetDefault(uuMime);
            p.Method("OnBeginEncode", &TNMUUProcessor::OnBeginEncode);
            p.Method("OnEndEncode", &TNMUUProcessor::OnEndEncode);
        });
    return info;
}

TNMUUProcessor::TNMUUProcessor(TComponent* AOwner) : TComponent(AOwner) {
    ClassProperties();
    FMethod = uuMime;
}

void TNMUUProcessor::Encode() {
    if (FInputStream == nullptr)
        throw Exception("Encode: InputStream is not set");
    if (FOutputStream == nullptr)
        throw Exception("Encode: OutputStream is not set");
    FInputStream->SetPosition(0);
    if (OnBeginEncode)
        OnBeginEncode(this);
    auto finish = [this] {
        FOutputStream->SetPosition(0);
        if (OnEndEncode)
            OnEndEncode(this);
    };
    // Not a scope guard: OnEndEncode may raise, also after a failure, and
    // its exception then goes on in place of the first, which a destructor
    // cannot do.
    try {
        EncodeLines();
    } catch (...) {
        finish();
        throw;
    }
    finish();
}

void TNMUUProcessor::EncodeLines() {
    FAlphabet = FMethod == uuCode ? kUUAlphabet : kMimeAlphabet;
    const bool mime = FMethod != uuCode;
    const char* a = FAlphabet;
    unsigned char in[kBytesPerLine];
    String line;
    while (FInputStream->Position() < FInputStream->Size()) {
        const long long got = FInputStream->Read(in, kBytesPerLine);
        // A stream that claims more bytes than it yields would loop forever.
        if (got <= 0)
            break;
        const int n = static_cast<int>(got);
        line.clear();
        if (!mime)
            line += a[n];
        int i = 0;
        for (; i + 3 <= n; i += 3) {
            const unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
            line += a[b0 >> 2];
            line += a[((b0 & 3) << 4) | (b1 >> 4)];
            line += a[((b1 & 15) << 2) | (b2 >> 6)];
            line += a[b2 & 63];
        }
        if (n - i == 1) {
            const unsigned b0 = in[i];
            line += a[b0 >> 2];
            line += a[(b0 & 3) << 4];
            if (mime)
                line += "==";
        } else if (n - i == 2) {
            const unsigned b0 = in[i], b1 = in[i + 1];
            line += a[b0 >> 2];
            line += a[((b0 & 3) << 4) | (b1 >> 4)];
            line += a[(b1 & 15) << 2];
            if (mime)
                line += '=';
        }
        line += "\r\n";
        FOutputStream->WriteString(line);
    }
    if (!mime)
        FOutputStream->WriteString("`\r\n");
}
