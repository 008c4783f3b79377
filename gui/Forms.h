#pragma once
// Forms, data modules, the application object and the screen.
//
// Layout loading: a form class lays itself out in its constructor (creates
// its components, sets their properties, wires the handlers).  The form is
// in the loading state while that runs, and so is every component it gets
// meanwhile.  AfterConstruction() then ends the loading (Loaded() for the
// form and each of its components, in that order) and runs OnCreate.
// Application->CreateForm() and NewForm() do both steps; a form shown
// without them finishes its loading at the first Show().
//
// Freeing: FreeForm(form) (or Application at the end of Run) runs OnDestroy
// while the whole form is alive, then deletes it with its components.

#include <type_traits>
#include <vector>

#include "gui/Controls.h"
#include "gui/Menus.h"

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TBorderIcon { biSystemMenu, biMinimize, biMaximize, biHelp };
using TBorderIcons = TSet<TBorderIcon>;
enum TPosition {
    poDesigned,
    poDefault,
    poDefaultPosOnly,
    poDefaultSizeOnly,
    poScreenCenter,
    poDesktopCenter,
    poMainFormCenter,
    poOwnerFormCenter
};
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum TCloseAction { caNone, caHide, caFree, caMinimize };

using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;

// Frees a released form (posted to the application's window).
constexpr win::UINT CM_RELEASE = CM_BASE + 33;

class TCustomForm : public TWinControl {
  public:
    explicit TCustomForm(TComponent* AOwner);
    ~TCustomForm() override;
    String ClassName() const override { return "TCustomForm"; }

    // Ends the layout loading and runs OnCreate (once; later calls do nothing).
    void AfterConstruction();
    // Runs OnDestroy once, marking the form as being destroyed.
    void BeforeDestruction();

    TFormBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TFormBorderStyle value);
    TBorderIcons BorderIcons() const { return FBorderIcons; }
    void SetBorderIcons(TBorderIcons value);
    TPosition Position() const { return FPosition; }
    void SetPosition(TPosition value) { FPosition = value; }
    // Applied to the window while it is shown; otherwise only recorded and
    // applied when the form is shown.
    TWindowState WindowState() const { return FWindowState; }
    void SetWindowState(TWindowState value);
    // Changes only the recorded state, with no window action: the state the
    // window takes at its next showing, or that an MDI frame manages itself.
    void SetRecordedWindowState(TWindowState value) { FWindowState = value; }
    TFormStyle FormStyle() const { return FFormStyle; }
    void SetFormStyle(TFormStyle value);
    // The resolution the layout was designed at; with Scaled, a form loaded
    // on a screen of another resolution is scaled to it.
    int PixelsPerInch() const { return FPixelsPerInch; }
    void SetPixelsPerInch(int value) { FPixelsPerInch = value; }
    bool Scaled() const { return FScaled; }
    void SetScaled(bool value) { FScaled = value; }
    // The menu bar; setting it keeps the client area's size.
    TMainMenu* Menu() const { return FMenu; }
    void SetMenu(TMainMenu* value);
    TWinControl* ActiveControl() const { return FActiveControl; }
    void SetActiveControl(TWinControl* value);

    int ClientWidth() const override;
    int ClientHeight() const override;
    void SetClientSize(int width, int height) override;
    // The frame around the client area: border, caption, menu bar.
    win::RECT NonClientExtent() const;

    void SetVisible(bool value) override;
    void Show();
    // Asks OnCloseQuery; when allowed, runs OnClose and acts on its action
    // (the main form's close ends the application).
    void Close();
    virtual bool CloseQuery();
    // Frees the form on a later turn of the message loop.
    void Release();

    TNotifyEvent OnCreate;
    TNotifyEvent OnShow;
    TNotifyEvent OnHide;
    TCloseQueryEvent OnCloseQuery;
    TCloseEvent OnClose;
    TNotifyEvent OnDestroy;

    void Notification(TComponent* AComponent, TOperation Operation) override;
    void Loaded() override;

  protected:
    void CreateParams(TCreateParams& params) override;
    void WndProc(TMessage& message) override;
    void BoundsChanged() override;
    virtual void DoCreate();
    virtual void DoShow();
    virtual void DoClose(TCloseAction& action);
    virtual void DoDestroy();

  private:
    void UpdateBoundsFromWindow();
    void ApplyPosition();
    void KeepClientSize(const std::function<void()>& change);
    void MenuChanged();

    TFormBorderStyle FBorderStyle = bsSizeable;
    TBorderIcons FBorderIcons{biSystemMenu, biMinimize, biMaximize};
    TPosition FPosition = poDesigned;
    TWindowState FWindowState = wsNormal;
    TFormStyle FFormStyle = fsNormal;
    int FPixelsPerInch = 96;
    bool FScaled = true;
    TMainMenu* FMenu = nullptr;
    TWinControl* FActiveControl = nullptr;
    bool FCreated = false;
    bool FDestroyDone = false;
    bool FShowAfterLoading = false;
    bool FSyncingBounds = false;
    bool FMenuBarShown = false;
};

class TForm : public TCustomForm {
  public:
    using TCustomForm::TCustomForm;
    String ClassName() const override { return "TForm"; }
};

// A non-visual container of components, listed by Screen for lookups by name.
class TDataModule : public TComponent {
  public:
    explicit TDataModule(TComponent* AOwner);
    ~TDataModule() override;
    String ClassName() const override { return "TDataModule"; }

    void AfterConstruction();
    void BeforeDestruction();

    TNotifyEvent OnCreate;
    TNotifyEvent OnDestroy;

    void Notification(TComponent* AComponent, TOperation Operation) override;

  private:
    bool FCreated = false;
    bool FDestroyDone = false;
};

// Runs OnDestroy while the form (or data module) is whole, then deletes it.
void FreeForm(TCustomForm* form);
void FreeForm(TDataModule* module);

class TScreen : public TComponent {
  public:
    explicit TScreen(TComponent* AOwner);
    String ClassName() const override { return "TScreen"; }

    TCursor Cursor() const { return FCursor; }
    void SetCursor(TCursor value);
    int Width() const;
    int Height() const;
    int PixelsPerInch() const;
    // The work area of the screen a rectangle lies most on, or else the one
    // nearest to it.
    win::RECT WorkAreaNearest(const win::RECT& rect) const;

    int FormCount() const { return static_cast<int>(FForms.size()); }
    TCustomForm* Forms(int index) const;
    int DataModuleCount() const { return static_cast<int>(FDataModules.size()); }
    TDataModule* DataModules(int index) const;

  private:
    friend class TCustomForm;
    friend class TDataModule;

    TCursor FCursor = crDefault;
    std::vector<TCustomForm*> FForms;
    std::vector<TDataModule*> FDataModules;
};

using TExceptionEvent = std::function<void(TObject* Sender, std::exception_ptr E)>;

class TApplication : public TComponent {
  public:
    explicit TApplication(TComponent* AOwner);
    ~TApplication() override;
    String ClassName() const override { return "TApplication"; }

    // Installs the application's exception handler in the runtime (also
    // done at construction) and clears the terminated state.
    void Initialize();

    // Shown on the task bar and as the caption of message boxes; defaults
    // to the executable's base name.
    const String& Title() const { return FTitle; }
    void SetTitle(const String& value) { FTitle = value; }
    // The executable's path.
    String ExeName() const;

    // Creates a form (or data module) owned by the application, runs its
    // layout loading and OnCreate; the first form created becomes the main form.
    template <typename T>
    void CreateForm(T*& reference) {
        T* instance = new T(this);
        reference = instance;
        instance->AfterConstruction();
        if constexpr (std::is_base_of_v<TCustomForm, T>) {
            if (!FMainForm) {
                instance->HandleNeeded();
                FMainForm = instance;
            }
        }
    }
    TCustomForm* MainForm() const { return FMainForm; }

    // Shows the main form and delivers messages until Terminate() (the main
    // form's close); then frees the forms and data modules (DoneApplication).
    void Run();
    void Terminate();
    bool Terminated() const { return FTerminated; }
    // Delivers everything pending now (the backend's events too); never blocks.
    void ProcessMessages();
    // Waits for the next message or event and delivers what is pending.
    void HandleMessage();

    // The application's exception report: OnException when set, otherwise a
    // message box with the exception's text captioned with Title; nothing
    // for an EAbort.  Sender is the object whose handler raised, when known.
    void HandleException(TObject* Sender);  // the exception being handled now
    void HandleException(std::exception_ptr error, TObject* Sender = nullptr);
    void ShowException(std::exception_ptr error);
    TExceptionEvent OnException;

    // A modal message box (recorded; headless it returns IDOK at once).
    int MessageBox(const String& text, const String& caption, win::UINT flags);

    // The hidden application window.
    win::HWND Handle();
    void Minimize();
    void Restore();
    bool Minimized() const { return FMinimized; }
    TNotifyEvent OnMinimize;
    TNotifyEvent OnRestore;

    // Frees every form and data module the application owns.
    void DoneApplication();

    void Notification(TComponent* AComponent, TOperation Operation) override;

  private:
    static win::LRESULT AppWndProc(win::HWND hwnd, win::UINT msg, win::WPARAM wParam,
                                   win::LPARAM lParam);

    String FTitle;
    TCustomForm* FMainForm = nullptr;
    bool FTerminated = false;
    bool FMinimized = false;
    win::HWND FHandle = nullptr;
};

// Builds a form (or data module) of class T owned by owner: its layout
// loading, then OnCreate.  Unlike Application->CreateForm it never makes a
// main form.
template <typename T>
T* NewForm(TComponent* owner) {
    T* instance = new T(owner);
    instance->AfterConstruction();
    return instance;
}

extern TApplication* Application;
extern TScreen* Screen;
