#include "platform/profile/Profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files/ConfigFiles.h"

namespace win {

namespace {

using files::DirOf;
using files::MakeDirs;
using files::SameName;

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::string WindowsDirectory() {
    return files::ConfigHome() + "/kurs/windows";
}

// One line of a profile file, classified.
struct Line {
    enum Kind { Other, Section, Entry };
    Kind kind = Other;
    std::string_view name;   // section or key name, trimmed
    std::string_view value;  // entry value, trimmed
};

Line Classify(std::string_view raw) {
    Line l;
    std::string_view s = Trim(raw);
    if (s.empty() || s.front() == ';')
        return l;
    if (s.front() == '[') {
        const auto close = s.find(']');
        l.kind = Line::Section;
        l.name =
            Trim(s.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
        return l;
    }
    const auto eq = s.find('=');
    if (eq == std::string_view::npos)
        return l;
    l.kind = Line::Entry;
    l.name = Trim(s.substr(0, eq));
    l.value = Trim(s.substr(eq + 1));
    return l;
}

// A profile file as lines (without their line ends).
struct Profile {
    std::vector<std::string> lines;
    bool crlf = false;  // the file's lines end in CR LF
    bool mark = false;  // the file begins with a UTF-8 byte-order mark
};

bool ReadProfile(const std::string& path, Profile& p, bool* exists = nullptr) {
    if (exists)
        *exists = false;
    std::string text;
    const int err = files::ReadFile(path, text);
    if (err != 0)
        return err == ENOENT;
    if (exists)
        *exists = true;
    std::string_view rest = text;
    p.mark = files::StripByteOrderMark(rest);
    bool first = true;
    while (!rest.empty()) {
        const auto nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
        // Every CR before the line's end goes with it: a written line ends in
        // LF or CR LF, so a CR kept at a value's end would be lost (and the
        // value changed) at the next write of any section.
        const bool cr = !line.empty() && line.back() == '\r';
        while (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (first && nl != std::string_view::npos)
            p.crlf = cr;
        first = false;
        p.lines.emplace_back(line);
    }
    return true;
}

std::string Join(const Profile& p) {
    std::string out = p.mark ? "\xEF\xBB\xBF" : "";
    const char* eol = p.crlf ? "\r\n" : "\n";
    for (const auto& l : p.lines) {
        out += l;
        out += eol;
    }
    return out;
}

// Copies `text` with the truncation rule of a single value.
DWORD CopyValue(std::string_view text, LPSTR out, DWORD size) {
    if (size == 0)
        return 0;
    const std::size_t n = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<DWORD>(n);
}

// Copies NUL-separated names with the truncation rule of a list.
DWORD CopyList(const std::vector<std::string_view>& names, LPSTR out, DWORD size) {
    std::string list;
    for (auto n : names) {
        list += n;
        list.push_back('\0');
    }
    if (size == 0)
        return 0;
    if (list.size() + 1 <= size) {
        std::memcpy(out, list.data(), list.size());
        out[list.size()] = '\0';
        return static_cast<DWORD>(list.size());
    }
    if (size < 2) {
        out[0] = '\0';
        return 0;
    }
    std::memcpy(out, list.data(), size - 2);
    out[size - 2] = '\0';
    out[size - 1] = '\0';
    return size - 2;
}

// An exclusive lock on a folder, so read-change-replace of a file in it runs
// one program at a time.
class FolderLock {
  public:
    explicit FolderLock(const std::string& dir) {
        fd_ = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd_ < 0)
            return;
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FolderLock() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    int fd_ = -1;
};

// The end (one past the last line) of the section whose header is at `at`.
std::size_t SectionEnd(const Profile& p, std::size_t at) {
    std::size_t i = at + 1;
    while (i < p.lines.size() && Classify(p.lines[i]).kind != Line::Section)
        ++i;
    return i;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

std::string ProfileFilePath(LPCSTR lpFileName) {
    const std::string name = lpFileName ? lpFileName : "win.ini";
    if (name.find('/') != std::string::npos)
        return name;
    return WindowsDirectory() + "/" + name;
}

UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize) {
    const std::string dir = WindowsDirectory();
    if (!lpBuffer || uSize <= dir.size())
        return static_cast<UINT>(dir.size() + 1);
    std::memcpy(lpBuffer, dir.c_str(), dir.size() + 1);
    return static_cast<UINT>(dir.size());
}

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
    if (!lpReturnedString)
        return 0;
    Profile p;
    if (!lpFileName || *lpFileName)
        ReadProfile(ProfileFilePath(lpFileName), p);  // unreadable reads as empty

    std::vector<std::string_view> names;
    bool inSection = false;
    for (const auto& raw : p.lines) {
        const Line l = Classify(raw);
        if (l.kind == Line::Section) {
            inSection = lpAppName && SameName(l.name, lpAppName);
            if (!lpAppName) {
                bool seen = false;
                for (auto n : names)
                    seen = seen || SameName(n, l.name);
                if (!seen)
                    names.push_back(l.name);
            }
            continue;
        }
        if (!inSection || l.kind != Line::Entry)
            continue;
        if (!lpKeyName) {
            bool seen = false;
            for (auto n : names)
                seen = seen || SameName(n, l.name);
            if (!seen)
                names.push_back(l.name);
        } else if (SameName(l.name, lpKeyName)) {
            std::string_view v = l.value;
            if (v.size() >= 2 && v.front() == v.back() && (v.front() == '"' || v.front() == '\''))
                v = v.substr(1, v.size() - 2);
            return CopyValue(v, lpReturnedString, nSize);
        }
    }
    if (!lpAppName || !lpKeyName)
        return CopyList(names, lpReturnedString, nSize);

    std::string_view def = lpDefault ? lpDefault : "";
    while (!def.empty() && def.back() == ' ')
        def.remove_suffix(1);
    return CopyValue(def, lpReturnedString, nSize);
}

BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                LPCSTR lpFileName) {
    if (!lpAppName)
        return (!lpKeyName && !lpString) ? TRUE : FALSE;  // all null: a flush
    if (lpFileName && !*lpFileName)
        return FALSE;
    const std::string_view section = Trim(lpAppName);
    if (HasLineBreak(section) || section.find(']') != std::string_view::npos)
        return FALSE;
    std::string_view key, value;
    if (lpKeyName) {
        key = Trim(lpKeyName);
        if (HasLineBreak(key) || key.find('=') != std::string_view::npos ||
            (!key.empty() && (key.front() == '[' || key.front() == ';')))
            return FALSE;
    }
    if (lpString) {
        value = lpString;
        if (HasLineBreak(value))
            return FALSE;
    }

    std::string path = ProfileFilePath(lpFileName);
    const bool bare = !lpFileName || std::strchr(lpFileName, '/') == nullptr;
    if (bare && !MakeDirs(DirOf(path)))
        return FALSE;
    // Write through a symbolic link to the file it names, not over the link.
    char resolved[PATH_MAX];
    struct stat lst;
    if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode) &&
        ::realpath(path.c_str(), resolved))
        path = resolved;

    FolderLock lock(DirOf(path));
    Profile p;
    bool exists = false;
    if (!ReadProfile(path, p, &exists))
        return FALSE;  // never overwrite what we cannot read
    if (exists && files::ReadOnlyFile(path))
        return FALSE;  // nor what the user made read-only

    // Every section of that name: deleting reaches all, setting the first.
    std::vector<std::size_t> headers;
    for (std::size_t i = 0; i < p.lines.size(); ++i) {
        const Line l = Classify(p.lines[i]);
        if (l.kind == Line::Section && SameName(l.name, section))
            headers.push_back(i);
    }
    bool changed = false;
    if (!lpKeyName) {
        for (auto it = headers.rbegin(); it != headers.rend(); ++it) {
            p.lines.erase(p.lines.begin() + static_cast<std::ptrdiff_t>(*it),
                          p.lines.begin() + static_cast<std::ptrdiff_t>(SectionEnd(p, *it)));
            changed = true;
        }
    } else if (!lpString) {
        for (auto it = headers.rbegin(); it != headers.rend(); ++it) {
            for (std::size_t i = SectionEnd(p, *it); i-- > *it + 1;) {
                const Line l = Classify(p.lines[i]);
                if (l.kind == Line::Entry && SameName(l.name, key)) {
                    p.lines.erase(p.lines.begin() + static_cast<std::ptrdiff_t>(i));
                    changed = true;
                }
            }
        }
    } else {
        const std::string entry = std::string(key) + "=" + std::string(value);
        bool done = false;
        for (std::size_t h : headers) {
            const std::size_t end = SectionEnd(p, h);
            for (std::size_t i = h + 1; i < end && !done; ++i) {
                const Line l = Classify(p.lines[i]);
                if (l.kind == Line::Entry && SameName(l.name, key)) {
                    const std::string kept = std::string(l.name) + "=" + std::string(value);
                    changed = p.lines[i] != kept;
                    p.lines[i] = kept;
                    done = true;
                }
            }
            if (done)
                break;
        }
        if (!done && !headers.empty()) {
            // After the section's last entry, before the blank lines that follow it.
            const std::size_t h = headers.front();
            std::size_t at = SectionEnd(p, h);
            while (at > h + 1 && Classify(p.lines[at - 1]).kind == Line::Other &&
                   Trim(p.lines[at - 1]).empty())
                --at;
            p.lines.insert(p.lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
            changed = true;
        } else if (!done) {
            if (!p.lines.empty() && !Trim(p.lines.back()).empty())
                p.lines.emplace_back();
            p.lines.push_back("[" + std::string(section) + "]");
            p.lines.push_back(entry);
            changed = true;
        }
    }
    if (!changed)
        return TRUE;
    return files::ReplaceFile(path, Join(p), files::FileMode::Shared) ? TRUE : FALSE;
}

}  // namespace win
