#include "settings/AppUtils.h"
#include "settings/Placemnt.h"
#include "settings/RXProps.h"

// ---- TFormStorage ---------------------------------------------------------------------------

TFormStorage::TFormStorage(TComponent* AOwner)
    : TFormPlacement(AOwner),
      FStoredProps(std::make_unique<TStringList>()),
      FStoredValues(std::make_unique<TStoredValues>(this)) {
    FStoredValues->SetStorage(this);
}

TFormStorage::~TFormStorage() {
    Destroying();
    FStoredProps.reset();
    FStoredValues.reset();
}

void TFormStorage::SetStoredProps(TStrings* Value) {
    FStoredProps->Assign(Value);
    for (int i = 0; i < FStoredProps->Count(); ++i) {
        if (auto* component = dynamic_cast<TComponent*>(FStoredProps->Objects(i)))
            component->FreeNotification(this);
    }
}

void TFormStorage::SetStoredValues(TStoredValues* Value) {
    FStoredValues->Assign(Value);
}

void TFormStorage::Loaded() {
    TFormPlacement::Loaded();
    SyncStoredList(Owner(), FStoredProps.get(), true);
}

void TFormStorage::WriteState() {
    SyncStoredList(Owner(), FStoredProps.get(), false);
}

void TFormStorage::Notification(TComponent* AComponent, TOperation Operation) {
    TFormPlacement::Notification(AComponent, Operation);
    if (ComponentState().Contains(csDestroying) || Operation != opRemove || !FStoredProps)
        return;
    for (int i = FStoredProps->Count() - 1; i >= 0; --i) {
        if (FStoredProps->Objects(i) == AComponent)
            FStoredProps->Delete(i);
    }
}

void TFormStorage::SavePlacementValues() {
    TFormPlacement::SavePlacementValues();
    SaveStoredProps();
    FStoredValues->WriteAll();
}

void TFormStorage::RestorePlacementValues() {
    TFormPlacement::RestorePlacementValues();
    // The placement values are in: a failure after this point must not
    // keep the next close from saving.
    MarkRestored();
    RestoreStoredProps();
    FStoredValues->ReadAll();
}

void TFormStorage::SaveStoredProps() {
    TPropsStorage storage;
    storage.Section = IniSection();
    storage.OnWriteString = [this](const String& Section, const String& Item, const String& Value) {
        WriteString(Section, Item, Value);
    };
    storage.OnEraseSection = [this](const String& Section) {
        StoreEraseSection(IniFileObject(), Section);
    };
    storage.SaveListedProperties(Owner(), FStoredProps.get());
}

void TFormStorage::RestoreStoredProps() {
    try {
        TPropsStorage storage;
        storage.Section = IniSection();
        storage.OnReadString = [this](const String& Section, const String& Item,
                                      const String& Default) {
            return ReadString(Section, Item, Default);
        };
        storage.RestoreListedProperties(Owner(), FStoredProps.get());
    } catch (...) {
        // Restoring never reports.
    }
}
