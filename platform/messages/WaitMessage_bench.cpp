// Prints the CPU time the process spends sitting in WaitMessage for 2 s while
// one timer is armed at 10 s.  A wait that blocks in poll() costs next to
// nothing; a spinning one would show a large share of a core.

#include <sys/resource.h>

#include <chrono>
#include <cstdio>

#include "platform/messages/Messages.h"

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

win::LRESULT Proc(win::HWND h, win::UINT m, win::WPARAM w, win::LPARAM l) {
    return win::DefWindowProc(h, m, w, l);
}

}  // namespace

int main() {
    win::WNDCLASSA wc;
    wc.lpfnWndProc = &Proc;
    wc.lpszClassName = "BenchWindow";
    win::RegisterClass(&wc);
    win::HWND hwnd = win::CreateWindowEx(0, "BenchWindow", "", win::WS_POPUP, 0, 0, 0, 0, nullptr,
                                         nullptr, win::GetModuleHandle(nullptr), nullptr);
    win::SetTimer(hwnd, 1, 10000, nullptr);

    std::printf("WaitMessage with one timer armed at 10 s\n");

    // The figure that matters: one wait of 2 s.
    auto wallStart = std::chrono::steady_clock::now();
    double cpuStart = CpuSeconds();
    const bool woke = win::WaitMessage(2000);
    double cpu = CpuSeconds() - cpuStart;
    double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    std::printf("  one WaitMessage(2000): wall %.3f s, CPU %.3f ms = %.4f %% of one core%s\n", wall,
                cpu * 1000.0, cpu / wall * 100.0, woke ? " (woke early!)" : "");

    // For comparison: the socket client's loop shape, 2 ms waits plus a
    // dispatch pass, for 2 s.
    wallStart = std::chrono::steady_clock::now();
    cpuStart = CpuSeconds();
    long passes = 0;
    while (std::chrono::steady_clock::now() - wallStart < std::chrono::seconds(2)) {
        win::WaitMessage(2);
        win::ProcessMessages();
        ++passes;
    }
    cpu = CpuSeconds() - cpuStart;
    wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    std::printf(
        "  %ld passes of WaitMessage(2) + ProcessMessages: wall %.3f s, CPU %.3f ms = %.4f %% of "
        "one core\n",
        passes, wall, cpu * 1000.0, cpu / wall * 100.0);
    win::DestroyWindow(hwnd);
    return 0;
}
