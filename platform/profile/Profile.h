#pragma once
// INI profile files: GetPrivateProfileString / WritePrivateProfileString with
// the Win32 names and rules.  A bare file name (no '/') lives in the
// "Windows directory", ${XDG_CONFIG_HOME:-$HOME/.config}/kurs/windows/; a
// path is used as given.  Each write reads the file, changes it and replaces
// it atomically (temporary file in the same folder, fsync, rename), under an
// exclusive lock on the folder, so concurrent writers lose nothing and a
// crash leaves the old or the new file.
//
// Section and key names compare without regard to case (ASCII and cp1251
// Cyrillic); texts are cp1251 bytes; lines may end in LF or CR LF, and a
// UTF-8 byte-order mark at the start is skipped (and kept on writing).  A
// file that cannot be read reads as empty and is never written; neither is
// a read-only one.  A file that is replaced keeps its permission bits.

#include <string>

#include "platform/WinTypes.h"

namespace win {

using LPCSTR = const char*;
using LPSTR = char*;

// Copies the value of `lpKeyName` in section `lpAppName` of the file into the
// buffer, with spaces around it removed and one enclosing pair of matching
// double quotes or apostrophes stripped; a missing file, section or key gives
// `lpDefault` (null = empty) without its trailing blanks.  A value that does
// not fit is cut to nSize - 1 characters.  Returns the number of characters
// copied, without the terminating NUL.
//
// With a null `lpAppName` the buffer receives every section name, with a null
// `lpKeyName` every key name of the section, each name followed by a NUL and
// the list by another NUL.  When that does not fit, the list is cut, ends in
// two NULs, and nSize - 2 is returned.
DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName);

// Sets `lpKeyName` = `lpString` in section `lpAppName`, adding the section and
// key when missing.  A null `lpString` deletes the key, a null `lpKeyName` the
// whole section.  Returns FALSE when the file cannot be written, or for names
// and texts that the file could not hold (line breaks, a key with '=' or
// beginning with '[' or ';', a section with ']').
BOOL WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                LPCSTR lpFileName);

// Copies the Windows directory (without a trailing '/') into the buffer and
// returns its length; when it does not fit, returns the size needed,
// including the NUL.
UINT GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize);

inline DWORD GetPrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                     LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
    return GetPrivateProfileStringA(lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize,
                                    lpFileName);
}
inline BOOL WritePrivateProfileString(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                      LPCSTR lpFileName) {
    return WritePrivateProfileStringA(lpAppName, lpKeyName, lpString, lpFileName);
}
inline UINT GetWindowsDirectory(LPSTR lpBuffer, UINT uSize) {
    return GetWindowsDirectoryA(lpBuffer, uSize);
}

// Our own addition: the path a profile file name resolves to (a null name is
// "win.ini").
std::string ProfileFilePath(LPCSTR lpFileName);

}  // namespace win
