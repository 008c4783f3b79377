#include "platform/registry/RegistryFile.h"

#include <cstdio>

namespace win::regfile {

namespace {

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    return s;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a quoted string at the start of s (escapes \\ and \"); advances s.
bool ReadQuoted(std::string_view& s, std::string& out) {
    if (s.empty() || s.front() != '"')
        return false;
    out.clear();
    std::size_t i = 1;
    for (; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"')
            break;
        if (c == '\\') {
            if (i + 1 >= s.size() || (s[i + 1] != '\\' && s[i + 1] != '"'))
                return false;
            out.push_back(s[++i]);
        } else {
            out.push_back(c);
        }
    }
    if (i >= s.size())
        return false;  // no closing quote
    s.remove_prefix(i + 1);
    return true;
}

bool ReadHexBytes(std::string_view s, std::string& out) {
    out.clear();
    s = TrimLeft(TrimRight(s));
    if (s.empty())
        return true;
    for (;;) {
        s = TrimLeft(s);
        std::size_t n = 0;
        int byte = 0;
        while (n < s.size() && n < 3 && HexDigit(s[n]) >= 0)
            byte = byte * 16 + HexDigit(s[n++]);
        if (n == 0 || n > 2)
            return false;
        out.push_back(static_cast<char>(byte));
        s = TrimLeft(s.substr(n));
        if (s.empty())
            return true;
        if (s.front() != ',')
            return false;
        s.remove_prefix(1);
    }
}

bool ParseData(std::string_view s, DWORD& type, std::string& data) {
    if (!s.empty() && s.front() == '"') {
        if (!ReadQuoted(s, data))
            return false;
        if (!TrimLeft(s).empty())
            return false;
        data.push_back('\0');
        type = 1;  // REG_SZ
        return true;
    }
    if (s.substr(0, 6) == "dword:") {
        s = TrimRight(s.substr(6));
        if (s.empty() || s.size() > 8)
            return false;
        DWORD v = 0;
        for (char c : s) {
            if (HexDigit(c) < 0)
                return false;
            v = v * 16 + static_cast<DWORD>(HexDigit(c));
        }
        data.assign(4, '\0');
        for (int i = 0; i < 4; ++i)
            data[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
        type = 4;  // REG_DWORD
        return true;
    }
    if (s.substr(0, 4) == "hex:") {
        type = 3;  // REG_BINARY
        return ReadHexBytes(s.substr(4), data);
    }
    if (s.substr(0, 4) == "hex(") {
        s.remove_prefix(4);
        std::size_t n = 0;
        DWORD t = 0;
        while (n < s.size() && n < 9 && HexDigit(s[n]) >= 0)
            t = t * 16 + HexDigit(s[n++]);
        if (n == 0 || n > 8 || s.substr(n, 2) != "):")
            return false;
        type = t;
        return ReadHexBytes(s.substr(n + 2), data);
    }
    return false;
}

void AppendQuoted(std::string& out, std::string_view text) {
    out.push_back('"');
    for (char c : text) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        out.push_back(c);
    }
    out.push_back('"');
}

// True when REG_SZ data can be written as "text": one terminating NUL, no
// other NUL and no line break.
bool PlainString(const std::string& data) {
    if (data.empty() || data.back() != '\0')
        return false;
    for (std::size_t i = 0; i + 1 < data.size(); ++i)
        if (data[i] == '\0' || data[i] == '\r' || data[i] == '\n')
            return false;
    return true;
}

void AppendValue(std::string& out, const Value& v) {
    if (v.name.empty())
        out.push_back('@');
    else
        AppendQuoted(out, v.name);
    out.push_back('=');
    char buf[32];
    if (v.type == 1 && PlainString(v.data)) {
        AppendQuoted(out, std::string_view(v.data).substr(0, v.data.size() - 1));
    } else if (v.type == 4 && v.data.size() == 4) {
        DWORD d = 0;
        for (int i = 3; i >= 0; --i)
            d = (d << 8) | static_cast<unsigned char>(v.data[i]);
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(d));
        out += buf;
    } else {
        std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<unsigned>(v.type));
        out += buf;
        for (std::size_t i = 0; i < v.data.size(); ++i) {
            std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x",
                          static_cast<unsigned char>(v.data[i]));
            out += buf;
        }
    }
    out.push_back('\n');
}

void AppendKey(std::string& out, const Key& key, const std::string& fullName, bool isRoot) {
    if (!isRoot || !key.values.empty()) {
        out.push_back('[');
        out += fullName;
        out += "]\n";
        for (const auto& v : key.values)
            AppendValue(out, v);
        out.push_back('\n');
    }
    for (const auto& [folded, sub] : key.subkeys)
        AppendKey(out, *sub, fullName + "\\" + sub->name, false);
}

}  // namespace

Key* Key::Subkey(std::string_view n) const {
    auto it = subkeys.find(FoldName(n));
    return it == subkeys.end() ? nullptr : it->second.get();
}

std::shared_ptr<Key> Key::AddSubkey(std::string_view n, bool* created) {
    auto& slot = subkeys[FoldName(n)];
    if (created)
        *created = !slot;
    if (!slot) {
        slot = std::make_shared<Key>();
        slot->name = std::string(n);
    }
    return slot;
}

const Value* Key::FindValue(std::string_view n) const {
    for (const auto& v : values)
        if (SameName(v.name, n))
            return &v;
    return nullptr;
}

void Key::SetValue(std::string_view n, DWORD type, std::string data) {
    for (auto& v : values) {
        if (SameName(v.name, n)) {
            v.type = type;
            v.data = std::move(data);
            return;
        }
    }
    values.push_back(Value{std::string(n), type, std::move(data)});
}

bool Key::RemoveValue(std::string_view n) {
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (SameName(it->name, n)) {
            values.erase(it);
            return true;
        }
    }
    return false;
}

void Apply(Key& root, const Change& change) {
    if (change.kind == Change::CreateKey || change.kind == Change::SetValue) {
        Key* k = &root;
        for (const auto& n : change.path)
            k = k->AddSubkey(n).get();
        if (change.kind == Change::SetValue)
            k->SetValue(change.name, change.type, change.data);
        return;
    }
    Key* parent = nullptr;
    Key* k = &root;
    for (const auto& n : change.path) {
        parent = k;
        k = k->Subkey(n);
        if (!k)
            return;
    }
    if (change.kind == Change::DeleteValue) {
        k->RemoveValue(change.name);
    } else if (parent) {
        k->values.clear();
        if (k->subkeys.empty())
            parent->subkeys.erase(FoldName(change.path.back()));
    }
}

bool SplitPath(std::string_view path, Path& out) {
    out.clear();
    if (path.empty())
        return true;
    if (path.front() == '\\')
        return false;
    if (path.back() == '\\')
        path.remove_suffix(1);
    for (;;) {
        const auto cut = path.find('\\');
        const auto part = path.substr(0, cut);
        if (part.empty() || part.size() > 255)
            return false;
        if (part.find_first_of("\r\n") != std::string_view::npos)
            return false;
        out.emplace_back(part);
        if (cut == std::string_view::npos)
            return true;
        path.remove_prefix(cut + 1);
    }
}

bool Parse(std::string_view text, std::string_view rootName, Key& root, std::string* error) {
    int lineNo = 0;
    auto fail = [&](const char* what) {
        if (error)
            *error = "line " + std::to_string(lineNo) + ": " + what;
        return false;
    };
    auto nextLine = [&](std::string_view& line) {
        if (text.empty())
            return false;
        const auto nl = text.find('\n');
        line = text.substr(0, nl);
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        ++lineNo;
        return true;
    };

    // An editor that saved the file as UTF-8 may have put a mark first.
    files::StripByteOrderMark(text);
    std::string_view line;
    if (!nextLine(line) || line != "REGEDIT4") {
        lineNo = 1;
        return fail("the file does not begin with REGEDIT4");
    }
    Key* current = nullptr;
    std::string name, data;
    while (nextLine(line)) {
        std::string logical(line);
        // A value's hex list may go on over lines that end with a backslash.
        while (!logical.empty() && logical.back() == '\\') {
            logical.pop_back();
            std::string_view more;
            if (!nextLine(more))
                return fail("the last line is continued");
            logical += TrimLeft(more);
        }
        std::string_view s = TrimRight(logical);
        if (TrimLeft(s).empty() || TrimLeft(s).front() == ';')
            continue;
        if (s.front() == '[') {
            if (s.back() != ']' || s.size() < 3)
                return fail("a key line without its ']'");
            std::string_view inner = s.substr(1, s.size() - 2);
            const auto cut = inner.find('\\');
            if (!SameName(inner.substr(0, cut), rootName))
                return fail("a key outside this root key");
            Path path;
            if (cut != std::string_view::npos) {
                const auto rest = inner.substr(cut + 1);
                if (rest.empty() || rest.back() == '\\' || !SplitPath(rest, path))
                    return fail("a key path with an empty or too long name");
            }
            current = &root;
            for (const auto& n : path)
                current = current->AddSubkey(n).get();
            continue;
        }
        if (!current)
            return fail("a value before the first key");
        if (s.front() == '@') {
            name.clear();
            s.remove_prefix(1);
        } else if (!ReadQuoted(s, name)) {
            return fail("a value name that is not a quoted text");
        }
        s = TrimLeft(s);
        if (s.empty() || s.front() != '=')
            return fail("a value without '='");
        s = TrimLeft(s.substr(1));
        DWORD type = 0;
        if (!ParseData(s, type, data))
            return fail("value data that cannot be read");
        current->SetValue(name, type, data);
    }
    return true;
}

std::string Serialize(const Key& root, std::string_view rootName) {
    std::string out = "REGEDIT4\n\n";
    AppendKey(out, root, std::string(rootName), true);
    return out;
}

}  // namespace win::regfile
