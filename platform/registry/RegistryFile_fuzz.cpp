// Fuzz target: arbitrary bytes as a registry file.  Nothing may crash or
// overrun; a refused file names its fault, and a file that is read is
// written back as text that reads into the same tree and writes the same
// text again.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry/RegistryFile.h"

namespace {

constexpr std::string_view kRoot = "HKEY_CURRENT_USER";

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    win::regfile::Key root;
    std::string error;
    if (!win::regfile::Parse(text, kRoot, root, &error)) {
        Check(!error.empty());
        return 0;
    }
    const std::string written = win::regfile::Serialize(root, kRoot);
    win::regfile::Key again;
    std::string againError;
    Check(win::regfile::Parse(written, kRoot, again, &againError));
    Check(win::regfile::Serialize(again, kRoot) == written);
    return 0;
}
