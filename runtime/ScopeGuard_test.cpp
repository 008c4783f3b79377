#include "runtime/ScopeGuard.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(ScopeGuard, ExitRunsOnEveryWayOutFailOnlyOnAThrow) {
    int exits = 0;
    int fails = 0;
    {
        ScopeExit onExit([&] { ++exits; });
        ScopeFail onFail([&] { ++fails; });
    }
    EXPECT_EQ(exits, 1);
    EXPECT_EQ(fails, 0);
    EXPECT_THROW(
        {
            ScopeExit onExit([&] { ++exits; });
            ScopeFail onFail([&] { ++fails; });
            throw std::runtime_error("step failed");
        },
        std::runtime_error);
    EXPECT_EQ(exits, 2);
    EXPECT_EQ(fails, 1);
}

TEST(ScopeGuard, AFailGuardMadeWhileUnwindingOnlyRunsForItsOwnThrow) {
    // A destructor that runs during unwinding may make guards of its own; they
    // must not take the outer exception for theirs.
    int fails = 0;
    struct Cleaner {
        int* fails;
        ~Cleaner() {
            ScopeFail inner([this] { ++*fails; });
        }
    };
    EXPECT_THROW(
        {
            Cleaner c{&fails};
            throw std::runtime_error("outer");
        },
        std::runtime_error);
    EXPECT_EQ(fails, 0);
}

TEST(ScopeGuard, ADismissedGuardDoesNothing) {
    int runs = 0;
    {
        ScopeExit onExit([&] { ++runs; });
        onExit.Dismiss();
    }
    EXPECT_THROW(
        {
            ScopeFail onFail([&] { ++runs; });
            onFail.Dismiss();
            throw std::runtime_error("kept");
        },
        std::runtime_error);
    EXPECT_EQ(runs, 0);
}

}  // namespace
