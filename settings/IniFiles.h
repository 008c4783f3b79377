#pragma once
// TCustomIniFile: the INI-style store model (store -> section -> ident =
// text); TIniFile keeps it in an INI file through the profile functions,
// which write through on every call.  A bare file name lives in the profile
// functions' Windows directory.

#include "runtime/Classes.h"
#include "runtime/Exceptions.h"
#include "runtime/String.h"
#include "runtime/StringList.h"

class TCustomIniFile : public TObject {
  public:
    explicit TCustomIniFile(const String& FileName) : FFileName(FileName) {}
    String ClassName() const override { return "TCustomIniFile"; }

    const String& FileName() const { return FFileName; }

    virtual String ReadString(const String& Section, const String& Ident,
                              const String& Default) = 0;
    virtual void WriteString(const String& Section, const String& Ident, const String& Value) = 0;
    // Reads the text with an empty default; one longer than two characters
    // that begins "0x" or "0X" is hexadecimal; the default when the text is
    // no integer.
    virtual int ReadInteger(const String& Section, const String& Ident, int Default);
    virtual void WriteInteger(const String& Section, const String& Ident, int Value);
    virtual bool ReadBool(const String& Section, const String& Ident, bool Default);
    virtual void WriteBool(const String& Section, const String& Ident, bool Value);  // "0"/"1"
    virtual void EraseSection(const String& Section) = 0;
    virtual void DeleteKey(const String& Section, const String& Ident) = 0;
    virtual void ReadSection(const String& Section, TStrings* Strings) = 0;  // ident names
    virtual void ReadSections(TStrings* Strings) = 0;
    bool SectionExists(const String& Section);
    bool ValueExists(const String& Section, const String& Ident);

  private:
    String FFileName;
};

class TIniFile : public TCustomIniFile {
  public:
    using TCustomIniFile::TCustomIniFile;
    String ClassName() const override { return "TIniFile"; }

    // At most 2,047 characters come back; one enclosing pair of quotes is
    // stripped by the profile functions.
    String ReadString(const String& Section, const String& Ident, const String& Default) override;
    // Exception "Unable to write to %s" (the file name) when it fails, here
    // and in EraseSection and DeleteKey.
    void WriteString(const String& Section, const String& Ident, const String& Value) override;
    void EraseSection(const String& Section) override;
    void DeleteKey(const String& Section, const String& Ident) override;
    void ReadSection(const String& Section, TStrings* Strings) override;
    void ReadSections(TStrings* Strings) override;
};
