#include "gui/Published.h"
#include "runtime/TypInfo.h"
#include "settings/Placemnt.h"

// ---- published properties ---------------------------------------------------------------------

void RegisterSettingsClasses() {
    static const bool done = [] {
        RegisterGuiClasses();
        RegisterPublishedClass<TWinMinMaxInfo, TObject>(
            "TWinMinMaxInfo", [](TPublishedProperties<TWinMinMaxInfo>& p) {
                p.Integer("MaxPosLeft", &TWinMinMaxInfo::MaxPosLeft,
                          &TWinMinMaxInfo::SetMaxPosLeft);
                p.Integer("MaxPosTop", &TWinMinMaxInfo::MaxPosTop, &TWinMinMaxInfo::SetMaxPosTop);
                p.Integer("MaxSizeHeight", &TWinMinMaxInfo::MaxSizeHeight,
                          &TWinMinMaxInfo::SetMaxSizeHeight);
                p.Integer("MaxSizeWidth", &TWinMinMaxInfo::MaxSizeWidth,
                          &TWinMinMaxInfo::SetMaxSizeWidth);
                p.Integer("MaxTrackHeight", &TWinMinMaxInfo::MaxTrackHeight,
                          &TWinMinMaxInfo::SetMaxTrackHeight);
                p.Integer("MaxTrackWidth", &TWinMinMaxInfo::MaxTrackWidth,
                          &TWinMinMaxInfo::SetMaxTrackWidth);
                p.Integer("MinTrackHeight", &TWinMinMaxInfo::MinTrackHeight,
                          &TWinMinMaxInfo::SetMinTrackHeight);
                p.Integer("MinTrackWidth", &TWinMinMaxInfo::MinTrackWidth,
                          &TWinMinMaxInfo::SetMinTrackWidth);
            });
        const TTypeInfo* minMaxType = ClassInfoOf<TWinMinMaxInfo>()->ClassType();
        const TTypeInfo* optionType =
            NewEnumTypeInfo("TPlacementOption", {"fpState", "fpPosition", "fpActiveControl"});
        const TTypeInfo* optionsType = NewSetTypeInfo("TPlacementOptions", optionType);
        const TTypeInfo* rootType = NewEnumTypeInfo(
            "TPlacementRegRoot", {"prCurrentUser", "prLocalMachine", "prCurrentConfig",
                                  "prClassesRoot", "prUsers", "prDynData"});
        RegisterPublishedClass<TFormPlacement, TComponent>(
            "TFormPlacement", [&](TPublishedProperties<TFormPlacement>& p) {
                p.Boolean("Active", &TFormPlacement::Active, &TFormPlacement::SetActive)
                    .SetDefault(1);
                p.String("IniFileName", &TFormPlacement::IniFileName,
                         &TFormPlacement::SetIniFileName);
                p.String("IniSection", &TFormPlacement::IniSection, &TFormPlacement::SetIniSection);
                p.Class("MinMaxInfo", minMaxType, &TFormPlacement::MinMaxInfo,
                        &TFormPlacement::SetMinMaxInfo);
                p.Set("Options", optionsType, &TFormPlacement::Options, &TFormPlacement::SetOptions)
                    .SetDefault(
                        static_cast<long long>(TPlacementOptions{fpState, fpPosition}.Bits()));
                p.Boolean("PreventResize", &TFormPlacement::PreventResize,
                          &TFormPlacement::SetPreventResize)
                    .SetDefault(0);
                p.Enumeration("RegistryRoot", rootType, &TFormPlacement::RegistryRoot,
                              &TFormPlacement::SetRegistryRoot)
                    .SetDefault(prCurrentUser);
                p.Boolean("UseRegistry", &TFormPlacement::UseRegistry,
                          &TFormPlacement::SetUseRegistry)
                    .SetDefault(0);
                p.Integer("Version", &TFormPlacement::Version, &TFormPlacement::SetVersion)
                    .SetDefault(0);
                p.Method("OnRestorePlacement", &TFormPlacement::OnRestorePlacement);
                p.Method("OnSavePlacement", &TFormPlacement::OnSavePlacement);
            });
        RegisterPublishedClass<TStoredValue, TObject>(
            "TStoredValue", [](TPublishedProperties<TStoredValue>& p) {
                p.String("KeyString", &TStoredValue::KeyString, &TStoredValue::SetKeyString);
                p.String("Name", &TStoredValue::Name, &TStoredValue::SetName);
                p.VariantProp("Value", &TStoredValue::Value, &TStoredValue::SetValue);
                p.Method("OnRestore", &TStoredValue::OnRestore,
                         NewMethodTypeInfo("TStoredValueEvent"));
                p.Method("OnSave", &TStoredValue::OnSave, NewMethodTypeInfo("TStoredValueEvent"));
            });
        const TTypeInfo* stringsType = NewClassTypeInfo("TStrings");
        const TTypeInfo* valuesType = NewClassTypeInfo("TStoredValues");
        RegisterPublishedClass<TFormStorage, TFormPlacement>(
            "TFormStorage", [&](TPublishedProperties<TFormStorage>& p) {
                p.Class("StoredProps", stringsType, &TFormStorage::StoredProps,
                        &TFormStorage::SetStoredProps);
                p.Class("StoredValues", valuesType, &TFormStorage::StoredValues,
                        &TFormStorage::SetStoredValues);
            });
        const TTypeInfo* hookEventType = NewMethodTypeInfo("THookMessageEvent");
        const TTypeInfo* winControlType = ClassInfoOf<TWinControl>()->ClassType();
        RegisterPublishedClass<TRxWindowHook, TComponent>(
            "TRxWindowHook", [&](TPublishedProperties<TRxWindowHook>& p) {
                p.Boolean("Active", &TRxWindowHook::Active, &TRxWindowHook::SetActive)
                    .SetDefault(1);
                p.Class("WinControl", winControlType, &TRxWindowHook::WinControl,
                        &TRxWindowHook::SetWinControl);
                p.Method("AfterMessage", &TRxWindowHook::AfterMessage, hookEventType);
                p.Method("BeforeMessage", &TRxWindowHook::BeforeMessage, hookEventType);
            });
        return true;
    }();
    (void)done;
}
