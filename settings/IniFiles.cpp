#include "settings/IniFiles.h"

#include <vector>

#include "platform/profile/Profile.h"

namespace {

constexpr win::DWORD kValueBuffer = 2048;

[[noreturn]] void RaiseUnableToWrite(const String& FileName) {
    throw Exception(Format("Unable to write to %s", FileName));
}

// A NUL-separated name list from the profile functions, read with a buffer
// that grows until the whole list fits.
void ReadNameList(const char* Section, const String& FileName, TStrings* Strings) {
    Strings->Clear();
    std::vector<char> buf(16384);
    win::DWORD n = 0;
    for (;;) {
        n = win::GetPrivateProfileStringA(Section, nullptr, "", buf.data(),
                                          static_cast<win::DWORD>(buf.size()), FileName.c_str());
        if (n + 2 < buf.size() || buf.size() >= (1u << 26))
            break;
        buf.resize(buf.size() * 4);
    }
    for (win::DWORD i = 0; i < n;) {
        const String name(buf.data() + i);
        if (!name.empty())
            Strings->Add(name);
        i += static_cast<win::DWORD>(name.size()) + 1;
    }
}

}  // namespace

int TCustomIniFile::ReadInteger(const String& Section, const String& Ident, int Default) {
    String text = ReadString(Section, Ident, "");
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text = "$" + text.substr(2);
    return StrToIntDef(text, Default);
}

void TCustomIniFile::WriteInteger(const String& Section, const String& Ident, int Value) {
    WriteString(Section, Ident, IntToStr(Value));
}

bool TCustomIniFile::ReadBool(const String& Section, const String& Ident, bool Default) {
    return ReadInteger(Section, Ident, Default ? 1 : 0) != 0;
}

void TCustomIniFile::WriteBool(const String& Section, const String& Ident, bool Value) {
    WriteString(Section, Ident, Value ? "1" : "0");
}

bool TCustomIniFile::SectionExists(const String& Section) {
    TStringList names;
    ReadSection(Section, &names);
    return names.Count() > 0;
}

bool TCustomIniFile::ValueExists(const String& Section, const String& Ident) {
    TStringList names;
    ReadSection(Section, &names);
    return names.IndexOf(Ident) >= 0;
}

String TIniFile::ReadString(const String& Section, const String& Ident, const String& Default) {
    char buf[kValueBuffer];
    const win::DWORD n = win::GetPrivateProfileStringA(
        Section.c_str(), Ident.c_str(), Default.c_str(), buf, kValueBuffer, FileName().c_str());
    return String(buf, n);
}

void TIniFile::WriteString(const String& Section, const String& Ident, const String& Value) {
    if (!win::WritePrivateProfileStringA(Section.c_str(), Ident.c_str(), Value.c_str(),
                                         FileName().c_str()))
        RaiseUnableToWrite(FileName());
}

void TIniFile::EraseSection(const String& Section) {
    if (!win::WritePrivateProfileStringA(Section.c_str(), nullptr, nullptr, FileName().c_str()))
        RaiseUnableToWrite(FileName());
}

void TIniFile::DeleteKey(const String& Section, const String& Ident) {
    if (!win::WritePrivateProfileStringA(Section.c_str(), Ident.c_str(), nullptr,
                                         FileName().c_str()))
        RaiseUnableToWrite(FileName());
}

void TIniFile::ReadSection(const String& Section, TStrings* Strings) {
    ReadNameList(Section.c_str(), FileName(), Strings);
}

void TIniFile::ReadSections(TStrings* Strings) {
    ReadNameList(nullptr, FileName(), Strings);
}
