#pragma once
// The fixture the message layer's tests share: two registered classes whose
// procedure records every message, and the windows a test made, destroyed
// after it.

#include <fcntl.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include "platform/messages/Messages.h"

namespace messages_test {

using namespace win;

struct Seen {
    HWND hwnd;
    UINT msg;
    WPARAM wParam;
    LPARAM lParam;
};

inline std::vector<Seen> g_seen;
// Lets a test answer or act on a message; nullopt = default handling.
inline std::function<std::optional<LRESULT>(HWND, UINT, WPARAM, LPARAM)> g_react;

inline LRESULT RecordingProc(HWND h, UINT m, WPARAM w, LPARAM l) {
    g_seen.push_back(Seen{h, m, w, l});
    if (g_react) {
        if (auto r = g_react(h, m, w, l)) {
            return *r;
        }
    }
    return DefWindowProc(h, m, w, l);
}

constexpr UINT kPass = 0xFFFF;  // marks the start of a ProcessMessages pass in a log

class MessagesTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (GetClassInfo(GetModuleHandle(nullptr), "RecordingWindow", nullptr)) {
            return;  // a repeated run
        }
        WNDCLASSA wc;
        wc.lpfnWndProc = &RecordingProc;
        wc.cbWndExtra = 2 * sizeof(LONG_PTR);
        wc.hInstance = GetModuleHandle(nullptr);
        wc.lpszClassName = "RecordingWindow";
        ASSERT_NE(RegisterClass(&wc), 0);
        wc.cbWndExtra = 0;
        wc.lpszClassName = "BareWindow";
        ASSERT_NE(RegisterClass(&wc), 0);
    }

    void TearDown() override {
        g_react = nullptr;
        for (HWND h : made_) {
            if (IsWindow(h)) {
                DestroyWindow(h);
            }
        }
        SetWaitSourcesObserver(nullptr);
        SetWaitFunction(nullptr);
        ProcessMessages();
        g_seen.clear();
    }

    // Creates a window and forgets the messages of its creation.
    HWND Make(DWORD style = WS_POPUP, HWND parent = nullptr, const char* cls = "RecordingWindow") {
        HWND h = Create(style, parent, cls);
        g_seen.clear();
        return h;
    }

    HWND Create(DWORD style = WS_POPUP, HWND parent = nullptr,
                const char* cls = "RecordingWindow") {
        HWND h = CreateWindowEx(0, cls, "title", style, 10, 20, 300, 200, parent, nullptr,
                                GetModuleHandle(nullptr), nullptr);
        if (h != nullptr) {
            made_.push_back(h);
        }
        return h;
    }

    static std::vector<UINT> Messages(HWND only = nullptr) {
        std::vector<UINT> out;
        for (auto& s : g_seen) {
            if (only == nullptr || s.hwnd == only || s.msg == kPass) {
                out.push_back(s.msg);
            }
        }
        return out;
    }

    static void Pass() {
        g_seen.push_back(Seen{nullptr, kPass, 0, 0});
        ProcessMessages();
    }

    static int Count(UINT msg) {
        int n = 0;
        for (auto& s : g_seen) {
            n += s.msg == msg;
        }
        return n;
    }

    std::vector<HWND> made_;
};

}  // namespace messages_test
