#include "platform/Trace.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace trace {
namespace {

constexpr std::string_view kNames[] = {"messages", "sockets", "http", "registry", "rates-server"};
constexpr unsigned kAll = (1u << std::size(kNames)) - 1;

// Set once from the environment; SetEnabledChannels may change it later.
std::atomic<unsigned> gEnabled{ParseChannels(std::getenv("KURS_TRACE"))};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

double MillisecondsSinceFirstTrace() {
    using Clock = std::chrono::steady_clock;
    static const Clock::time_point start = Clock::now();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace

unsigned ParseChannels(const char* value) {
    if (!value)
        return 0;
    unsigned bits = 0;
    std::string_view rest = value;
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view name = Trim(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        if (name == "all") {
            bits |= kAll;
            continue;
        }
        for (std::size_t i = 0; i < std::size(kNames); ++i)
            if (name == kNames[i])
                bits |= 1u << i;
    }
    return bits;
}

unsigned EnabledChannels() {
    return gEnabled.load(std::memory_order_relaxed);
}

void SetEnabledChannels(unsigned bits) {
    gEnabled.store(bits & kAll, std::memory_order_relaxed);
}

void Write(Channel channel, const char* format, ...) {
    // One write per line, so lines of several threads do not interleave.
    char line[1024];
    const auto index = static_cast<std::size_t>(channel);
    const std::string_view name = index < std::size(kNames) ? kNames[index] : "?";
    int used = std::snprintf(line, sizeof line, "[%11.3f] %.*s: ", MillisecondsSinceFirstTrace(),
                             static_cast<int>(name.size()), name.data());
    if (used < 0)
        return;
    va_list args;
    va_start(args, format);
    const int more =
        std::vsnprintf(line + used, sizeof line - static_cast<std::size_t>(used), format, args);
    va_end(args);
    if (more > 0)
        used += more;
    if (used > static_cast<int>(sizeof line) - 1)
        used = sizeof line - 1;  // cut, keeping room for the line end
    line[used++] = '\n';
    for (std::size_t done = 0; done < static_cast<std::size_t>(used);) {
        const ssize_t n = ::write(2, line + done, static_cast<std::size_t>(used) - done);
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace trace
