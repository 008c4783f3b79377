#include "net/http/NMUUE.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/Exceptions.h"

namespace {

String EncodeText(const String& text, UUMethods method) {
    TStringStream in(text), out;
    TNMUUProcessor p(nullptr);
    p.SetMethod(method);
    p.SetInputStream(&in);
    p.SetOutputStream(&out);
    p.Encode();
    EXPECT_EQ(out.Position(), 0);
    return out.DataString();
}

TEST(TNMUUProcessor, MimeIsStandardBase64) {
    struct Case {
        String in, out;
    };
    const Case cases[] = {
        {"", ""},  // nothing at all for nothing
        {"f", "Zg==\r\n"},
        {"fo", "Zm8=\r\n"},
        {"foo", "Zm9v\r\n"},
        {"foobar", "Zm9vYmFy\r\n"},
        {"user:secret", "dXNlcjpzZWNyZXQ=\r\n"},
        {String("\x00\xff\xfe", 3), "AP/+\r\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EncodeText(c.in, uuMime), c.out) << c.in;
}

TEST(TNMUUProcessor, MimeLinesCarry45BytesEach) {
    const String b45(45, 'a');
    String line45;
    for (int i = 0; i < 15; ++i)
        line45 += "YWFh";  // "aaa" fifteen times
    EXPECT_EQ(EncodeText(b45, uuMime), line45 + "\r\n");
    EXPECT_EQ(EncodeText(b45 + "a", uuMime), line45 + "\r\nYQ==\r\n");
    EXPECT_EQ(EncodeText(b45 + b45, uuMime), line45 + "\r\n" + line45 + "\r\n");
}

TEST(TNMUUProcessor, UUCodeLinesStartWithTheLengthAndEndWithAGraveLine) {
    struct Case {
        String in, out;
    };
    const Case cases[] = {
        {"", "`\r\n"},
        {"abc", "#86)C\r\n`\r\n"},
        {"a", "!80\r\n`\r\n"},  // the last group is cut, not filled
        {"ab", "\"86(\r\n`\r\n"},
        {String(3, '\0'), "#````\r\n`\r\n"},  // value 0 is the grave accent
    };
    for (const auto& c : cases)
        EXPECT_EQ(EncodeText(c.in, uuCode), c.out) << c.in;

    const String out = EncodeText(String(46, 'x'), uuCode);
    ASSERT_EQ(out.size(), 1 + 60 + 2 + 1 + 2 + 2 + 3);
    EXPECT_EQ(out[0], 'M');  // 45 bytes
    EXPECT_EQ(out.substr(63), "!>`\r\n`\r\n");
}

TEST(TNMUUProcessor, EncodesFromTheStartOfTheInputAndFiresItsEventsInOrder) {
    TStringStream in("foo"), out;
    in.SetPosition(3);  // Encode rewinds it
    TNMUUProcessor p(nullptr);
    EXPECT_EQ(p.Method(), uuMime);
    std::vector<String> events;
    p.OnBeginEncode = [&](TObject* s) {
        EXPECT_EQ(s, &p);
        events.push_back("begin");
    };
    p.OnEndEncode = [&](TObject* s) {
        EXPECT_EQ(s, &p);
        events.push_back("end " + out.DataString());
    };
    p.SetInputStream(&in);
    p.SetOutputStream(&out);
    p.Encode();
    EXPECT_EQ(events, (std::vector<String>{"begin", "end Zm9v\r\n"}));
}

// An output that refuses to take more than a few bytes.
class TinyStream : public TStringStream {
  public:
    long long Write(const void* buffer, long long count) override {
        const long long room = 4 - static_cast<long long>(DataString().size());
        return TStringStream::Write(buffer, std::min(count, std::max(room, 0LL)));
    }
};

TEST(TNMUUProcessor, AStreamErrorPassesAfterOnEndEncode) {
    TStringStream in("a long enough input");
    TinyStream out;
    TNMUUProcessor p(nullptr);
    bool ended = false;
    p.OnEndEncode = [&](TObject*) { ended = true; };
    p.SetInputStream(&in);
    p.SetOutputStream(&out);
    EXPECT_THROW(p.Encode(), Exception);
    EXPECT_TRUE(ended);
    EXPECT_EQ(out.Position(), 0);
}

TEST(TNMUUProcessor, MissingStreamsAreAClearErrorNotACrash) {
    TStringStream s;
    TNMUUProcessor p(nullptr);
    bool began = false;
    p.OnBeginEncode = [&](TObject*) { began = true; };
    try {
        p.Encode();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Encode: InputStream is not set");
    }
    p.SetInputStream(&s);
    try {
        p.Encode();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Encode: OutputStream is not set");
    }
    EXPECT_FALSE(began);
}

}  // namespace
