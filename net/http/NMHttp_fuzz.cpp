// Fuzz target: an arbitrary answer from the server, read by the client's
// response reader and body capture.  Nothing may crash, hang or overrun;
// every failure must be an Exception, and the connection is closed after
// every operation.  The answer is served from memory on an in-process
// socket pair (NMHttp_fuzz_answer.h), a new one per input, so an input costs
// a few system calls and nothing of it is kept.

#include <cstddef>
#include <cstdint>

#include "net/http/NMHttp.h"
#include "net/http/NMHttp_fuzz_answer.h"
#include "runtime/Exceptions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static auto* http = new TNMHTTP(nullptr);
    static const String url = "http://127.0.0.1:" + std::to_string(FuzzAnswerPort) + "/fuzz";
    http->SetTimeOut(2000);
    http->SetOutputFileMode(false);
    http->SetInputFileMode(false);
    // Redirects would go to hosts the input names: answer them by ending
    // the operation after the first pass.
    http->OnRedirect = [](bool& handled) { handled = true; };
    BeginFuzzAnswer(data, size);
    try {
        http->Get(url);
    } catch (const Exception&) {
    }
    EndFuzzAnswer();
    if (http->Connected())
        __builtin_trap();
    return 0;
}
