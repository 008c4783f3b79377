#include "settings/AppUtils.h"

#include "settings/IniFiles.h"
#include "settings/Registry.h"

String IniQuoted(const String& Value) {
    if (!Value.empty() && Value.front() == Value.back() &&
        (Value.front() == '"' || Value.front() == '\''))
        return "\"" + Value + "\"";
    return Value;
}

String StoreReadString(TObject* Store, const String& Section, const String& Ident,
                       const String& Default) {
    if (auto* reg = dynamic_cast<TRegIniFile*>(Store))
        return reg->ReadString(Section, Ident, Default);
    if (auto* ini = dynamic_cast<TIniFile*>(Store))
        return ini->ReadString(Section, Ident, Default);
    return Default;
}

void StoreWriteString(TObject* Store, const String& Section, const String& Ident,
                      const String& Value) {
    if (auto* reg = dynamic_cast<TRegIniFile*>(Store))
        reg->WriteString(Section, Ident, Value);
    else if (auto* ini = dynamic_cast<TIniFile*>(Store))
        ini->WriteString(Section, Ident, IniQuoted(Value));
}

int StoreReadInteger(TObject* Store, const String& Section, const String& Ident, int Default) {
    if (auto* reg = dynamic_cast<TRegIniFile*>(Store))
        return reg->ReadInteger(Section, Ident, Default);
    if (auto* ini = dynamic_cast<TIniFile*>(Store))
        return ini->ReadInteger(Section, Ident, Default);
    return Default;
}

void StoreWriteInteger(TObject* Store, const String& Section, const String& Ident, int Value) {
    if (auto* reg = dynamic_cast<TRegIniFile*>(Store))
        reg->WriteInteger(Section, Ident, Value);
    else if (auto* ini = dynamic_cast<TIniFile*>(Store))
        ini->WriteInteger(Section, Ident, Value);
}
