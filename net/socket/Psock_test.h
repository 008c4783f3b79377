#pragma once
// What the socket client's tests share: pumping the message layer, a
// periodic call paced by the installed clock, the message of what a call
// raises, a cancel from a timer, and the fixture that connects a component
// to a loopback peer.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <utility>

#include "net/socket/Psock.h"
#include "platform/clock/Clock.h"
#include "platform/messages/Messages.h"
#include "runtime/Exceptions.h"
#include "testing/SocketPeer.h"

namespace psock_test {

using namespace std::chrono_literals;
using testpeer::Conn;
using testpeer::Listener;

// The time as the message layer sees it, so that a test that installs a fake
// clock measures in its terms.
inline clocks::TimePoint Now() {
    return clocks::Now();
}

inline void PumpFor(int ms) {
    auto deadline = Now() + std::chrono::milliseconds(ms);
    while (Now() < deadline) {
        win::WaitMessage(10);
        win::ProcessMessages();
    }
}

template <typename Pred>
bool PumpUntil(Pred done, int ms = 3000) {
    auto deadline = Now() + std::chrono::milliseconds(ms);
    while (!done() && Now() < deadline) {
        win::WaitMessage(10);
        win::ProcessMessages();
    }
    return done();
}

// Calls fn every period on the test thread, from inside whatever wait runs
// then (a timer of the message layer), so that a fake clock paces it too.
class Every {
  public:
    Every(std::chrono::milliseconds period, std::function<void()> fn) : FFn(std::move(fn)) {
        FId = win::SetTimer(nullptr, 0, static_cast<win::UINT>(period.count()), &Tick);
        EXPECT_NE(FId, 0u);
        Running()[FId] = this;
    }
    ~Every() { Stop(); }
    Every(const Every&) = delete;
    Every& operator=(const Every&) = delete;

    void Stop() {
        if (FId != 0) {
            win::KillTimer(nullptr, FId);
            Running().erase(FId);
            FId = 0;
        }
    }

  private:
    static std::map<win::UINT_PTR, Every*>& Running() {
        static std::map<win::UINT_PTR, Every*> running;
        return running;
    }
    static void Tick(win::HWND, win::UINT, win::UINT_PTR id, win::DWORD) {
        auto it = Running().find(id);
        if (it != Running().end())
            it->second->FFn();
    }

    std::function<void()> FFn;
    win::UINT_PTR FId = 0;
};

// The message of what fn raises, with its class checked.
template <typename E, typename Fn>
std::string Raised(Fn fn) {
    try {
        fn();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("wrong class: ") + e.what();
    }
    return "nothing raised";
}

struct Fixture : ::testing::Test {
    // A component connected to a fresh listener, and the peer's end.
    void ConnectPair(TPowersock& s, Listener& l, Conn& peer) {
        s.SetHost("127.0.0.1");
        s.SetPort(l.Port());
        s.Connect();
        peer = l.Accept();
        ASSERT_TRUE(peer.Valid());
    }
};

// Cancels the component from a timer of the message layer after 100 ms.
inline void CancelSoon(TPowersock& s) {
    static TPowersock* target;
    target = &s;
    ASSERT_NE(win::SetTimer(nullptr, 0, 100,
                            [](win::HWND, win::UINT, win::UINT_PTR id, win::DWORD) {
                                win::KillTimer(nullptr, id);
                                target->Cancel();
                            }),
              0u);
}

}  // namespace psock_test
