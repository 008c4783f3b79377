#pragma once
// TRegistry: one open registry key at a time (the current key) below a root
// key, with typed value access; TRegIniFile: the registry as an INI-style
// store, where the store is the key opened at construction, a section is a
// subkey of it and an ident is a value name.  Every value TRegIniFile writes
// is text (REG_SZ).

#include "platform/registry/Registry.h"
#include "runtime/Classes.h"
#include "runtime/Exceptions.h"
#include "runtime/String.h"
#include "runtime/StringList.h"

class ERegistryException : public Exception {
  public:
    using Exception::Exception;
    String ClassName() const override { return "ERegistryException"; }
};

enum TRegDataType { rdUnknown, rdString, rdExpandString, rdInteger, rdBinary };

struct TRegDataInfo {
    TRegDataType RegData = rdUnknown;
    int DataSize = 0;
};

class TRegistry : public TObject {
  public:
    TRegistry();  // HKEY_CURRENT_USER, KEY_ALL_ACCESS
    explicit TRegistry(win::REGSAM AAccess);
    ~TRegistry() override;
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;
    String ClassName() const override { return "TRegistry"; }

    win::HKEY RootKey() const { return FRootKey; }
    // Switching to another root closes the current key.
    void SetRootKey(win::HKEY Value);
    // The access later openings ask for.
    win::REGSAM Access() const { return FAccess; }
    void SetAccess(win::REGSAM Value) { FAccess = Value; }
    win::HKEY CurrentKey() const { return FCurrentKey; }
    const String& CurrentPath() const { return FCurrentPath; }

    // A key path that begins with "\" is taken from the root key, any other
    // relative to the current key (the root key when none is open).
    bool OpenKey(const String& Key, bool CanCreate);
    bool OpenKeyReadOnly(const String& Key);
    void CloseKey();
    // Creates a key with full access and closes it; ERegistryException
    // "Failed to create key %s" when that fails.
    bool CreateKey(const String& Key);
    // Deletes a key with everything below it, depth first.  An empty path
    // (the current key itself) is refused.
    bool DeleteKey(const String& Key);
    bool KeyExists(const String& Key);
    bool HasSubKeys();
    void GetKeyNames(TStrings* Strings);

    bool DeleteValue(const String& Name);
    bool ValueExists(const String& Name);
    void GetValueNames(TStrings* Strings);
    bool GetDataInfo(const String& ValueName, TRegDataInfo& Value);
    int GetDataSize(const String& ValueName);  // -1 when the value is missing
    TRegDataType GetDataType(const String& ValueName);

    // The text of a REG_SZ or REG_EXPAND_SZ value up to its first NUL; the
    // empty text for a missing value or one without data.  Another type
    // raises "Invalid data type for '%s'".
    String ReadString(const String& Name);
    void WriteString(const String& Name, const String& Value);  // REG_SZ
    void WriteExpandString(const String& Name, const String& Value);
    int ReadInteger(const String& Name);  // REG_DWORD
    void WriteInteger(const String& Name, int Value);
    bool ReadBool(const String& Name);
    void WriteBool(const String& Name, bool Value);
    int ReadBinaryData(const String& Name, void* Buffer, int BufSize);
    void WriteBinaryData(const String& Name, const void* Buffer, int BufSize);

  protected:
    // The key a path starts from, and the path without its leading "\".
    win::HKEY BaseKey(const String& Key, String& Rest) const;
    // Opens a key with the current access; nullptr when it does not open.
    win::HKEY GetKey(const String& Key);
    // Replaces the current key (closing the old one) and its path.
    void ChangeKey(win::HKEY Value, const String& Path);
    // Reads a text value; false when it is missing.
    bool ReadStringValue(const String& Name, String& Value);
    void PutData(const String& Name, const void* Buffer, win::DWORD Size, win::DWORD Type);

    // Makes `Key` the current key for the life of the object, then restores
    // the previous one and closes `Key`.
    class TTemporaryKey {
      public:
        TTemporaryKey(TRegistry& Owner, win::HKEY Key);
        ~TTemporaryKey();
        TTemporaryKey(const TTemporaryKey&) = delete;
        TTemporaryKey& operator=(const TTemporaryKey&) = delete;

      private:
        TRegistry& FOwner;
        win::HKEY FKey;
        win::HKEY FSaved;
    };

  private:
    win::HKEY FRootKey;
    win::HKEY FCurrentKey = nullptr;
    String FCurrentPath;
    win::REGSAM FAccess;
};

// Why the settings kept in the registry under Root could not be read or
// saved at the last attempt, in the words the user is shown; empty when
// nothing stood in the way.  (The platform says the same once on stderr.)
String RegistrySettingsProblem(win::HKEY Root = win::HKEY_CURRENT_USER);

class TRegIniFile : public TRegistry {
  public:
    // Opens (creating when missing) the key FileName below HKEY_CURRENT_USER
    // with full access.
    explicit TRegIniFile(const String& FileName);
    TRegIniFile(const String& FileName, win::REGSAM AAccess);
    String ClassName() const override { return "TRegIniFile"; }

    const String& FileName() const { return FFileName; }

    using TRegistry::ReadBool;
    using TRegistry::ReadInteger;
    using TRegistry::ReadString;
    using TRegistry::WriteBool;
    using TRegistry::WriteInteger;
    using TRegistry::WriteString;

    // The default when the section or the value is missing.
    String ReadString(const String& Section, const String& Ident, const String& Default);
    // Creates the section when missing; ERegistryException "Failed to create
    // key %s" or "Failed to set data for '%s'" when the value is not stored.
    void WriteString(const String& Section, const String& Ident, const String& Value);
    // A stored text that is no integer gives the default.
    int ReadInteger(const String& Section, const String& Ident, int Default);
    void WriteInteger(const String& Section, const String& Ident, int Value);
    bool ReadBool(const String& Section, const String& Ident, bool Default);
    void WriteBool(const String& Section, const String& Ident, bool Value);  // "0" / "1"
    // Deletes the section's subkey with everything below it; the outcome is
    // not reported.
    void EraseSection(const String& Section);
    void ReadSection(const String& Section, TStrings* Strings);  // value names
    void ReadSections(TStrings* Strings);                        // subkey names
    bool SectionExists(const String& Section);
    bool ValueExists(const String& Section, const String& Ident);
    using TRegistry::ValueExists;
    void DeleteKey(const String& Section, const String& Ident);  // one value
    using TRegistry::DeleteKey;

  private:
    String FFileName;
};
