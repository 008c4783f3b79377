#include "tools/rates-server/upstream/DocumentCache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/rates-server/upstream/BankXml.h"

namespace rates {

namespace {

std::string ErrnoText(int error) {
    return std::strerror(error);
}

// Creates dir and its missing parents, each with mode 0700.
bool MakeFolders(const std::string& dir, std::string& why) {
    std::string path;
    std::size_t from = 0;
    while (from <= dir.size()) {
        const auto slash = dir.find('/', from);
        const auto end = slash == std::string::npos ? dir.size() : slash;
        path = dir.substr(0, end);
        from = end + 1;
        if (path.empty() || path.back() == '/')
            continue;
        if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
            why = "cannot create " + path + ": " + ErrnoText(errno);
            return false;
        }
    }
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        why = dir + " is not a folder";
        return false;
    }
    return true;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

Date MoscowDateAt(WallClock::time_point t) {
    using namespace std::chrono;
    const year_month_day day{floor<days>(t + hours(3))};
    return Date{static_cast<int>(day.year()), static_cast<int>(static_cast<unsigned>(day.month())),
                static_cast<int>(static_cast<unsigned>(day.day()))};
}

bool IsFresh(const Date& requested, WallClock::time_point fetchedAt, WallClock::time_point now,
             std::chrono::seconds ttl) {
    // A copy fetched while its date was today or still to come may have
    // been replaced since (the next day's rates come out in the evening);
    // once fetched after the date, it is final.
    if (MoscowDateAt(fetchedAt) > requested)
        return true;
    return fetchedAt <= now && now - fetchedAt < ttl;
}

std::string DocumentDateProblem(const Date& requested, const Date& dated, const Date& today) {
    using namespace std::chrono;
    auto day = [](const Date& d) {
        return sys_days{year{d.Year} / month{static_cast<unsigned>(d.Month)} /
                        static_cast<unsigned>(d.Day)};
    };
    if (dated > requested)
        return "the document is dated " + dated.Text() + ", after " + requested.Text();
    const auto tomorrow = day(today) + days(1);
    const auto latest = std::min(day(requested), tomorrow);
    if (day(dated) < latest - days(15))
        return "the document is dated " + dated.Text() + ", more than 15 days before " +
               (latest == tomorrow && day(requested) > tomorrow ? "tomorrow" : requested.Text());
    return {};
}

std::string DocumentCache::PathOf(const Date& requested) const {
    char name[32];
    std::snprintf(name, sizeof name, "%04d-%02d-%02d.xml", requested.Year, requested.Month,
                  requested.Day);
    return FDir + "/" + name;
}

std::optional<DocumentCache::Copy> DocumentCache::Load(const Date& requested,
                                                       std::string* damaged) const {
    if (!Enabled())
        return std::nullopt;
    const std::string path = PathOf(requested);
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT && damaged != nullptr)
            *damaged = errno == ELOOP ? "a symbolic link, not followed"
                                      : "cannot open: " + ErrnoText(errno);
        return std::nullopt;
    }
    auto fail = [&](const std::string& why) -> std::optional<Copy> {
        close(fd);
        if (damaged != nullptr)
            *damaged = why;
        return std::nullopt;
    };
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        return fail("not a regular file");
    if (static_cast<std::size_t>(st.st_size) > kMaxBankXmlSize)
        return fail("larger than " + std::to_string(kMaxBankXmlSize) + " bytes");
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail("cannot read: " + ErrnoText(errno));
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    close(fd);
    bytes.resize(got);
    auto doc = ReadBankXml(bytes);
    if (!doc.Ok) {
        if (damaged != nullptr)
            *damaged = doc.Error;
        return std::nullopt;
    }
    using namespace std::chrono;
    const auto mtime = WallClock::time_point(duration_cast<WallClock::duration>(
        seconds(st.st_mtim.tv_sec) + nanoseconds(st.st_mtim.tv_nsec)));
    return Copy{std::move(doc.Table), mtime, std::move(bytes)};
}

int DocumentCache::RemoveLeftovers(WallClock::time_point now) const {
    if (!Enabled())
        return 0;
    DIR* dir = opendir(FDir.c_str());
    if (dir == nullptr)
        return 0;
    // ".2026-03-18.xml.XXXXXX", as Store names them.
    auto isTemporary = [](std::string_view n) {
        return n.size() == 22 && n[0] == '.' && n.substr(11, 5) == ".xml." &&
               ParseDate(std::string(n.substr(9, 2)) + "." + std::string(n.substr(6, 2)) + "." +
                         std::string(n.substr(1, 4)))
                   .has_value() &&
               n[5] == '-' && n[8] == '-';
    };
    int removed = 0;
    while (const dirent* e = readdir(dir)) {
        if (!isTemporary(e->d_name))
            continue;
        struct stat st {};
        if (fstatat(dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        if (now - WallClock::from_time_t(st.st_mtim.tv_sec) < std::chrono::minutes(1))
            continue;
        if (unlinkat(dirfd(dir), e->d_name, 0) == 0)
            ++removed;
    }
    closedir(dir);
    return removed;
}

std::string DocumentCache::Store(const Date& requested, std::string_view bytes,
                                 WallClock::time_point fetchedAt) const {
    if (!Enabled())
        return {};
    std::string why;
    if (!MakeFolders(FDir, why))
        return why;
    const std::string path = PathOf(requested);
    // A dot name beside the file: never read as a document, renamed over it
    // only when complete and on disk.
    const auto slash = path.rfind('/');
    std::string temp = path.substr(0, slash + 1) + "." + path.substr(slash + 1) + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return "cannot create a file in " + FDir + ": " + ErrnoText(errno);
    using namespace std::chrono;
    const auto since = fetchedAt.time_since_epoch();
    const auto secs = duration_cast<seconds>(since);
    timespec times[2];
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(secs.count());
    times[0].tv_nsec = times[1].tv_nsec =
        static_cast<long>(duration_cast<nanoseconds>(since - secs).count());
    if (!WriteAll(fd, bytes) || futimens(fd, times) != 0 || fsync(fd) != 0) {
        why = "cannot write " + temp + ": " + ErrnoText(errno);
        close(fd);
        unlink(temp.c_str());
        return why;
    }
    if (close(fd) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
        why = "cannot store " + path + ": " + ErrnoText(errno);
        unlink(temp.c_str());
        return why;
    }
    // The rename itself reaches the disk with the folder.
    if (const int dirFd = open(FDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
        fsync(dirFd);
        close(dirFd);
    }
    return {};
}

}  // namespace rates
