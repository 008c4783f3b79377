#include "runtime/ExceptionHook.h"

#include <cstdio>
#include <utility>

#include "runtime/Exceptions.h"

namespace {

TApplicationExceptionHandler& Handler() {
    static TApplicationExceptionHandler handler;
    return handler;
}

void WriteToStderr(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const EAbort&) {
        // silent by design
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", Cp1251ToUtf8(e.what()).c_str());
    } catch (...) {
        std::fprintf(stderr, "Unknown exception\n");
    }
}

}  // namespace

void SetApplicationExceptionHandler(TApplicationExceptionHandler handler) {
    Handler() = std::move(handler);
}

void HandleApplicationException(std::exception_ptr error) {
    if (!error)
        return;
    // A copy: the handler may replace itself while it runs.
    TApplicationExceptionHandler handler = Handler();
    if (!handler) {
        WriteToStderr(error);
        return;
    }
    try {
        handler(error);
    } catch (...) {
        WriteToStderr(std::current_exception());
    }
}

void CallGuarded(const std::function<void()>& fn) {
    try {
        if (fn)
            fn();
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}
