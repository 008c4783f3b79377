#include "platform/Trace.h"
#include "testing/StderrCapture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

using testing_support::CaptureStderr;

constexpr unsigned Bit(trace::Channel c) {
    return 1u << static_cast<unsigned>(c);
}

TEST(Trace, ChannelsAreSwitchedOnByName) {
    using trace::Channel;
    EXPECT_EQ(trace::ParseChannels(nullptr), 0u);
    EXPECT_EQ(trace::ParseChannels(""), 0u);
    EXPECT_EQ(trace::ParseChannels("sockets"), Bit(Channel::Sockets));
    EXPECT_EQ(trace::ParseChannels("messages, http ,rates-server"),
              Bit(Channel::Messages) | Bit(Channel::Http) | Bit(Channel::RatesServer));
    EXPECT_EQ(trace::ParseChannels("all"),
              trace::ParseChannels("messages,sockets,http,registry,rates-server"));
    // Unknown names and empty items switch nothing on, and spoil nothing else.
    EXPECT_EQ(trace::ParseChannels("socket,,registry,HTTP"), Bit(Channel::Registry));
}

TEST(Trace, AChannelThatIsOffWritesNothingAndEvaluatesNothing) {
    const unsigned before = trace::EnabledChannels();
    trace::SetEnabledChannels(trace::ParseChannels("http"));
    int evaluated = 0;
    const std::string out = CaptureStderr([&] {
        KURS_TRACE(Sockets, "connect %d", ++evaluated);
        KURS_TRACE(Http, "GET %s", "/x");
    });
    trace::SetEnabledChannels(before);
    EXPECT_EQ(evaluated, 0);
    // One line, stamped and named: "[   12.345] http: GET /x".
    ASSERT_EQ(out.size() > 0 ? out.back() : '\0', '\n');
    EXPECT_EQ(out.find('\n'), out.size() - 1);
    EXPECT_EQ(out.front(), '[');
    EXPECT_NE(out.find("] http: GET /x\n"), std::string::npos) << out;
}

TEST(Trace, AnOverlongLineIsCutAndStillEnds) {
    const unsigned before = trace::EnabledChannels();
    trace::SetEnabledChannels(trace::ParseChannels("all"));
    const std::string longText(5000, 'x');
    const std::string out =
        CaptureStderr([&] { KURS_TRACE(Registry, "value %s", longText.c_str()); });
    trace::SetEnabledChannels(before);
    ASSERT_FALSE(out.empty());
    EXPECT_LT(out.size(), 1025u);
    EXPECT_EQ(out.back(), '\n');
    EXPECT_EQ(out.find('\n'), out.size() - 1);
}

}  // namespace
