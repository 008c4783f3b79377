#pragma once
// The in-memory tree of one root key, its REGEDIT4 text form, and the changes
// a process made to it (replayed onto the file's current content at a save).

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WinTypes.h"
#include "platform/files/ConfigFiles.h"

namespace win::regfile {

// Names compare with the cp1251 case folding of the configuration files.
using files::FoldByte;
using files::FoldName;
using files::SameName;

struct Value {
    std::string name;  // empty = the key's default value ("@" in the file)
    DWORD type = 0;
    std::string data;  // raw bytes
};

struct Key {
    std::string name;
    std::vector<Value> values;                            // in the order first set
    std::map<std::string, std::shared_ptr<Key>> subkeys;  // by folded name
    bool deleted = false;                                 // removed while a handle held it
    std::int64_t lastWrite = 0;                           // seconds since 1970

    Key* Subkey(std::string_view name) const;
    // The subkey of that name, created when missing (created = true then).
    std::shared_ptr<Key> AddSubkey(std::string_view name, bool* created = nullptr);
    const Value* FindValue(std::string_view name) const;
    // Sets a value, keeping its place when it exists.
    void SetValue(std::string_view name, DWORD type, std::string data);
    bool RemoveValue(std::string_view name);
};

using Path = std::vector<std::string>;

// One change made through the API, in the order made.
struct Change {
    enum Kind { CreateKey, SetValue, DeleteValue, DeleteKey };
    Kind kind = CreateKey;
    Path path;  // of the key, below the root
    std::string name;
    DWORD type = 0;
    std::string data;
};

// Applies one change to a tree (the file's content at a save).  Deleting a
// key drops its values; the key itself goes unless it has subkeys there,
// which another program put in and which are kept.
void Apply(Key& root, const Change& change);

// Parses REGEDIT4 text whose keys all lie under rootName (a UTF-8 byte-order
// mark before it is skipped).  On failure returns false and describes the
// first fault (with its line number) in *error.
bool Parse(std::string_view text, std::string_view rootName, Key& root, std::string* error);

// The REGEDIT4 text of a tree: the line REGEDIT4, a blank line, then each key
// (the root only when it has values) with its values and a blank line.
std::string Serialize(const Key& root, std::string_view rootName);

// Splits a key path at backslashes.  A single trailing backslash is allowed;
// a leading one, an empty name, a name over 255 characters or a name with a
// line break is refused.
bool SplitPath(std::string_view path, Path& out);

}  // namespace win::regfile
