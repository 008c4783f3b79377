#include "platform/files/ConfigFiles.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace win::files {

namespace {

// Small letters of the cp1251 capitals outside ASCII and 0xC0..0xDF.
struct FoldTable {
    unsigned char map[256];
    constexpr FoldTable() : map() {
        for (int i = 0; i < 256; ++i)
            map[i] = static_cast<unsigned char>(i);
        for (int c = 'A'; c <= 'Z'; ++c)
            map[c] = static_cast<unsigned char>(c + 32);
        for (int c = 0xC0; c <= 0xDF; ++c)
            map[c] = static_cast<unsigned char>(c + 32);
        const unsigned char pairs[][2] = {{0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C},
                                          {0x8D, 0x9D}, {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA1, 0xA2},
                                          {0xA3, 0xBC}, {0xA5, 0xB4}, {0xA8, 0xB8}, {0xAA, 0xBA},
                                          {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE}};
        for (const auto& p : pairs)
            map[p[0]] = p[1];
    }
};
constexpr FoldTable kFold;

void Note(std::string* why, int error) {
    if (why)
        *why = std::strerror(error);
}

ReplaceFaultHook gReplaceFault;

// The errno of a step of ReplaceFile: its own when it failed, else the one
// the fault hook gives it (0 for none).
int Done(bool succeeded, ReplaceStep step) {
    if (!succeeded)
        return errno != 0 ? errno : EIO;
    return gReplaceFault ? gReplaceFault(step) : 0;
}

}  // namespace

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
    struct stat st;
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int ReadFile(const std::string& path, std::string& out) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errno;
    struct stat st;
    const int e = ::fstat(fd, &st) != 0 ? errno
                  : S_ISREG(st.st_mode) ? 0
                  : S_ISDIR(st.st_mode) ? EISDIR
                                        : kNotRegularFile;
    if (e != 0) {
        ::close(fd);
        return e;
    }
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            return e;
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return 0;
}

std::string ReadErrorText(int error) {
    return error == kNotRegularFile ? "not a regular file" : std::strerror(error);
}

bool WriteAll(int fd, std::string_view text) {
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

bool StripByteOrderMark(std::string_view& text) {
    if (text.substr(0, 3) != "\xEF\xBB\xBF")
        return false;
    text.remove_prefix(3);
    return true;
}

bool ReadOnlyFile(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return false;
    if ((st.st_mode & 0222) == 0)
        return true;
    if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0)
        return false;
    return errno == EACCES || errno == EPERM || errno == EROFS;
}

void SetReplaceFaultHook(ReplaceFaultHook hook) {
    gReplaceFault = std::move(hook);
}

bool ReplaceFile(const std::string& path, std::string_view text, FileMode mode, std::string* why) {
    const std::string tmp = path + ".tmp-" + std::to_string(::getpid());
    ::unlink(tmp.c_str());
    const mode_t create = mode == FileMode::Private ? 0600 : 0666;
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, create);
    if (fd < 0) {
        Note(why, errno);
        return false;
    }
    // The steps run in order until one fails; its errno is kept.
    int error = Done(true, ReplaceStep::Create);
    struct stat st;
    if (error == 0 && ::stat(path.c_str(), &st) == 0) {
        // The owner first: a change of owner clears the set-id bits.
        // Only root may give the file away; others keep what they may.
        if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) &&
            ::fchown(fd, st.st_uid, st.st_gid) != 0 && ::fchown(fd, -1, st.st_gid) != 0) {
        }
        error = Done(::fchmod(fd, st.st_mode & 07777) == 0, ReplaceStep::KeepMode);
    }
    if (error == 0)
        error = Done(WriteAll(fd, text), ReplaceStep::Write);
    if (error == 0)
        error = Done(::fsync(fd) == 0, ReplaceStep::Sync);
    // Closed whatever happened before; a failing close may mean the text
    // never reached the disk.
    const bool closed = ::close(fd) == 0;
    if (error == 0)
        error = Done(closed, ReplaceStep::Close);
    if (error == 0)
        error = Done(::rename(tmp.c_str(), path.c_str()) == 0, ReplaceStep::Rename);
    if (error != 0) {
        ::unlink(tmp.c_str());
        Note(why, error);
        return false;
    }
    // Best effort: the file is replaced for every reader already, and some
    // file systems refuse to sync a folder.
    const int dfd = ::open(DirOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

unsigned char FoldByte(unsigned char c) {
    return kFold.map[c];
}

std::string FoldName(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        c = static_cast<char>(FoldByte(static_cast<unsigned char>(c)));
    return out;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldByte(static_cast<unsigned char>(a[i])) !=
            FoldByte(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace win::files
