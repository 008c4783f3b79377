#pragma once
// Form placement: TFormPlacement, dropped on a form, saves the form's window
// placement (normal rectangle, minimised and maximised positions, show
// state) into the settings store when the form closes and puts it back when
// the form is shown; it can keep the form inside size limits
// (TWinMinMaxInfo) or stop it from being resized, through a window hook.
// TFormStorage adds published properties of the form's components and free
// named values (TStoredValues, settings/StoredValues.h) to the same save and
// restore.
//
// The store is the registry (UseRegistry) or an INI file; every value is
// text, in the section IniSection (by default the form's class name):
//   FormVersion, Flags, ShowCmd, PixelsPerInch, MinMaxPos(WxH), MinMaxPos,
//   NormPos(WxH), NormPos, Visible[, ActiveControl], then the listed
//   properties (Component_Property) and the stored values, in that order.

#include <functional>
#include <memory>

#include "gui/Forms.h"
#include "runtime/Classes.h"
#include "runtime/Collections.h"
#include "runtime/StringList.h"
#include "runtime/Variant.h"
#include "settings/RxHook.h"
#include "settings/StoredValues.h"

enum TPlacementOption { fpState, fpPosition, fpActiveControl };
using TPlacementOptions = TSet<TPlacementOption>;

enum TPlacementRegRoot {
    prCurrentUser,
    prLocalMachine,
    prCurrentConfig,
    prClassesRoot,
    prUsers,
    prDynData
};

class TFormPlacement;
class TFormStorage;

// Size and position limits of a form, each 0 for none, given to the form's
// window in WM_GETMINMAXINFO.  Index: 0 MaxPosLeft, 1 MaxPosTop,
// 2 MaxSizeHeight, 3 MaxSizeWidth, 4 MaxTrackHeight, 5 MaxTrackWidth,
// 6 MinTrackHeight, 7 MinTrackWidth.
class TWinMinMaxInfo : public TPersistent {
  public:
    explicit TWinMinMaxInfo(TFormPlacement* Owner = nullptr) : FOwner(Owner) {}
    String ClassName() const override { return "TWinMinMaxInfo"; }

    int GetMinMaxInfo(int Index) const;
    // A change tells the owning placement.
    void SetMinMaxInfo(int Index, int Value);

    int MaxPosLeft() const { return GetMinMaxInfo(0); }
    void SetMaxPosLeft(int Value) { SetMinMaxInfo(0, Value); }
    int MaxPosTop() const { return GetMinMaxInfo(1); }
    void SetMaxPosTop(int Value) { SetMinMaxInfo(1, Value); }
    int MaxSizeHeight() const { return GetMinMaxInfo(2); }
    void SetMaxSizeHeight(int Value) { SetMinMaxInfo(2, Value); }
    int MaxSizeWidth() const { return GetMinMaxInfo(3); }
    void SetMaxSizeWidth(int Value) { SetMinMaxInfo(3, Value); }
    int MaxTrackHeight() const { return GetMinMaxInfo(4); }
    void SetMaxTrackHeight(int Value) { SetMinMaxInfo(4, Value); }
    int MaxTrackWidth() const { return GetMinMaxInfo(5); }
    void SetMaxTrackWidth(int Value) { SetMinMaxInfo(5, Value); }
    int MinTrackHeight() const { return GetMinMaxInfo(6); }
    void SetMinTrackHeight(int Value) { SetMinMaxInfo(6, Value); }
    int MinTrackWidth() const { return GetMinMaxInfo(7); }
    void SetMinTrackWidth(int Value) { SetMinMaxInfo(7, Value); }

    bool HasLimits() const;
    // From another TWinMinMaxInfo: all eight limits, then the placement is told.
    void Assign(TPersistent* Source) override;

  private:
    void Changed();

    TFormPlacement* FOwner;
    int FValues[8] = {};
};

class TFormPlacement : public TComponent {
  public:
    explicit TFormPlacement(TComponent* AOwner);
    ~TFormPlacement() override;
    String ClassName() const override { return "TFormPlacement"; }

    bool Active() const { return FActive; }
    void SetActive(bool Value) { FActive = Value; }
    // The store locator; while empty (and not designing) the default key
    // path or INI file name, computed at each use.
    String IniFileName() const;
    void SetIniFileName(const String& Value) { FIniFileName = Value; }
    // The section; while empty (and not designing) GetDefaultSection(Owner()).
    String IniSection() const;
    void SetIniSection(const String& Value) { FIniSection = Value; }
    TWinMinMaxInfo* MinMaxInfo() const { return FMinMaxInfo.get(); }
    void SetMinMaxInfo(TWinMinMaxInfo* Value) { FMinMaxInfo->Assign(Value); }
    TPlacementOptions Options() const { return FOptions; }
    void SetOptions(TPlacementOptions Value) { FOptions = Value; }
    bool PreventResize() const { return FPreventResize; }
    void SetPreventResize(bool Value);
    TPlacementRegRoot RegistryRoot() const { return FRegistryRoot; }
    void SetRegistryRoot(TPlacementRegRoot Value) { FRegistryRoot = Value; }
    bool UseRegistry() const { return FUseRegistry; }
    void SetUseRegistry(bool Value) { FUseRegistry = Value; }
    int Version() const { return FVersion; }
    void SetVersion(int Value) { FVersion = Value; }

    TNotifyEvent OnSavePlacement;
    TNotifyEvent OnRestorePlacement;

    // The whole save (only after a restore, or while not Active) and the
    // whole restore; the form's events call them.
    void SaveSettings();
    void RestoreSettings();

    virtual void SavePlacementValues();
    virtual void RestorePlacementValues();
    // Through the open store, or through one opened for this call alone
    // (read-only for reads).
    virtual String ReadString(const String& Section, const String& Ident, const String& Default);
    virtual void WriteString(const String& Section, const String& Ident, const String& Value);
    // The same in IniSection().
    String ReadString(const String& Ident, const String& Default);
    void WriteString(const String& Ident, const String& Value);
    int ReadInteger(const String& Ident, int Default);
    void WriteInteger(const String& Ident, int Value);

    // Opens the store (a no-op while one is open) and frees it.
    void OpenStore(bool ReadOnly);
    void CloseStore();
    // The open store (a TRegIniFile or a TIniFile), or nullptr.
    TObject* IniFileObject() const { return FStore.get(); }

    // The placement values of one form, through the dispatchers.
    static void WriteWindowPlacement(TCustomForm* Form, TObject* Store, const String& Section);
    static void ReadWindowPlacement(TCustomForm* Form, TObject* Store, const String& Section,
                                    bool LoadState, bool LoadPosition);
    // "(%dx%d)" of the screen's size in pixels now.
    static String ScreenSizeSuffix();

    bool Saved() const { return FSaved; }
    bool Restored() const { return FRestored; }
    bool DefaultMaximize() const { return FDefMaximize; }
    TRxWindowHook* WinHook() const { return FWinHook; }

    void UpdateMaximizedPosition();
    void UpdateHookState();
    void Loaded() override;

  protected:
    // The owner when it is a form.
    TCustomForm* Form() const;
    bool Designing() const { return ComponentState().Contains(csDesigning); }
    void HookMessageHandler(TObject* Sender, TMessage& Msg, bool& Handled);
    void FormShowHandler(TObject* Sender);
    void FormCloseQueryHandler(TObject* Sender, bool& CanClose);
    void FormDestroyHandler(TObject* Sender);
    void MarkRestored() { FRestored = true; }

  private:
    friend class TWinMinMaxInfo;
    void LimitsChanged();
    void ApplyPreventResize();
    void SetEvents();
    void RestoreEvents();
    // Runs fn with the open store, or with one opened for fn alone.
    template <typename F>
    auto WithStore(bool ReadOnly, F&& fn);

    bool FActive = true;
    String FIniFileName;
    String FIniSection;
    std::unique_ptr<TWinMinMaxInfo> FMinMaxInfo;
    TPlacementOptions FOptions;
    bool FPreventResize = false;
    TPlacementRegRoot FRegistryRoot = prCurrentUser;
    bool FUseRegistry = false;
    int FVersion = 0;

    std::unique_ptr<TObject> FStore;
    bool FSaved = false;
    bool FRestored = false;
    bool FDestroying = false;
    bool FDefMaximize = false;
    bool FEventsHooked = false;
    TRxWindowHook* FWinHook;
    TNotifyEvent FSaveFormShow;
    TCloseQueryEvent FSaveFormCloseQuery;
    TNotifyEvent FSaveFormDestroy;
};

// ---- form storage -----------------------------------------------------------------------

class TFormStorage : public TFormPlacement {
  public:
    explicit TFormStorage(TComponent* AOwner);
    ~TFormStorage() override;
    String ClassName() const override { return "TFormStorage"; }

    // "Component.Property" lines; each line's object is the component it
    // names once attached.
    TStrings* StoredProps() const { return FStoredProps.get(); }
    // Copies the lines with their components and asks each component to
    // tell this storage when it goes.
    void SetStoredProps(TStrings* Value);
    TStoredValues* StoredValues() const { return FStoredValues.get(); }
    void SetStoredValues(TStoredValues* Value);
    Variant StoredValue(const String& Name) const { return FStoredValues->StoredValue(Name); }
    void SetStoredValue(const String& Name, const Variant& Value) {
        FStoredValues->SetStoredValue(Name, Value);
    }

    void SavePlacementValues() override;
    void RestorePlacementValues() override;
    virtual void SaveStoredProps();
    virtual void RestoreStoredProps();
    // Before the component's state is written into a layout: the entries
    // take the current names of their components.
    void WriteState();

    void Loaded() override;
    void Notification(TComponent* AComponent, TOperation Operation) override;

  private:
    std::unique_ptr<TStringList> FStoredProps;
    std::unique_ptr<TStoredValues> FStoredValues;
};

// Registers the published properties of this folder's classes.
void RegisterSettingsClasses();
