#pragma once
// What the registry and profile stand-ins share about their files on disk:
// where the user's configuration lives, creating folders, reading a whole
// file, replacing one atomically, and the case folding of cp1251 names.

#include <functional>
#include <string>
#include <string_view>

namespace win::files {

// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config, else the
// home folder of the user's passwd entry + "/.config", else "/tmp".
std::string ConfigHome();

// The folder part of a path: "." when it has no slash, "/" for "/name".
std::string DirOf(const std::string& path);

// Creates `dir` and every missing folder above it (mode 0700).  True when
// `dir` is a folder afterwards; false with errno set otherwise.
bool MakeDirs(const std::string& dir);

// Reads a whole file.  Returns 0, or the errno of the failure (ENOENT when
// the file is missing, EISDIR for a folder), or kNotRegularFile for a FIFO,
// a socket or a device: those are never read, since a FIFO would keep the
// program waiting for a writer and a device could feed it without end.
// Nothing waits: the file is opened without blocking.
int ReadFile(const std::string& path, std::string& out);

// Not an errno: the failure of ReadFile for a file that is not a regular one.
inline constexpr int kNotRegularFile = 0x10000;

// The words for a failure of ReadFile: the system's for an errno.
std::string ReadErrorText(int error);

// Writes all of `text` to `fd`, going on after EINTR and short writes.
bool WriteAll(int fd, std::string_view text);

// Removes a UTF-8 byte-order mark from the start of a file's text; true when
// there was one.
bool StripByteOrderMark(std::string_view& text);

// Whether an existing file is kept from being changed: it has no write
// permission bit at all (the user's choice, which even root respects), or
// none that lets this process write it.  False for a missing file.
bool ReadOnlyFile(const std::string& path);

// The permission bits ReplaceFile gives a file that did not exist before; a
// file that is replaced keeps its bits (and, as far as this process may set
// them, its owner and group).
enum class FileMode {
    Private,  // 0600
    Shared,   // 0666 less the umask
};

// Replaces `path` with `text`: a temporary file PATH.tmp-PID in the same
// folder, fsync, rename over `path`, fsync of the folder; a reader sees the
// old or the new file, never a part.  On failure the temporary file is
// removed, `path` is left as it was and *why (when given) says what failed.
// The caller serialises writers (the temporary name is per process) and
// decides whether a read-only file may be replaced (ReadOnlyFile).
bool ReplaceFile(const std::string& path, std::string_view text, FileMode mode,
                 std::string* why = nullptr);

// The steps of ReplaceFile that can fail, in the order they run.  KeepMode
// runs only when the file exists.  The fsync of the folder after the rename
// is not among them: it is best effort.
enum class ReplaceStep { Create, KeepMode, Write, Sync, Close, Rename };

// A fault seam for tests: while a hook is set, ReplaceFile calls it after
// each step that succeeded, and an answer other than 0 is taken as the errno
// of a failure right after that step: ReplaceFile cleans up and reports it as
// it would a real one.  An empty hook turns the seam off.  Set it only while
// no other thread replaces files.
using ReplaceFaultHook = std::function<int(ReplaceStep step)>;
void SetReplaceFaultHook(ReplaceFaultHook hook);

// Case folding of cp1251 names: ASCII and Cyrillic capitals map to their
// small letters, every other byte to itself.
unsigned char FoldByte(unsigned char c);
std::string FoldName(std::string_view name);
bool SameName(std::string_view a, std::string_view b);

}  // namespace win::files
