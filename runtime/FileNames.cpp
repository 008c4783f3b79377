#include "runtime/FileNames.h"

#include <sys/stat.h>
#include <unistd.h>

bool FileExists(const String& fileName) {
    struct stat st {};
    return ::stat(fileName.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DeleteFile(const String& fileName) {
    return ::unlink(fileName.c_str()) == 0;
}

namespace {
std::size_t LastDelimiter(std::string_view path) {
    const auto p = path.find_last_of("/\\:");
    return p == std::string_view::npos ? 0 : p + 1;
}
}  // namespace

String ExtractFileName(std::string_view path) {
    return String(path.substr(LastDelimiter(path)));
}

String ExtractFilePath(std::string_view path) {
    return String(path.substr(0, LastDelimiter(path)));
}

String ExtractFileExt(std::string_view path) {
    const auto start = LastDelimiter(path);
    const auto dot = path.find_last_of('.');
    if (dot == std::string_view::npos || dot < start)
        return String();
    return String(path.substr(dot));
}

String ChangeFileExt(std::string_view path, std::string_view ext) {
    const auto start = LastDelimiter(path);
    auto dot = path.find_last_of('.');
    if (dot == std::string_view::npos || dot < start)
        dot = path.size();
    return String(path.substr(0, dot)) + String(ext);
}
