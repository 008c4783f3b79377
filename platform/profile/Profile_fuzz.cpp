// Fuzz target: arbitrary bytes as an INI file, read through the profile
// calls the way a program reads one: the section list, each section's key
// list and each key's value, at two buffer sizes.  Nothing may crash or
// overrun, every answer must be terminated and within its buffer, and a
// value written (a key in a new section) must read back as written while
// the file's other sections keep their values.

#include <unistd.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/profile/Profile.h"

namespace {

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

// A folder of this process's own for the file and its replacements, in
// memory when the machine has a memory file system: every write of the
// profile calls syncs the file and its folder.
const std::string& FilePath() {
    static const std::string path = [] {
        char shm[] = "/dev/shm/kurs-profile-fuzz-XXXXXX";
        char tmp[] = "/tmp/kurs-profile-fuzz-XXXXXX";
        const char* folder = ::mkdtemp(shm);
        if (!folder)
            folder = ::mkdtemp(tmp);
        if (!folder)
            std::abort();
        static const std::string made = folder;
        std::atexit([] {
            std::remove((made + "/fuzz.ini").c_str());
            ::rmdir(made.c_str());
        });
        return made + "/fuzz.ini";
    }();
    return path;
}

void WriteFile(const std::string& path, std::string_view text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        std::abort();
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size())
        std::abort();
    std::fclose(f);
}

// One answer at buffer size n: the count is within the buffer, the text
// ends where the count says, and the buffer's end was not written.
std::string Get(const char* app, const char* key, win::DWORD n, const std::string& path) {
    std::vector<char> buffer(n + 1, '\x7F');
    const win::DWORD got =
        win::GetPrivateProfileStringA(app, key, "dflt", buffer.data(), n, path.c_str());
    Check(buffer[n] == '\x7F');
    if (n == 0)
        return {};
    Check(got <= n - 1);
    Check(buffer[got] == '\0');
    // A list's last name ends in a NUL of its own, unless the list was cut,
    // when it ends in two NULs.
    const bool list = !app || !key;
    if (list && got > 0)
        Check(buffer[got - 1] == '\0' || (got == n - 2 && buffer[got + 1] == '\0'));
    return std::string(buffer.data(), got);
}

// The names of a NUL-separated list.
std::vector<std::string> Names(const std::string& list) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < list.size()) {
        const std::size_t nul = list.find('\0', start);
        const std::size_t end = nul == std::string::npos ? list.size() : nul;
        if (end > start)
            out.emplace_back(list, start, end - start);
        start = end + 1;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = FilePath();
    WriteFile(path, std::string_view(reinterpret_cast<const char*>(data), size));

    constexpr win::DWORD kLarge = 1 << 16;
    const std::vector<std::string> sections = Names(Get(nullptr, nullptr, kLarge, path));
    Get(nullptr, nullptr, 7, path);
    std::vector<std::string> firstKeys;
    std::string firstValue;
    for (std::size_t s = 0; s < sections.size() && s < 8; ++s) {
        const char* app = sections[s].c_str();
        const std::vector<std::string> keys = Names(Get(app, nullptr, kLarge, path));
        Get(app, nullptr, 5, path);
        for (std::size_t k = 0; k < keys.size() && k < 8; ++k) {
            const std::string value = Get(app, keys[k].c_str(), kLarge, path);
            Get(app, keys[k].c_str(), 3, path);
            if (s == 0 && k == 0)
                firstValue = value;
        }
        if (s == 0)
            firstKeys = keys;
    }

    // A new section and key, a value with what a value can hold (not when
    // the file may already have that section).
    const char* app = "kurs fuzz section \xC0\xDF";
    std::string lower(reinterpret_cast<const char*>(data), size);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find("section") != std::string::npos)
        return 0;
    Check(win::WritePrivateProfileStringA(app, "Key", "va=lu;e \"x\"", path.c_str()));
    Check(Get(app, "Key", kLarge, path) == "va=lu;e \"x\"");
    if (!sections.empty() && !firstKeys.empty()) {
        // The first section found before the write still reads the same.
        const char* first = sections[0].c_str();
        Check(Get(first, firstKeys[0].c_str(), kLarge, path) == firstValue);
    }
    return 0;
}
