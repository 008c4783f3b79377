// Fuzz target: an arbitrary answer from the server, read by the client's
// response reader and body capture over a real loopback connection.  Nothing
// may crash, hang or overrun; every failure must be an Exception.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "net/http/NMHttp.h"
#include "net/http/tests/ScriptedServer.h"
#include "runtime/Exceptions.h"

namespace {

testing_support::ScriptedServer& Server() {
    static auto* server = new testing_support::ScriptedServer();
    return *server;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& server = Server();
    server.Push(std::string(reinterpret_cast<const char*>(data), size));
    static auto* http = new TNMHTTP(nullptr);
    http->SetTimeOut(2000);
    http->SetOutputFileMode(false);
    http->SetInputFileMode(false);
    // Redirects would go to hosts the input names: answer them by ending
    // the operation after the first pass.
    http->OnRedirect = [](bool& handled) { handled = true; };
    try {
        http->Get("http://127.0.0.1:" + std::to_string(server.Port()) + "/fuzz");
    } catch (const Exception&) {
    }
    if (http->Connected())
        __builtin_trap();
    return 0;
}
