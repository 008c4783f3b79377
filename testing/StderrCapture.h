#pragma once
// What a piece of code writes on stderr (descriptor 2), for tests of traces
// and warnings.  A reader thread drains the pipe while the code runs, so a
// long output cannot block the writer.

#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

namespace testing_support {

template <class F>
std::string CaptureStderr(F body) {
    std::fflush(stderr);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return "pipe failed";
    std::string out;
    std::thread reader([&] {
        char buf[4096];
        for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;)
            out.append(buf, static_cast<std::size_t>(n));
    });
    const int saved = ::dup(2);
    ::dup2(pipeFds[1], 2);
    ::close(pipeFds[1]);
    body();
    std::fflush(stderr);
    ::dup2(saved, 2);
    ::close(saved);
    reader.join();
    ::close(pipeFds[0]);
    return out;
}

}  // namespace testing_support
