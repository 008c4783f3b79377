// The shared state of the message layer and the helpers every part uses.

#include "platform/messages/MessagesState.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace win {
namespace detail {

State::State() {
    wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
        throw std::runtime_error("eventfd: " + std::string(std::strerror(errno)));
    }
}

State& S() {
    static State* state = new State;
    return *state;
}

Window* Find(HWND hwnd) {
    auto it = S().windows.find(hwnd);
    return it == S().windows.end() ? nullptr : it->second.get();
}

Window* FindOrFail(HWND hwnd) {
    Window* w = Find(hwnd);
    if (w == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    }
    return w;
}

LRESULT CallProc(Window* w, UINT msg, WPARAM wParam, LPARAM lParam) {
    WNDPROC proc = w->proc != nullptr ? w->proc : &DefWindowProc;
    return proc(w->hwnd, msg, wParam, lParam);
}

void SignalWake() {
    std::uint64_t one = 1;
    // A full counter (never in practice) still leaves the descriptor readable.
    [[maybe_unused]] auto n = ::write(S().wakeFd, &one, sizeof one);
}

void DrainWake() {
    std::uint64_t value;
    [[maybe_unused]] auto n = ::read(S().wakeFd, &value, sizeof value);
}

void NotifyObserver() {
    if (S().observer) {
        auto observer = S().observer;  // it may replace itself
        observer();
    }
}

}  // namespace detail

namespace {
thread_local DWORD lastError = 0;
}  // namespace

DWORD GetLastError() {
    return lastError;
}
void SetLastError(DWORD error) {
    lastError = error;
}

}  // namespace win
