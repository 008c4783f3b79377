#include "settings/AppUtils.h"

#include "gui/Forms.h"
#include "runtime/FileNames.h"
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

void StoreWriteBool(TObject* Store, const String& Section, const String& Ident, bool Value) {
    if (auto* reg = dynamic_cast<TRegIniFile*>(Store))
        reg->WriteBool(Section, Ident, Value);
    else if (auto* ini = dynamic_cast<TIniFile*>(Store))
        ini->WriteBool(Section, Ident, Value);
}

void StoreWriteRawString(TObject* Store, const String& Section, const String& Ident,
                         const String& Value) {
    if (auto* reg = dynamic_cast<TRegIniFile*>(Store))
        reg->WriteString(Section, Ident, Value);
    else if (auto* ini = dynamic_cast<TIniFile*>(Store))
        ini->WriteString(Section, Ident, Value);
}

void StoreEraseSection(TObject* Store, const String& Section) {
    if (auto* reg = dynamic_cast<TRegIniFile*>(Store))
        reg->EraseSection(Section);
    else if (auto* ini = dynamic_cast<TIniFile*>(Store))
        ini->EraseSection(Section);
}

String ApplicationName() {
    const String exe = Application ? Application->ExeName() : String();
    return ChangeFileExt(ExtractFileName(exe), "");
}

String DefaultRegistryKey() {
    return "Software\\" + ApplicationName();
}

String DefaultIniFileName() {
    const String exe = Application ? Application->ExeName() : String();
    return ChangeFileExt(ExtractFileName(exe), ".INI");
}

String GetDefaultSection(TComponent* Component) {
    if (!Component)
        return String();
    if (auto* form = dynamic_cast<TCustomForm*>(Component))
        return form->ClassName();
    if (auto* control = dynamic_cast<TControl*>(Component)) {
        if (TCustomForm* form = control->GetParentForm())
            return form->ClassName() + control->Name();
        if (TWinControl* parent = control->Parent())
            return parent->Name() + control->Name();
        return control->Name();
    }
    if (auto* form = dynamic_cast<TCustomForm*>(Component->Owner()))
        return Format("%s.%s", form->ClassName(), Component->Name());
    return Component->Name();
}

TComponent* FindFormByName(const String& Name) {
    if (!Screen)
        return nullptr;
    for (int i = 0; i < Screen->FormCount(); ++i) {
        if (AnsiSameText(Screen->Forms(i)->Name(), Name))
            return Screen->Forms(i);
    }
    for (int i = 0; i < Screen->DataModuleCount(); ++i) {
        if (AnsiSameText(Screen->DataModules(i)->Name(), Name))
            return Screen->DataModules(i);
    }
    return nullptr;
}
