#include "app/StoredSettings.h"

#include "settings/RXProps.h"
#include "settings/Registry.h"

void RestoreStoredSettingsReadOnly(TComponent* Form, const String& Key) {
    TRegistry registry(win::KEY_READ);
    if (!registry.OpenKeyReadOnly(Key + "\\" + Form->ClassName()))
        return;
    TStringList list;
    for (const char* name : StoredSettingNames)
        list.Add(name);
    SyncStoredList(Form, &list, true);
    TPropsStorage storage;
    storage.OnReadString = [&registry](const String&, const String& item, const String& def) {
        try {
            return registry.ValueExists(item) ? registry.ReadString(item) : def;
        } catch (const Exception&) {
            return def;
        }
    };
    storage.RestoreListedProperties(Form, &list);
}
