// The wait: watched descriptors, the backend hook, a clock that skips idle time, and the
// trace channel.

#include "platform/messages/MessagesTestFixture.h"

#include "platform/Trace.h"
#include "platform/clock/FakeClock.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

using namespace win;
using namespace messages_test;
using namespace std::chrono_literals;

namespace {

// ---- descriptors ----------------------------------------------------------------------

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0); }
    ~Pipe() {
        for (int fd : fds) {
            if (fd >= 0) {
                close(fd);
            }
        }
    }
    int Read() const { return fds[0]; }
    int Write() const { return fds[1]; }
};

// Reads a non-blocking descriptor until nothing is left.
void Drain(int fd) {
    char c;
    while (read(fd, &c, 1) == 1) {
    }
}

TEST_F(MessagesTest, WatchedDescriptorWakesTheWaitAndCallsItsHandler) {
    Pipe p;
    HWND h = Make();
    std::vector<short> calls;
    WatchDescriptor(p.Read(), POLLIN, [&](int fd, short revents) {
        calls.push_back(revents);
        Drain(fd);
        PostMessage(h, WM_USER, 0, 0);  // delivered in the same pass
    });
    EXPECT_FALSE(WaitMessage(0));
    ProcessMessages();
    EXPECT_TRUE(calls.empty());

    std::thread writer([&] {
        std::this_thread::sleep_for(30ms);
        EXPECT_EQ(write(p.Write(), "x", 1), 1);
    });
    EXPECT_TRUE(WaitMessage(30000));
    writer.join();
    ProcessMessages();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], POLLIN);
    EXPECT_EQ(Messages(h), std::vector<UINT>{WM_USER});

    // Paused: input waits unseen until the events are set again.
    SetDescriptorEvents(p.Read(), 0);
    EXPECT_EQ(write(p.Write(), "y", 1), 1);
    EXPECT_FALSE(WaitMessage(20));
    ProcessMessages();
    EXPECT_EQ(calls.size(), 1u);
    SetDescriptorEvents(p.Read(), POLLIN);
    EXPECT_TRUE(WaitMessage(0));
    ProcessMessages();
    EXPECT_EQ(calls.size(), 2u);

    UnwatchDescriptor(p.Read());
    EXPECT_EQ(write(p.Write(), "z", 1), 1);
    EXPECT_FALSE(WaitMessage(20));
    ProcessMessages();
    EXPECT_EQ(calls.size(), 2u);
}

TEST_F(MessagesTest, HangUpAndClosedDescriptors) {
    Pipe p;
    std::vector<short> calls;
    WatchDescriptor(p.Read(), POLLIN, [&](int, short revents) {
        calls.push_back(revents);
        UnwatchDescriptor(p.Read());  // a handler may drop its own watch
    });
    close(p.fds[1]);
    p.fds[1] = -1;
    EXPECT_TRUE(WaitMessage(5000));
    ProcessMessages();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0] & POLLHUP);
    EXPECT_TRUE(GetWaitSources().Descriptors.empty());

    // A descriptor closed behind the watch's back is reported once and dropped.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[1]);
    calls.clear();
    WatchDescriptor(fds[0], POLLIN, [&](int, short revents) { calls.push_back(revents); });
    close(fds[0]);
    ProcessMessages();
    ProcessMessages();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0] & POLLNVAL);
    EXPECT_TRUE(GetWaitSources().Descriptors.empty());
}

// ---- backend hook ---------------------------------------------------------------------------

TEST_F(MessagesTest, BackendSeesWaitSourcesAndMayReplaceTheWait) {
    Pipe p;
    HWND h = Make();
    int changes = 0;
    SetWaitSourcesObserver([&] { ++changes; });
    WatchDescriptor(p.Read(), POLLIN, [](int, short) {});
    EXPECT_EQ(changes, 1);
    SetDescriptorEvents(p.Read(), POLLIN | POLLOUT);
    SetDescriptorEvents(p.Read(), POLLIN | POLLOUT);  // unchanged: not reported
    EXPECT_EQ(changes, 2);
    SetTimer(h, 1, 5000, nullptr);
    EXPECT_EQ(changes, 3);

    WaitSources sources = GetWaitSources();
    EXPECT_GE(sources.WakeFd, 0);
    ASSERT_EQ(sources.Descriptors.size(), 1u);
    EXPECT_EQ(sources.Descriptors[0].first, p.Read());
    EXPECT_EQ(sources.Descriptors[0].second, POLLIN | POLLOUT);
    ASSERT_TRUE(sources.NextTimer.has_value());
    EXPECT_EQ(*sources.NextTimer, *GetTimerDueTime(h, 1));

    KillTimer(h, 1);
    UnwatchDescriptor(p.Read());
    EXPECT_EQ(changes, 5);
    EXPECT_FALSE(GetWaitSources().NextTimer.has_value());

    // A post makes the wake descriptor readable for a foreign loop.
    PostMessage(h, WM_USER, 0, 0);
    pollfd wake{sources.WakeFd, POLLIN, 0};
    EXPECT_EQ(poll(&wake, 1, 0), 1);
    ProcessMessages();

    std::vector<int> asked;
    SetWaitFunction([&](int timeoutMs) {
        asked.push_back(timeoutMs);
        return asked.size() == 2;  // the second call reports activity
    });
    SetTimer(h, 1, 5000, nullptr);
    EXPECT_TRUE(WaitMessage(100));
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_GT(asked[0], 0);
    EXPECT_LE(asked[0], 100);  // bounded by the caller's time-out, then the timer
    EXPECT_FALSE(WaitMessage(0));
    KillTimer(h, 1);
}

// ---- a clock that skips idle time -------------------------------------------------------------

TEST_F(MessagesTest, AFakeClockSkipsToTheNextTimerOnlyWhenNothingElseIsReady) {
    clocks::ScopedFakeClock clock;
    Pipe p;
    HWND h = Make();
    std::vector<short> calls;
    WatchDescriptor(p.Read(), POLLIN, [&](int fd, short revents) {
        calls.push_back(revents);
        Drain(fd);
    });

    // Input that is there wins: the clock stays where it is.
    ASSERT_EQ(SetTimer(h, 1, 60000, nullptr), 1u);
    EXPECT_EQ(write(p.Write(), "x", 1), 1);
    EXPECT_TRUE(WaitMessage(-1));
    ProcessMessages();
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_EQ(Count(WM_TIMER), 0);
    EXPECT_LT(clock.Skipped(), 1s);

    // Nothing but the timer: the wait, even a bounded one, skips to it.
    const auto due = *GetTimerDueTime(h, 1);
    EXPECT_TRUE(WaitMessage(10));
    EXPECT_GE(clocks::Now(), due);
    EXPECT_GT(clock.Skipped(), 50s);
    ProcessMessages();
    EXPECT_EQ(Count(WM_TIMER), 1);
    KillTimer(h, 1);

    // Without a timer the wait is a real one, and the clock only runs.
    const auto skipped = clock.Skipped();
    EXPECT_FALSE(WaitMessage(20));
    EXPECT_EQ(clock.Skipped(), skipped);
    UnwatchDescriptor(p.Read());
}

TEST_F(MessagesTest, AFakeClocksSettleTimeIsNotCutShortByAnEmptyWakeUp) {
    clocks::ScopedFakeClock clock(std::chrono::seconds(5));
    Pipe p;
    HWND h = Make();
    HWND gone = Make();
    WatchDescriptor(p.Read(), POLLIN, [](int fd, short) { Drain(fd); });
    ASSERT_EQ(SetTimer(h, 1, 60000, nullptr), 1u);
    // A post whose window goes before delivery leaves a wake-up behind.
    ASSERT_TRUE(PostMessage(gone, WM_USER, 0, 0));
    DestroyWindow(gone);

    std::thread writer([&] {
        std::this_thread::sleep_for(10ms);
        EXPECT_EQ(write(p.Write(), "x", 1), 1);
    });
    EXPECT_TRUE(WaitMessage(-1));
    writer.join();
    EXPECT_LT(clock.Skipped(), 1s);
    ProcessMessages();
    EXPECT_EQ(Count(WM_TIMER), 0);
    KillTimer(h, 1);
    UnwatchDescriptor(p.Read());
}

// ---- the trace channel -------------------------------------------------------------------------

TEST_F(MessagesTest, TheMessagesTraceFollowsARequestOneLineAPlatformCall) {
    HWND h = Make();
    const unsigned before = trace::EnabledChannels();
    trace::SetEnabledChannels(trace::ParseChannels("messages"));
    testing::internal::CaptureStderr();
    SetTimer(h, 7, 5000, nullptr);
    PostMessage(h, WM_USER, 1, 2);
    EXPECT_TRUE(WaitMessage(100));
    ProcessMessages();
    KillTimer(h, 7);
    KillTimer(h, 7);
    const std::string lines = testing::internal::GetCapturedStderr();
    trace::SetEnabledChannels(before);

    for (const char* expected : {"messages: SetTimer ", " id 7 every 5000 ms\n",
                                 "messages: PostMessage ", " 0x0400 wParam 0x1 lParam 0x2\n",
                                 "messages: WaitMessage(100) woke: a message is queued\n",
                                 " id 7\n", " id 7: no such timer\n"}) {
        EXPECT_NE(lines.find(expected), std::string::npos) << expected << " in\n" << lines;
    }
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 5) << lines;

    // Off: nothing.
    testing::internal::CaptureStderr();
    PostMessage(h, WM_USER, 1, 2);
    ProcessMessages();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

}  // namespace
