#include "settings/Registry.h"

#include <cstring>
#include <vector>

using namespace win;

namespace {

[[noreturn]] void RaiseInvalidType(const String& Name) {
    throw ERegistryException(Format("Invalid data type for '%s'", Name));
}

[[noreturn]] void RaiseGetFailed(const String& Name) {
    throw ERegistryException(Format("Failed to get data for '%s'", Name));
}

TRegDataType DataTypeOf(DWORD Type) {
    switch (Type) {
        case REG_SZ:
            return rdString;
        case REG_EXPAND_SZ:
            return rdExpandString;
        case REG_DWORD:
            return rdInteger;
        case REG_BINARY:
            return rdBinary;
        default:
            return rdUnknown;
    }
}

// Deletes `Name` below `Parent` and everything below it, deepest first.
LONG EraseKeyTree(HKEY Parent, const String& Name, REGSAM Access) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(Parent, Name.c_str(), 0, Access, &key) == ERROR_SUCCESS) {
        DWORD count = 0, longest = 0;
        if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
            std::vector<char> buf(longest + 1);
            for (DWORD i = count; i-- > 0;) {
                DWORD len = longest + 1;
                if (RegEnumKeyExA(key, i, buf.data(), &len, nullptr, nullptr, nullptr, nullptr) ==
                    ERROR_SUCCESS)
                    EraseKeyTree(key, String(buf.data(), len), Access);
            }
        }
        RegCloseKey(key);
    }
    return RegDeleteKeyA(Parent, Name.c_str());
}

}  // namespace

String RegistrySettingsProblem(HKEY Root) {
    const RegistryFileProblem problem = RegistryProblem(Root);
    const String file = Utf8ToCp1251(problem.file);
    const String reason = Utf8ToCp1251(problem.reason);
    switch (problem.kind) {
        case RegistryFileProblem::Unreadable:
            return "Файл настроек нельзя прочитать: "_cp + file + " (" + reason +
                   ").\r\nПрограмма работает с начальными установками, настройки не сохранены."_cp;
        case RegistryFileProblem::ReadOnly:
            return "Файл настроек доступен только для чтения: "_cp + file +
                   ".\r\nНастройки не сохранены."_cp;
        case RegistryFileProblem::NotSaved:
            return "Настройки не сохранены: "_cp + file + " (" + reason + ").";
        case RegistryFileProblem::None:
            break;
    }
    return String();
}

// --- TRegistry -------------------------------------------------------------

TRegistry::TRegistry() : TRegistry(KEY_ALL_ACCESS) {}

TRegistry::TRegistry(REGSAM AAccess) : FRootKey(HKEY_CURRENT_USER), FAccess(AAccess) {}

TRegistry::~TRegistry() {
    CloseKey();
}

void TRegistry::SetRootKey(HKEY Value) {
    if (Value == FRootKey)
        return;
    CloseKey();
    FRootKey = Value;
}

HKEY TRegistry::BaseKey(const String& Key, String& Rest) const {
    if (!Key.empty() && Key[0] == '\\') {
        Rest = Key.substr(1);
        return FRootKey;
    }
    Rest = Key;
    return FCurrentKey ? FCurrentKey : FRootKey;
}

HKEY TRegistry::GetKey(const String& Key) {
    String rest;
    const HKEY base = BaseKey(Key, rest);
    HKEY result = nullptr;
    if (RegOpenKeyExA(base, rest.c_str(), 0, FAccess, &result) != ERROR_SUCCESS)
        return nullptr;
    return result;
}

void TRegistry::ChangeKey(HKEY Value, const String& Path) {
    CloseKey();
    FCurrentKey = Value;
    FCurrentPath = Path;
}

bool TRegistry::OpenKey(const String& Key, bool CanCreate) {
    String rest;
    const bool relative = Key.empty() || Key[0] != '\\';
    const HKEY base = BaseKey(Key, rest);
    HKEY result = nullptr;
    LONG status;
    if (CanCreate) {
        DWORD disposition = 0;
        status = RegCreateKeyExA(base, rest.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, FAccess,
                                 nullptr, &result, &disposition);
    } else {
        status = RegOpenKeyExA(base, rest.c_str(), 0, FAccess, &result);
    }
    if (status != ERROR_SUCCESS)
        return false;
    String path = rest;
    if (relative && FCurrentKey && !FCurrentPath.empty())
        path = rest.empty() ? FCurrentPath : FCurrentPath + "\\" + rest;
    ChangeKey(result, path);
    return true;
}

bool TRegistry::OpenKeyReadOnly(const String& Key) {
    const REGSAM saved = FAccess;
    FAccess = KEY_READ;
    const bool ok = OpenKey(Key, false);
    FAccess = saved;
    return ok;
}

void TRegistry::CloseKey() {
    if (FCurrentKey) {
        RegCloseKey(FCurrentKey);
        FCurrentKey = nullptr;
    }
    FCurrentPath.clear();
}

bool TRegistry::CreateKey(const String& Key) {
    String rest;
    const HKEY base = BaseKey(Key, rest);
    HKEY result = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(base, rest.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, &result, &disposition) != ERROR_SUCCESS)
        throw ERegistryException(Format("Failed to create key %s", Key));
    RegCloseKey(result);
    return true;
}

bool TRegistry::DeleteKey(const String& Key) {
    String rest;
    const HKEY base = BaseKey(Key, rest);
    // An empty path names the current (or root) key itself: deleting it
    // would wipe the whole store, so nothing is deleted.
    if (rest.empty())
        return false;
    return EraseKeyTree(base, rest, FAccess) == ERROR_SUCCESS;
}

bool TRegistry::KeyExists(const String& Key) {
    const REGSAM saved = FAccess;
    FAccess = KEY_QUERY_VALUE;  // any right will do for a look
    const HKEY key = GetKey(Key);
    FAccess = saved;
    if (!key)
        return false;
    RegCloseKey(key);
    return true;
}

bool TRegistry::HasSubKeys() {
    DWORD count = 0;
    return RegQueryInfoKeyA(FCurrentKey, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                            nullptr, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           count > 0;
}

void TRegistry::GetKeyNames(TStrings* Strings) {
    Strings->Clear();
    DWORD count = 0, longest = 0;
    if (RegQueryInfoKeyA(FCurrentKey, nullptr, nullptr, nullptr, &count, &longest, nullptr, nullptr,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<char> buf(longest + 1);
    for (DWORD i = 0; i < count; ++i) {
        DWORD len = longest + 1;
        if (RegEnumKeyExA(FCurrentKey, i, buf.data(), &len, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS)
            Strings->Add(String(buf.data(), len));
    }
}

bool TRegistry::DeleteValue(const String& Name) {
    return RegDeleteValueA(FCurrentKey, Name.c_str()) == ERROR_SUCCESS;
}

bool TRegistry::ValueExists(const String& Name) {
    TRegDataInfo info;
    return GetDataInfo(Name, info);
}

void TRegistry::GetValueNames(TStrings* Strings) {
    Strings->Clear();
    DWORD count = 0, longest = 0;
    if (RegQueryInfoKeyA(FCurrentKey, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                         &longest, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<char> buf(longest + 1);
    for (DWORD i = 0; i < count; ++i) {
        DWORD len = longest + 1;
        if (RegEnumValueA(FCurrentKey, i, buf.data(), &len, nullptr, nullptr, nullptr, nullptr) ==
            ERROR_SUCCESS)
            Strings->Add(String(buf.data(), len));
    }
}

bool TRegistry::GetDataInfo(const String& ValueName, TRegDataInfo& Value) {
    DWORD type = 0, size = 0;
    Value = TRegDataInfo();
    if (RegQueryValueExA(FCurrentKey, ValueName.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
        return false;
    Value.RegData = DataTypeOf(type);
    Value.DataSize = static_cast<int>(size);
    return true;
}

int TRegistry::GetDataSize(const String& ValueName) {
    TRegDataInfo info;
    return GetDataInfo(ValueName, info) ? info.DataSize : -1;
}

TRegDataType TRegistry::GetDataType(const String& ValueName) {
    TRegDataInfo info;
    GetDataInfo(ValueName, info);
    return info.RegData;
}

bool TRegistry::ReadStringValue(const String& Name, String& Value) {
    DWORD type = 0, size = 0;
    Value.clear();
    if (RegQueryValueExA(FCurrentKey, Name.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
        return false;
    if (size == 0)
        return true;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        RaiseInvalidType(Name);
    String data(size, '\0');
    if (RegQueryValueExA(FCurrentKey, Name.c_str(), nullptr, &type,
                         reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
        RaiseGetFailed(Name);
    data.resize(size);
    const auto nul = data.find('\0');
    if (nul != String::npos)
        data.resize(nul);
    Value = std::move(data);
    return true;
}

String TRegistry::ReadString(const String& Name) {
    String value;
    ReadStringValue(Name, value);
    return value;
}

void TRegistry::PutData(const String& Name, const void* Buffer, DWORD Size, DWORD Type) {
    if (RegSetValueExA(FCurrentKey, Name.c_str(), 0, Type, static_cast<const BYTE*>(Buffer),
                       Size) != ERROR_SUCCESS)
        throw ERegistryException(Format("Failed to set data for '%s'", Name));
}

void TRegistry::WriteString(const String& Name, const String& Value) {
    PutData(Name, Value.c_str(), static_cast<DWORD>(Value.size() + 1), REG_SZ);
}

void TRegistry::WriteExpandString(const String& Name, const String& Value) {
    PutData(Name, Value.c_str(), static_cast<DWORD>(Value.size() + 1), REG_EXPAND_SZ);
}

int TRegistry::ReadInteger(const String& Name) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(FCurrentKey, Name.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
        RaiseGetFailed(Name);
    if (type != REG_DWORD || size != 4)
        RaiseInvalidType(Name);
    std::uint32_t v = 0;
    if (RegQueryValueExA(FCurrentKey, Name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&v),
                         &size) != ERROR_SUCCESS)
        RaiseGetFailed(Name);
    return static_cast<int>(v);
}

void TRegistry::WriteInteger(const String& Name, int Value) {
    const auto v = static_cast<std::uint32_t>(Value);
    PutData(Name, &v, 4, REG_DWORD);
}

bool TRegistry::ReadBool(const String& Name) {
    return ReadInteger(Name) != 0;
}

void TRegistry::WriteBool(const String& Name, bool Value) {
    WriteInteger(Name, Value ? 1 : 0);
}

int TRegistry::ReadBinaryData(const String& Name, void* Buffer, int BufSize) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(FCurrentKey, Name.c_str(), nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
        RaiseGetFailed(Name);
    if (type != REG_BINARY)
        RaiseInvalidType(Name);
    if (BufSize < 0 || size > static_cast<DWORD>(BufSize))
        RaiseGetFailed(Name);
    if (RegQueryValueExA(FCurrentKey, Name.c_str(), nullptr, &type, static_cast<BYTE*>(Buffer),
                         &size) != ERROR_SUCCESS)
        RaiseGetFailed(Name);
    return static_cast<int>(size);
}

void TRegistry::WriteBinaryData(const String& Name, const void* Buffer, int BufSize) {
    PutData(Name, Buffer, static_cast<DWORD>(BufSize < 0 ? 0 : BufSize), REG_BINARY);
}

TRegistry::TTemporaryKey::TTemporaryKey(TRegistry& Owner, HKEY Key)
    : FOwner(Owner), FKey(Key), FSaved(Owner.FCurrentKey) {
    FOwner.FCurrentKey = FKey;
}

TRegistry::TTemporaryKey::~TTemporaryKey() {
    FOwner.FCurrentKey = FSaved;
    RegCloseKey(FKey);
}

// --- TRegIniFile -----------------------------------------------------------

TRegIniFile::TRegIniFile(const String& FileName) : TRegIniFile(FileName, KEY_ALL_ACCESS) {}

TRegIniFile::TRegIniFile(const String& FileName, REGSAM AAccess)
    : TRegistry(AAccess), FFileName(FileName) {
    OpenKey(FileName, true);
}

String TRegIniFile::ReadString(const String& Section, const String& Ident, const String& Default) {
    const HKEY key = GetKey(Section);
    if (!key)
        return Default;
    TTemporaryKey current(*this, key);
    String value;
    return ReadStringValue(Ident, value) ? value : Default;
}

void TRegIniFile::WriteString(const String& Section, const String& Ident, const String& Value) {
    CreateKey(Section);
    const HKEY key = GetKey(Section);
    // The section was just created; failing to open it means the value
    // cannot be stored, which the caller must hear of.
    if (!key)
        throw ERegistryException(Format("Failed to set data for '%s'", Ident));
    TTemporaryKey current(*this, key);
    TRegistry::WriteString(Ident, Value);
}

int TRegIniFile::ReadInteger(const String& Section, const String& Ident, int Default) {
    const HKEY key = GetKey(Section);
    if (!key)
        return Default;
    TTemporaryKey current(*this, key);
    String value;
    if (!ReadStringValue(Ident, value))
        return Default;
    return StrToIntDef(value, Default);
}

void TRegIniFile::WriteInteger(const String& Section, const String& Ident, int Value) {
    WriteString(Section, Ident, IntToStr(Value));
}

bool TRegIniFile::ReadBool(const String& Section, const String& Ident, bool Default) {
    return ReadInteger(Section, Ident, Default ? 1 : 0) != 0;
}

void TRegIniFile::WriteBool(const String& Section, const String& Ident, bool Value) {
    WriteString(Section, Ident, Value ? "1" : "0");
}

void TRegIniFile::EraseSection(const String& Section) {
    TRegistry::DeleteKey(Section);
}

void TRegIniFile::ReadSection(const String& Section, TStrings* Strings) {
    Strings->Clear();
    const HKEY key = GetKey(Section);
    if (!key)
        return;
    TTemporaryKey current(*this, key);
    GetValueNames(Strings);
}

void TRegIniFile::ReadSections(TStrings* Strings) {
    GetKeyNames(Strings);
}

bool TRegIniFile::SectionExists(const String& Section) {
    return KeyExists(Section);
}

bool TRegIniFile::ValueExists(const String& Section, const String& Ident) {
    const HKEY key = GetKey(Section);
    if (!key)
        return false;
    TTemporaryKey current(*this, key);
    return TRegistry::ValueExists(Ident);
}

void TRegIniFile::DeleteKey(const String& Section, const String& Ident) {
    const HKEY key = GetKey(Section);
    if (!key)
        return;
    TTemporaryKey current(*this, key);
    DeleteValue(Ident);
}
