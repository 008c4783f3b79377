#include "platform/profile/Profile.h"

#include <fcntl.h>
#include <pwd.h>
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

namespace win {

namespace {

// cp1251 case folding: ASCII and Cyrillic capitals to small letters.
unsigned char Fold(unsigned char c) {
    if (c >= 'A' && c <= 'Z')
        return static_cast<unsigned char>(c + 32);
    if (c >= 0xC0 && c <= 0xDF)
        return static_cast<unsigned char>(c + 32);
    switch (c) {
        case 0x80:
            return 0x90;
        case 0x81:
            return 0x83;
        case 0x8A:
            return 0x9A;
        case 0x8C:
            return 0x9C;
        case 0x8D:
            return 0x9D;
        case 0x8E:
            return 0x9E;
        case 0x8F:
            return 0x9F;
        case 0xA1:
            return 0xA2;
        case 0xA3:
            return 0xBC;
        case 0xA5:
            return 0xB4;
        case 0xA8:
            return 0xB8;
        case 0xAA:
            return 0xBA;
        case 0xAF:
            return 0xBF;
        case 0xB2:
            return 0xB3;
        case 0xBD:
            return 0xBE;
        default:
            return c;
    }
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Fold(static_cast<unsigned char>(a[i])) != Fold(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::string ConfigHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.config";
    struct passwd pw;
    struct passwd* found = nullptr;
    char buf[4096];
    if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir)
        return std::string(found->pw_dir) + "/.config";
    return "/tmp";
}

std::string WindowsDirectory() {
    return ConfigHome() + "/kurs/windows";
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
};

bool ReadProfile(const std::string& path, Profile& p, bool* exists = nullptr) {
    if (exists)
        *exists = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT;
    if (exists)
        *exists = true;
    std::string text;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    std::string_view rest = text;
    bool first = true;
    while (!rest.empty()) {
        const auto nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
        const bool cr = !line.empty() && line.back() == '\r';
        if (cr)
            line.remove_suffix(1);
        if (first && nl != std::string_view::npos)
            p.crlf = cr;
        first = false;
        p.lines.emplace_back(line);
    }
    return true;
}

std::string Join(const Profile& p) {
    std::string out;
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

bool WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string DirOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool MakeDirs(const std::string& dir) {
    std::size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        const std::string part = dir.substr(0, pos);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}

// Replaces `path` with `text`: temporary file in the same folder, fsync,
// rename, fsync of the folder.  The file keeps its permissions.
bool ReplaceFile(const std::string& path, const std::string& text) {
    const std::string dir = DirOf(path);
    const std::string tmp = path + ".tmp-" + std::to_string(::getpid());
    ::unlink(tmp.c_str());
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = true;
    if (::stat(path.c_str(), &st) == 0)
        ok = ::fchmod(fd, st.st_mode & 07777) == 0;
    ok = ok && WriteAll(fd, text) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
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
    return ReplaceFile(path, Join(p)) ? TRUE : FALSE;
}

}  // namespace win
