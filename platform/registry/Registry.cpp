#include "platform/registry/Registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Trace.h"
#include "platform/clock/Clock.h"
#include "platform/files/ConfigFiles.h"
#include "platform/registry/RegistryFile.h"
#include "platform/registry/RegistryKeys.h"

namespace win {

using namespace detail;

namespace {

using regfile::Change;
using regfile::Key;
using regfile::Path;

constexpr DWORD kMaxValueSize = 1u << 20;

struct FileStamp {
    bool valid = false;  // false: unknown, compare as changed
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long long mtimeNs = 0;

    bool operator==(const FileStamp& o) const {
        return valid && o.valid && exists == o.exists && dev == o.dev && ino == o.ino &&
               size == o.size && mtimeNs == o.mtimeNs;
    }
};

FileStamp StampOf(const std::string& file) {
    FileStamp s;
    s.valid = true;
    struct stat st;
    if (::stat(file.c_str(), &st) != 0)
        return s;
    s.exists = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    return s;
}

struct Root {
    const char* name = nullptr;
    std::shared_ptr<Key> tree = std::make_shared<Key>();
    std::vector<Change> journal;  // changes not yet in the file
    int handles = 0;              // open handles below this root
    std::string file;             // the file the tree was read from
    FileStamp stamp;              // that file as we last read or wrote it
    RegistryFileProblem problem;  // what stood in the way at the last attempt
    std::string told;             // the last message about it on stderr
};

struct Handle {
    int root = 0;
    std::shared_ptr<Key> key;
    Path path;
    REGSAM access = 0;
};

std::mutex gMutex;
Root gRoots[7];
std::map<UINT_PTR, Handle> gHandles;
UINT_PTR gNextHandle = 0x1000;

const char* const kRootNames[7] = {
    "HKEY_CLASSES_ROOT",   "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS", nullptr,
    "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};

std::int64_t Now() {
    return static_cast<std::int64_t>(std::chrono::system_clock::to_time_t(clocks::WallNow()));
}

// An exclusive lock on NAME.reg.lock, released when the object goes away.
class FileLock {
  public:
    explicit FileLock(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0600);
        if (fd_ < 0)
            return;
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~FileLock() {
        if (fd_ >= 0)
            ::close(fd_);  // closing releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// Temporary files are written only under the lock, so any found while
// holding it were left by a program that died mid-save.
void RemoveStaleTemporaries(const std::string& dir, const std::string& baseName) {
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    const std::string prefix = baseName + ".tmp-";
    while (const dirent* e = ::readdir(d)) {
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0)
            ::unlinkat(::dirfd(d), e->d_name, 0);
    }
    ::closedir(d);
}

std::string CorruptName(const std::string& file) {
    char stamp[32];
    const std::time_t t = std::chrono::system_clock::to_time_t(clocks::WallNow());
    struct tm tm;
    ::gmtime_r(&t, &tm);
    std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &tm);
    std::string name = file + ".corrupt-" + stamp;
    struct stat st;
    for (int i = 1; ::lstat(name.c_str(), &st) == 0; ++i)
        name = file + ".corrupt-" + stamp + "-" + std::to_string(i);
    return name;
}

// Parses a root's file text into `tree`; a text that cannot be parsed is
// moved aside with a message on stderr, and the tree starts empty.
void ParseOrMoveAside(const std::string& file, const std::string& text, const char* rootName,
                      Key& tree) {
    std::string fault;
    if (regfile::Parse(text, rootName, tree, &fault))
        return;
    tree = Key();
    const std::string aside = CorruptName(file);
    if (::rename(file.c_str(), aside.c_str()) == 0) {
        KURS_TRACE(Registry, "moved %s aside as %s: %s", file.c_str(), aside.c_str(),
                   fault.c_str());
        std::fprintf(stderr,
                     "kurs: the registry file %s cannot be parsed (%s); it was moved aside as %s "
                     "and the store starts empty\n",
                     file.c_str(), fault.c_str(), aside.c_str());
    } else {
        KURS_TRACE(Registry, "cannot move %s aside: %s", file.c_str(), std::strerror(errno));
        std::fprintf(stderr,
                     "kurs: the registry file %s cannot be parsed (%s) nor moved aside (%s); "
                     "the store starts empty\n",
                     file.c_str(), fault.c_str(), std::strerror(errno));
    }
}

// Reads a root's file into `tree`: 0 when it was read and parsed (or moved
// aside, or is missing), else the errno of a file that exists and cannot be
// read, which is left alone.  With `keepReadOnly`, a read-only file is
// neither parsed nor moved aside and EROFS is returned.
int LoadFile(const std::string& file, const char* rootName, Key& tree, bool keepReadOnly) {
    std::string text;
    const int err = files::ReadFile(file, text);
    if (err == ENOENT || err == ENOTDIR) {  // no file, or not even its folder
        KURS_TRACE(Registry, "no file %s", file.c_str());
        return 0;
    }
    if (err != 0) {
        KURS_TRACE(Registry, "cannot read %s: %s", file.c_str(), files::ReadErrorText(err).c_str());
        return err;
    }
    if (keepReadOnly && files::ReadOnlyFile(file)) {
        KURS_TRACE(Registry, "refused %s: read-only, never replaced", file.c_str());
        return EROFS;
    }
    KURS_TRACE(Registry, "read %s (%zu bytes)", file.c_str(), text.size());
    ParseOrMoveAside(file, text, rootName, tree);
    return 0;
}

// Records what stands in the way of the root's file and says it on stderr,
// once for as long as the same thing stands in the way.
void NoteProblem(Root& r, RegistryFileProblem::Kind kind, const std::string& file,
                 const std::string& reason) {
    r.problem = RegistryFileProblem{kind, file, reason};
    std::string text;
    switch (kind) {
        case RegistryFileProblem::Unreadable:
            text = "the settings file " + file + " cannot be read (" + reason +
                   "); the program runs with default settings and cannot save them";
            break;
        case RegistryFileProblem::ReadOnly:
            text = "the settings file " + file + " is read-only; settings were not saved";
            break;
        case RegistryFileProblem::NotSaved:
            text = "the settings file " + file + " could not be saved (" + reason +
                   "); settings were not saved";
            break;
        case RegistryFileProblem::None:
            return;
    }
    if (text == r.told)
        return;
    r.told = text;
    std::fprintf(stderr, "kurs: %s\n", text.c_str());
}

void ClearProblem(Root& r) {
    r.problem = RegistryFileProblem{};
    r.told.clear();
}

// Brings an idle root (no open handles) up to date with its file.
void Refresh(Root& r) {
    if (r.handles > 0)
        return;
    const std::string dir = RegistryFolder();
    const std::string file = dir + "/" + r.name + ".reg";
    if (file == r.file && StampOf(file) == r.stamp)
        return;
    // Changes that could not be saved belong to the file they were made
    // for, not to another one the environment names now.
    if (file != r.file)
        r.journal.clear();
    auto tree = std::make_shared<Key>();
    {
        struct stat st;
        std::unique_ptr<FileLock> lock;
        if (::stat(dir.c_str(), &st) == 0)
            lock = std::make_unique<FileLock>(file + ".lock");
        if (const int err = LoadFile(file, r.name, *tree, false); err != 0)
            NoteProblem(r, RegistryFileProblem::Unreadable, file, files::ReadErrorText(err));
        else if (r.problem.kind == RegistryFileProblem::Unreadable)
            ClearProblem(r);
        r.stamp = StampOf(file);
    }
    for (const auto& c : r.journal)
        regfile::Apply(*tree, c);
    r.tree = tree;
    r.file = file;
}

// Writes our changes into the root's file: lock, read again, apply,
// replace.  A file that cannot be read, or that is read-only, is never
// replaced.  Returns what stood in the way, with *why in the system's words.
RegistryFileProblem::Kind TrySave(Root& r, const std::string& dir, const std::string& file,
                                  std::string& why) {
    if (!files::MakeDirs(dir)) {
        why = std::string("cannot create the folder: ") + std::strerror(errno);
        return RegistryFileProblem::NotSaved;
    }
    FileLock lock(file + ".lock");
    if (!lock.held()) {
        why = std::string("cannot lock: ") + std::strerror(errno);
        return RegistryFileProblem::NotSaved;
    }
    auto merged = std::make_shared<Key>();
    if (const int err = LoadFile(file, r.name, *merged, true); err == EROFS) {
        return RegistryFileProblem::ReadOnly;
    } else if (err != 0) {
        why = files::ReadErrorText(err);
        return RegistryFileProblem::Unreadable;
    }
    for (const auto& c : r.journal)
        regfile::Apply(*merged, c);
    RemoveStaleTemporaries(dir, std::string(r.name) + ".reg");
    const std::string text = regfile::Serialize(*merged, r.name);
    if (!files::ReplaceFile(file, text, files::FileMode::Private, &why))
        return RegistryFileProblem::NotSaved;
    KURS_TRACE(Registry, "wrote %s (%zu bytes, %zu changes)", file.c_str(), text.size(),
               r.journal.size());
    r.journal.clear();
    r.file = file;
    if (r.handles == 0) {
        r.tree = merged;
        r.stamp = StampOf(file);
    } else {
        // Our tree lacks what others wrote; read the file again once the
        // root is idle.
        r.stamp = FileStamp();
    }
    return RegistryFileProblem::None;
}

// Saves the root's changes; when that cannot be done they stay in memory and
// the reason is told once.
LONG Save(Root& r) {
    if (r.journal.empty())
        return ERROR_SUCCESS;
    const std::string dir = RegistryFolder();
    const std::string file = dir + "/" + r.name + ".reg";
    std::string why;
    const auto kind = TrySave(r, dir, file, why);
    if (kind == RegistryFileProblem::None) {
        ClearProblem(r);
        return ERROR_SUCCESS;
    }
    KURS_TRACE(Registry, "not saved %s: %s", file.c_str(),
               kind == RegistryFileProblem::ReadOnly ? "read-only" : why.c_str());
    NoteProblem(r, kind, file, why);
    return ERROR_CANTWRITE;
}

int PredefinedIndex(HKEY h) {
    const auto v = reinterpret_cast<UINT_PTR>(h);
    if (v < 0x80000000u || v > 0x80000006u)
        return -1;
    const int i = static_cast<int>(v - 0x80000000u);
    return kRootNames[i] ? i : -1;
}

bool IsPredefinedValue(HKEY h) {
    const auto v = reinterpret_cast<UINT_PTR>(h);
    return v >= 0x80000000u && v <= 0x80000006u;
}

LONG Resolve(HKEY h, Target& t) {
    const int pre = PredefinedIndex(h);
    if (pre >= 0) {
        Root& r = gRoots[pre];
        Refresh(r);
        t.root = pre;
        t.key = r.tree;
        t.path.clear();
        t.access = KEY_ALL_ACCESS;
        return ERROR_SUCCESS;
    }
    auto it = gHandles.find(reinterpret_cast<UINT_PTR>(h));
    if (it == gHandles.end())
        return ERROR_INVALID_HANDLE;
    if (it->second.key->deleted)
        return ERROR_KEY_DELETED;
    t.root = it->second.root;
    t.key = it->second.key;
    t.path = it->second.path;
    t.access = it->second.access;
    return ERROR_SUCCESS;
}

}  // namespace

namespace detail {

LONG WithKey(HKEY h, REGSAM need, const std::function<LONG(Target&)>& body) {
    std::lock_guard<std::mutex> guard(gMutex);
    Target t;
    if (const LONG e = Resolve(h, t); e != ERROR_SUCCESS)
        return e;
    if ((t.access & need) != need)
        return ERROR_ACCESS_DENIED;
    return body(t);
}

FILETIME ToFileTime(std::int64_t unixSeconds) {
    const std::uint64_t t =
        (static_cast<std::uint64_t>(unixSeconds) + 11644473600ULL) * 10000000ULL;
    return FILETIME{static_cast<DWORD>(t & 0xFFFFFFFFu), static_cast<DWORD>(t >> 32)};
}

// The full name of the key behind a handle, for traces.
std::string KeyText(HKEY h) {
    std::lock_guard<std::mutex> guard(gMutex);
    if (const int pre = PredefinedIndex(h); pre >= 0)
        return kRootNames[pre];
    const auto it = gHandles.find(reinterpret_cast<UINT_PTR>(h));
    if (it == gHandles.end()) {
        char text[32];
        std::snprintf(text, sizeof text, "(handle %#llx)",
                      static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(h)));
        return text;
    }
    std::string text = kRootNames[it->second.root];
    for (const auto& part : it->second.path)
        text += "\\" + part;
    return text;
}

const char* ResultText(LONG result) {
    switch (result) {
        case ERROR_SUCCESS:
            return "ERROR_SUCCESS";
        case ERROR_FILE_NOT_FOUND:
            return "ERROR_FILE_NOT_FOUND";
        case ERROR_ACCESS_DENIED:
            return "ERROR_ACCESS_DENIED";
        case ERROR_INVALID_HANDLE:
            return "ERROR_INVALID_HANDLE";
        case ERROR_INVALID_PARAMETER:
            return "ERROR_INVALID_PARAMETER";
        case ERROR_BAD_PATHNAME:
            return "ERROR_BAD_PATHNAME";
        case ERROR_MORE_DATA:
            return "ERROR_MORE_DATA";
        case ERROR_NO_MORE_ITEMS:
            return "ERROR_NO_MORE_ITEMS";
        case ERROR_CANTWRITE:
            return "ERROR_CANTWRITE";
        case ERROR_KEY_DELETED:
            return "ERROR_KEY_DELETED";
        default:
            return "error";
    }
}

}  // namespace detail

namespace {

HKEY NewHandle(int root, std::shared_ptr<Key> key, Path path, REGSAM access) {
    const UINT_PTR id = gNextHandle;
    gNextHandle += 4;
    gHandles[id] = Handle{root, std::move(key), std::move(path), access};
    ++gRoots[root].handles;
    return reinterpret_cast<HKEY>(id);
}

// Records a change; written at once when no handle of the root is open.
LONG Record(int root, Change change) {
    Root& r = gRoots[root];
    r.journal.push_back(std::move(change));
    return r.handles == 0 ? Save(r) : ERROR_SUCCESS;
}

bool ValidValueName(const char* name) {
    const std::size_t n = std::strlen(name);
    return n <= kMaxValueNameLength && std::strpbrk(name, "\r\n") == nullptr;
}

struct RootNamesInit {
    RootNamesInit() {
        for (int i = 0; i < 7; ++i)
            gRoots[i].name = kRootNames[i];
    }
};
const RootNamesInit gRootNamesInit;

LONG OpenOrCreate(HKEY hKey, LPCSTR lpSubKey, REGSAM samDesired, bool create, PHKEY phkResult,
                  LPDWORD lpdwDisposition) {
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    return WithKey(hKey, 0, [&](Target& t) -> LONG {
        Path sub;
        if (!regfile::SplitPath(lpSubKey ? lpSubKey : "", sub))
            return ERROR_BAD_PATHNAME;

        // Find how far the path exists.
        std::shared_ptr<Key> k = t.key;
        Path path = t.path;
        std::size_t i = 0;
        for (; i < sub.size(); ++i) {
            auto it = k->subkeys.find(regfile::FoldName(sub[i]));
            if (it == k->subkeys.end())
                break;
            k = it->second;
            path.push_back(k->name);
        }
        const bool exists = i == sub.size();
        if (!exists) {
            if (!create)
                return ERROR_FILE_NOT_FOUND;
            if (!(t.access & KEY_CREATE_SUB_KEY))
                return ERROR_ACCESS_DENIED;
            for (; i < sub.size(); ++i) {
                k = k->AddSubkey(sub[i]);
                k->lastWrite = Now();
                path.push_back(k->name);
            }
            gRoots[t.root].journal.push_back(Change{Change::CreateKey, path, {}, 0, {}});
        }
        if (lpdwDisposition)
            *lpdwDisposition = exists ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
        *phkResult = NewHandle(t.root, k, std::move(path), samDesired);
        return ERROR_SUCCESS;
    });
}

// The key's name when the registry channel traces, else nothing.
std::string TracedKey(HKEY h) {
    return trace::On(trace::Channel::Registry) ? KeyText(h) : std::string();
}

// Traces an open or create: the key asked for and the key opened.
LONG TracedOpen(const char* entry, HKEY hKey, LPCSTR lpSubKey, LONG result, PHKEY phkResult) {
    KURS_TRACE(Registry, "%s %s + \"%s\" -> %s (%ld)%s%s", entry, KeyText(hKey).c_str(),
               lpSubKey ? lpSubKey : "", ResultText(result), static_cast<long>(result),
               result == ERROR_SUCCESS ? ": " : "",
               result == ERROR_SUCCESS ? KeyText(*phkResult).c_str() : "");
    return result;
}

}  // namespace

std::string RegistryFolder() {
    return files::ConfigHome() + "/kurs/registry";
}

RegistryFileProblem RegistryProblem(HKEY hKey) {
    const int pre = PredefinedIndex(hKey);
    if (pre < 0)
        return {};
    std::lock_guard<std::mutex> guard(gMutex);
    const Root& r = gRoots[pre];
    // Only what concerns the file the environment names now.
    if (r.problem.file != RegistryFolder() + "/" + r.name + ".reg")
        return {};
    return r.problem;
}

LONG RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM samDesired,
                     const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition) {
    return TracedOpen("RegCreateKeyEx", hKey, lpSubKey,
                      OpenOrCreate(hKey, lpSubKey, samDesired, true, phkResult, lpdwDisposition),
                      phkResult);
}

LONG RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    return TracedOpen("RegOpenKeyEx", hKey, lpSubKey,
                      OpenOrCreate(hKey, lpSubKey, samDesired, false, phkResult, nullptr),
                      phkResult);
}

LONG RegCloseKey(HKEY hKey) {
    const std::string key = TracedKey(hKey);
    const LONG result = [&]() -> LONG {
        std::lock_guard<std::mutex> guard(gMutex);
        if (IsPredefinedValue(hKey))
            return ERROR_SUCCESS;
        auto it = gHandles.find(reinterpret_cast<UINT_PTR>(hKey));
        if (it == gHandles.end())
            return ERROR_INVALID_HANDLE;
        Root& r = gRoots[it->second.root];
        gHandles.erase(it);
        if (--r.handles == 0)
            return Save(r);
        return ERROR_SUCCESS;
    }();
    KURS_TRACE(Registry, "RegCloseKey %s -> %s (%ld)", key.c_str(), ResultText(result),
               static_cast<long>(result));
    return result;
}

LONG RegFlushKey(HKEY hKey) {
    const LONG result = [&]() -> LONG {
        return WithKey(hKey, 0, [&](Target& t) -> LONG { return Save(gRoots[t.root]); });
    }();
    KURS_TRACE(Registry, "RegFlushKey %s -> %s (%ld)", KeyText(hKey).c_str(), ResultText(result),
               static_cast<long>(result));
    return result;
}

LONG RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
    const LONG result = [&]() -> LONG {
        const char* name = lpValueName ? lpValueName : "";
        if (!ValidValueName(name) || (!lpData && cbData) || cbData > kMaxValueSize)
            return ERROR_INVALID_PARAMETER;
        return WithKey(hKey, KEY_SET_VALUE, [&](Target& t) -> LONG {
            std::string data(reinterpret_cast<const char*>(lpData), lpData ? cbData : 0);
            t.key->SetValue(name, dwType, data);
            t.key->lastWrite = Now();
            return Record(t.root, Change{Change::SetValue, t.path, name, dwType, std::move(data)});
        });
    }();
    KURS_TRACE(Registry, "RegSetValueEx %s \"%s\" type %lu, %lu bytes -> %s (%ld)",
               KeyText(hKey).c_str(), lpValueName ? lpValueName : "",
               static_cast<unsigned long>(dwType), static_cast<unsigned long>(cbData),
               ResultText(result), static_cast<long>(result));
    return result;
}

LONG RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    const LONG result = [&]() -> LONG {
        const char* name = lpValueName ? lpValueName : "";
        return WithKey(hKey, KEY_SET_VALUE, [&](Target& t) -> LONG {
            if (!t.key->RemoveValue(name))
                return ERROR_FILE_NOT_FOUND;
            t.key->lastWrite = Now();
            return Record(t.root, Change{Change::DeleteValue, t.path, name, 0, {}});
        });
    }();
    KURS_TRACE(Registry, "RegDeleteValue %s \"%s\" -> %s (%ld)", KeyText(hKey).c_str(),
               lpValueName ? lpValueName : "", ResultText(result), static_cast<long>(result));
    return result;
}

LONG RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    const LONG result = [&]() -> LONG {
        if (!lpSubKey)
            return ERROR_INVALID_PARAMETER;
        return WithKey(hKey, 0, [&](Target& t) -> LONG {
            Path sub;
            if (!regfile::SplitPath(lpSubKey, sub))
                return ERROR_BAD_PATHNAME;
            Path full = t.path;
            full.insert(full.end(), sub.begin(), sub.end());
            if (full.empty())
                return ERROR_ACCESS_DENIED;  // a root key cannot go

            Key* parent = gRoots[t.root].tree.get();
            for (std::size_t i = 0; i + 1 < full.size(); ++i) {
                parent = parent->Subkey(full[i]);
                if (!parent)
                    return ERROR_FILE_NOT_FOUND;
            }
            auto it = parent->subkeys.find(regfile::FoldName(full.back()));
            if (it == parent->subkeys.end())
                return ERROR_FILE_NOT_FOUND;
            if (!it->second->subkeys.empty())
                return ERROR_ACCESS_DENIED;
            it->second->deleted = true;
            parent->subkeys.erase(it);
            parent->lastWrite = Now();
            return Record(t.root, Change{Change::DeleteKey, std::move(full), {}, 0, {}});
        });
    }();
    KURS_TRACE(Registry, "RegDeleteKey %s + \"%s\" -> %s (%ld)", KeyText(hKey).c_str(),
               lpSubKey ? lpSubKey : "", ResultText(result), static_cast<long>(result));
    return result;
}

}  // namespace win
