#pragma once
// What the registry's entry points share inside this folder: the key behind
// a handle, reached under the registry's lock, and the texts of the traces.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/registry/Registry.h"
#include "platform/registry/RegistryFile.h"

namespace win::detail {

// The key a handle (or a root key) stands for, with the rights it grants.
struct Target {
    int root = -1;
    std::shared_ptr<regfile::Key> key;
    regfile::Path path;
    REGSAM access = 0;
};

// Runs body on the key behind h with the registry locked, once h resolves
// and its handle grants every right in need (none asked: any handle will do).
LONG WithKey(HKEY h, REGSAM need, const std::function<LONG(Target&)>& body);

FILETIME ToFileTime(std::int64_t unixSeconds);

// The full name of the key behind a handle ("HKEY_CURRENT_USER\\Software"), for
// traces.  Takes the registry's lock.
std::string KeyText(HKEY h);
// The name of a result code, for traces.
const char* ResultText(LONG result);

}  // namespace win::detail
