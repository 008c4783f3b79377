#include "settings/Placemnt.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "gui/Backend.h"
#include "gui/Dialogs.h"
#include "gui/Mask.h"
#include "gui/StdCtrls.h"
#include "settings/AppUtils.h"
#include "settings/IniFiles.h"
#include "settings/Registry.h"
#include "testing/TestHome.h"

using namespace win;

namespace {

// The program's main window as far as its stored settings go: a fixed-border
// window centred on the screen, with the five stored fields.
class TForm1 : public TForm {
  public:
    explicit TForm1(TComponent* AOwner, TFormBorderStyle border = bsSingle) : TForm(AOwner) {
        SetBorderStyle(border);
        SetBorderIcons(TBorderIcons{biSystemMenu, biMinimize});
        SetPosition(poScreenCenter);
        SetClientSize(287, 225);
        cbxProxy = Field<TCheckBox>("cbxProxy");
        edtProxy = Field<TEdit>("edtProxy");
        edtPort = Field<TMaskEdit>("edtPort");
        edtPort->SetEditMask("9999;1;_");
        edtServer = Field<TEdit>("edtServer");
        edtServer->SetText("127.0.0.1");
        edtTimeOut = Field<TMaskEdit>("edtTimeOut");
        edtTimeOut->SetEditMask("999;1;_");
        edtTimeOut->SetText("20");
        FormStorage1 = new TFormStorage(this);
        FormStorage1->SetName("FormStorage1");
        FormStorage1->SetOptions(TPlacementOptions{fpPosition});
        FormStorage1->SetUseRegistry(true);
        for (const char* entry : {"cbxProxy.Checked", "edtProxy.Text", "edtPort.Text",
                                  "edtServer.Text", "edtTimeOut.Text"})
            FormStorage1->StoredProps()->Add(entry);
    }
    String ClassName() const override { return "TForm1"; }

    TCheckBox* cbxProxy;
    TEdit* edtProxy;
    TMaskEdit* edtPort;
    TEdit* edtServer;
    TMaskEdit* edtTimeOut;
    TFormStorage* FormStorage1;

  private:
    template <typename T>
    T* Field(const char* name) {
        T* c = new T(this);
        c->SetName(name);
        c->SetParent(this);
        return c;
    }
};

// A resizable window with the placement alone, options as given.
class TSizeForm : public TForm {
  public:
    TSizeForm(TComponent* AOwner) : TForm(AOwner) {
        SetPosition(poScreenCenter);
        SetBounds(0, 0, 400, 300);
        Placement = new TFormPlacement(this);
        Placement->SetUseRegistry(true);
    }
    String ClassName() const override { return "TSizeForm"; }
    TFormPlacement* Placement;
};

const char* const kKey = "Software\\kurs_settings_test";

class FormPlacement : public TestHome {
  protected:
    void SetUp() override {
        TestHome::SetUp();
        ClearRecordedMessageBoxes();
        SetScreenMetrics(ScreenMetrics{});
    }
    void TearDown() override {
        SetScreenMetrics(ScreenMetrics{});
        if (Application->Minimized())
            Application->Restore();
        ProcessMessages();
        TestHome::TearDown();
    }
    static String Stored(const char* section, const char* name) {
        TRegIniFile store(kKey);
        return store.ReadString(section, name, "<none>");
    }
    static void Store(const char* section, const char* name, const char* value) {
        TRegIniFile store(kKey);
        store.WriteString(section, name, value);
    }
    static std::vector<String> Reports() {
        std::vector<String> texts;
        for (const auto& box : RecordedMessageBoxes())
            texts.push_back(box.Text);
        return texts;
    }
    // Shows and closes a form, as one run of the program does.
    template <typename T>
    static void Run(T* form) {
        form->Show();
        form->Close();
        FreeForm(form);
    }
};

TEST_F(FormPlacement, AShowAndACloseStoreTheProgramsValuesInTheirOrder) {
    auto* form = NewForm<TForm1>(Application);
    form->Show();
    const int left = (1024 - form->Width()) / 2;
    const int top = (768 - form->Height()) / 2;
    EXPECT_EQ(form->Left(), left);  // first start: nothing stored, centred
    form->edtServer->SetText("  10.0.0.1 ");
    const String norm =
        Format("%d,%d,%d,%d", left, top, left + form->Width(), top + form->Height());
    form->Close();
    FreeForm(form);

    const String minMax =
        Format("-1,-1,%d,%d", -GetSystemMetrics(SM_CXBORDER), -GetSystemMetrics(SM_CYBORDER));
    EXPECT_EQ(RegistryText(),
              "REGEDIT4\n\n"
              "[HKEY_CURRENT_USER\\Software]\n\n"
              "[HKEY_CURRENT_USER\\Software\\kurs_settings_test]\n\n"
              "[HKEY_CURRENT_USER\\Software\\kurs_settings_test\\TForm1]\n"
              "\"FormVersion\"=\"0\"\n"
              "\"Flags\"=\"0\"\n"
              "\"ShowCmd\"=\"1\"\n"
              "\"PixelsPerInch\"=\"96\"\n"
              "\"MinMaxPos(1024x768)\"=\"" +
                  minMax +
                  "\"\n"
                  "\"MinMaxPos\"=\"" +
                  minMax +
                  "\"\n"
                  "\"NormPos(1024x768)\"=\"" +
                  norm +
                  "\"\n"
                  "\"NormPos\"=\"" +
                  norm +
                  "\"\n"
                  "\"Visible\"=\"0\"\n"
                  "\"cbxProxy_Checked\"=\"False\"\n"
                  "\"edtProxy_Text\"=\"\"\n"
                  "\"edtPort_Text\"=\"\"\n"
                  "\"edtServer_Text\"=\"10.0.0.1\"\n"
                  "\"edtTimeOut_Text\"=\"20\"\n\n");
}

TEST_F(FormPlacement, TheNextStartPutsTheWindowAndTheFieldsBack) {
    Store("TForm1", "NormPos", "100,50,200,90");
    Store("TForm1", "cbxProxy_Checked", "true");
    Store("TForm1", "edtProxy_Text", " proxy.local ");
    Store("TForm1", "edtPort_Text", "8080");
    Store("TForm1", "edtTimeOut_Text", "5");
    auto* form = NewForm<TForm1>(Application);
    const int width = form->Width();
    form->Show();
    // A fixed border keeps the size; the place is taken and the centring dropped.
    EXPECT_EQ(form->Left(), 100);
    EXPECT_EQ(form->Top(), 50);
    EXPECT_EQ(form->Width(), width);
    EXPECT_EQ(form->Position(), poDesigned);
    EXPECT_TRUE(form->cbxProxy->Checked());
    EXPECT_EQ(form->edtProxy->Text(), "proxy.local");
    EXPECT_EQ(form->edtPort->Text(), "8080");
    EXPECT_EQ(form->edtTimeOut->Text(), "5  ");
    EXPECT_EQ(form->edtServer->Text(), "127.0.0.1");  // nothing stored: the layout's value
    const int height = form->Height();
    form->Close();
    FreeForm(form);
    EXPECT_EQ(Stored("TForm1", "NormPos"), Format("100,50,%d,%d", 100 + width, 50 + height));
    EXPECT_EQ(Stored("TForm1", "edtTimeOut_Text"), "5");
}

TEST_F(FormPlacement, StoredPositionsThatAreDamagedOrForeignFallBack) {
    // The form's layout puts it at 0, 0 .. 400, 300 (the defaults of missing
    // numbers); centred on the screen it lies at 312, 234 .. 712, 534.
    const struct {
        const char* name;
        const char* value;
        win::RECT expected;
    } cases[] = {
        {"NormPos", "10,20,300,400", {10, 20, 300, 400}},
        {"NormPos", "10,20", {10, 20, 400, 300}},
        {"NormPos", "10 20 ,, x 400", {10, 20, 400, 400}},
        {"NormPos", "300,20,100,400", {312, 234, 712, 534}},  // right <= left: not applied
        {"NormPos", "no numbers", {0, 0, 400, 300}},          // the layout's own place
        {"PixelsPerInch", "120", {312, 234, 712, 534}},       // another resolution: ignored
        {"PixelsPerInch", "many", {10, 20, 300, 400}},        // no number: the current one
        {"Flags", "x", {10, 20, 300, 400}},
        {"MinMaxPos", "a,b", {10, 20, 300, 400}},
    };
    for (const auto& c : cases) {
        {
            TRegIniFile store(kKey);
            store.EraseSection("TSizeForm");
        }
        Store("TSizeForm", "NormPos", "10,20,300,400");
        Store("TSizeForm", c.name, c.value);
        auto* form = NewForm<TSizeForm>(Application);
        form->Show();
        const win::RECT r = form->BoundsRect();
        EXPECT_EQ(r.left, c.expected.left) << c.name << "=" << c.value;
        EXPECT_EQ(r.top, c.expected.top) << c.name << "=" << c.value;
        EXPECT_EQ(r.right, c.expected.right) << c.name << "=" << c.value;
        EXPECT_EQ(r.bottom, c.expected.bottom) << c.name << "=" << c.value;
        FreeForm(form);
    }
    EXPECT_TRUE(Reports().empty());
}

TEST_F(FormPlacement, CoordinatesAtTheEndsOfTheRangeNeverOverflow) {
    // A fixed border takes the place only: its own size always fits.  A
    // stored size that does not fit in a coordinate is not applied.
    const struct {
        const char* norm;
        bool fixedMoves;
        int fixedLeft;
    } cases[] = {
        {"2147483647,0,2147483647,100", false, 0},  // no room for the width: right == left
        {"-2147483648,0,2147483647,100", true, std::numeric_limits<int>::min()},
        {"0,-2147483648,10,2147483647", true, 0},
    };
    for (const auto& c : cases) {
        {
            TRegIniFile store(kKey);  // no suffixed values from the last round
            store.EraseSection("TForm1");
            store.EraseSection("TSizeForm");
        }
        Store("TForm1", "NormPos", c.norm);
        auto* fixed = NewForm<TForm1>(Application);
        fixed->Show();
        EXPECT_EQ(fixed->Left(), c.fixedMoves ? c.fixedLeft : (1024 - fixed->Width()) / 2)
            << c.norm;
        FreeForm(fixed);
        Store("TSizeForm", "NormPos", c.norm);
        auto* sizeable = NewForm<TSizeForm>(Application);
        sizeable->Show();
        EXPECT_EQ(sizeable->Left(), 312) << c.norm;
        FreeForm(sizeable);
    }
}

TEST_F(FormPlacement, APositionIsFoundAgainAtTheResolutionItWasSavedAt) {
    auto* form = NewForm<TSizeForm>(Application);
    form->Show();
    form->SetBounds(10, 10, 400, 300);
    form->Close();
    FreeForm(form);
    EXPECT_EQ(Stored("TSizeForm", "NormPos(1024x768)"), "10,10,410,310");

    SetScreenMetrics(ScreenMetrics{1280, 1024, 96});
    form = NewForm<TSizeForm>(Application);
    form->Show();
    EXPECT_EQ(form->Left(), 10);  // the plain value until a save here
    form->SetBounds(50, 60, 400, 300);
    form->Close();
    FreeForm(form);
    EXPECT_EQ(Stored("TSizeForm", "NormPos(1280x1024)"), "50,60,450,360");
    EXPECT_EQ(Stored("TSizeForm", "NormPos"), "50,60,450,360");

    SetScreenMetrics(ScreenMetrics{});
    form = NewForm<TSizeForm>(Application);
    form->Show();
    EXPECT_EQ(form->Left(), 10);  // the old resolution's own value
    FreeForm(form);
}

TEST_F(FormPlacement, ARaisedVersionIgnoresTheOldValuesOnceAndOverwritesThem) {
    Store("TSizeForm", "FormVersion", "0");
    Store("TSizeForm", "NormPos", "10,20,300,400");
    auto* form = NewForm<TSizeForm>(Application);
    form->Placement->SetVersion(1);
    form->Show();
    EXPECT_EQ(form->Left(), 312);
    EXPECT_TRUE(form->Placement->Restored());
    form->Close();
    FreeForm(form);
    EXPECT_EQ(Stored("TSizeForm", "FormVersion"), "1");
    EXPECT_EQ(Stored("TSizeForm", "NormPos"), "312,234,712,534");
}

TEST_F(FormPlacement, TheStateIsRestoredOnlyWithItsOption) {
    auto* form = NewForm<TSizeForm>(Application);
    form->Placement->SetOptions(TPlacementOptions{fpPosition});
    form->Show();
    form->SetBounds(20, 30, 400, 300);
    form->SetWindowState(wsMaximized);
    form->Close();
    FreeForm(form);
    EXPECT_EQ(Stored("TSizeForm", "ShowCmd"), "3");
    EXPECT_EQ(Stored("TSizeForm", "NormPos"), "20,30,420,330");

    form = NewForm<TSizeForm>(Application);
    form->Placement->SetOptions(TPlacementOptions{fpPosition});
    form->Show();
    EXPECT_EQ(form->WindowState(), wsNormal);
    EXPECT_EQ(form->Left(), 20);
    FreeForm(form);

    Store("TSizeForm", "ShowCmd", "3");  // the last destruction saved the normal state
    form = NewForm<TSizeForm>(Application);
    form->Placement->SetOptions(TPlacementOptions{fpState, fpPosition});
    form->Show();
    EXPECT_EQ(form->WindowState(), wsMaximized);
    FreeForm(form);
}

TEST_F(FormPlacement, AStoredResolutionThatDiffersStillRestoresTheState) {
    Store("TSizeForm", "PixelsPerInch", "120");
    Store("TSizeForm", "NormPos", "10,20,300,400");
    Store("TSizeForm", "ShowCmd", "3");
    auto* form = NewForm<TSizeForm>(Application);
    form->Show();
    EXPECT_EQ(form->Left(), 312);
    EXPECT_EQ(form->WindowState(), wsMaximized);
    FreeForm(form);
}

TEST_F(FormPlacement, AMinimisedApplicationIsStoredAndRestoredMinimised) {
    TSizeForm* form = nullptr;
    Application->CreateForm(form);
    form->Show();
    Application->Minimize();
    form->Close();
    FreeForm(form);
    EXPECT_EQ(Stored("TSizeForm", "ShowCmd"), "2");
    Application->Restore();

    Application->CreateForm(form);
    form->Show();
    EXPECT_EQ(form->WindowState(), wsNormal);
    EXPECT_FALSE(Application->Minimized());
    ProcessMessages();  // the posted SC_MINIMIZE
    EXPECT_TRUE(Application->Minimized());
    FreeForm(form);
    Application->Initialize();
}

TEST_F(FormPlacement, AFailedRestoreIsReportedAndKeepsTheCloseFromSaving) {
    {
        HKEY key = nullptr;
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\kurs_settings_test\\TSizeForm", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr);
        const DWORD flags = 2;
        RegSetValueExA(key, "Flags", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flags),
                       sizeof(flags));
        RegCloseKey(key);
    }
    auto* form = NewForm<TSizeForm>(Application);
    form->Show();
    EXPECT_TRUE(form->Visible());
    EXPECT_EQ(Reports(), std::vector<String>{"Invalid data type for 'Flags'"});
    EXPECT_FALSE(form->Placement->Restored());
    form->Close();
    FreeForm(form);
    EXPECT_EQ(Stored("TSizeForm", "NormPos"), "<none>");
}

TEST_F(FormPlacement, AFailedSaveIsReportedAndTriedOnceMoreAtDestruction) {
    auto* form = NewForm<TSizeForm>(Application);
    form->Placement->SetUseRegistry(false);
    form->Placement->SetIniFileName("/nonexistent-folder/x.ini");
    form->Show();
    form->Close();
    EXPECT_FALSE(form->Visible());
    EXPECT_FALSE(form->Placement->Saved());
    FreeForm(form);
    EXPECT_EQ(Reports(), (std::vector<String>{"Unable to write to /nonexistent-folder/x.ini",
                                              "Unable to write to /nonexistent-folder/x.ini"}));
}

TEST_F(FormPlacement, TheFormsOwnHandlersStillRunAndAreGivenBack) {
    std::vector<std::string> journal;
    auto* form = new TSizeForm(Application);
    form->OnShow = [&](TObject*) { journal.push_back("show " + Stored("TSizeForm", "Flags")); };
    form->OnCloseQuery = [&](TObject*, bool& canClose) {
        journal.push_back("close query");
        canClose = journal.size() > 2;
    };
    form->OnDestroy = [&](TObject*) {
        journal.push_back("destroy " + Stored("TSizeForm", "Visible"));
    };
    form->AfterConstruction();
    form->Show();
    form->Close();  // refused: nothing saved
    EXPECT_EQ(Stored("TSizeForm", "Visible"), "<none>");
    form->Close();
    EXPECT_EQ(Stored("TSizeForm", "Visible"), "0");
    FreeForm(form);
    EXPECT_EQ(journal,
              (std::vector<std::string>{"show <none>", "close query", "close query", "destroy 0"}));

    // Destroyed without a close: saved at destruction, "Visible" 1.
    form = NewForm<TSizeForm>(Application);
    form->Show();
    FreeForm(form);
    EXPECT_EQ(Stored("TSizeForm", "Visible"), "1");

    // Freeing the placement first hands the events back.
    form = NewForm<TSizeForm>(Application);
    delete form->Placement;
    EXPECT_FALSE(form->OnShow);
    EXPECT_FALSE(form->OnDestroy);
    FreeForm(form);
}

TEST_F(FormPlacement, AnIniFileHoldsTheSameValues) {
    auto* form = NewForm<TSizeForm>(Application);
    form->Placement->SetUseRegistry(false);
    form->Placement->SetOptions(TPlacementOptions{fpPosition, fpActiveControl});
    auto* edit = new TEdit(form);
    edit->SetName("Edit1");
    edit->SetParent(form);
    form->Show();
    form->SetActiveControl(edit);
    form->Close();
    FreeForm(form);
    EXPECT_EQ(IniText("kurs_settings_test.INI"),
              "[TSizeForm]\nFormVersion=0\nFlags=0\nShowCmd=1\nPixelsPerInch=96\n"
              "MinMaxPos(1024x768)=-1,-1," +
                  Format("%d,%d", -GetSystemMetrics(SM_CXFRAME), -GetSystemMetrics(SM_CYFRAME)) +
                  "\nMinMaxPos=-1,-1," +
                  Format("%d,%d", -GetSystemMetrics(SM_CXFRAME), -GetSystemMetrics(SM_CYFRAME)) +
                  "\nNormPos(1024x768)=312,234,712,534\nNormPos=312,234,712,534\nVisible=0\n"
                  "ActiveControl=Edit1\n");

    form = NewForm<TSizeForm>(Application);
    form->Placement->SetUseRegistry(false);
    form->Placement->SetOptions(TPlacementOptions{fpActiveControl});
    edit = new TEdit(form);
    edit->SetName("Edit1");
    edit->SetParent(form);
    form->Show();
    EXPECT_EQ(form->ActiveControl(), edit);
    FreeForm(form);
}

TEST_F(FormPlacement, ReadingAnotherRootReadOnlyLeavesOnlyTheCurrentUsersKey) {
    auto* form = NewForm<TSizeForm>(Application);
    form->Placement->SetRegistryRoot(prLocalMachine);
    form->Show();
    EXPECT_EQ(form->Left(), 312);
    FreeForm(form);  // saved at destruction into the other root
    EXPECT_EQ(RegistryText(),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n"
              "[HKEY_CURRENT_USER\\Software\\kurs_settings_test]\n\n");
    TRegistry machine;
    machine.SetRootKey(HKEY_LOCAL_MACHINE);
    ASSERT_TRUE(machine.OpenKey("Software\\kurs_settings_test\\TSizeForm", false));
    EXPECT_EQ(machine.ReadString("Visible"), "1");
}

TEST_F(FormPlacement, PreventResizeFixesTheSizeThroughTheHook) {
    auto* form = NewForm<TSizeForm>(Application);
    form->Show();
    form->Placement->SetPreventResize(true);
    EXPECT_FALSE(form->BorderIcons().Contains(biMaximize));
    EXPECT_EQ(form->Placement->WinHook()->WinControl(), form);
    const HWND handle = form->Handle();
    EXPECT_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtr(handle, GWL_WNDPROC)),
              TControlHook::ThunkProc());
    MINMAXINFO info;
    EXPECT_EQ(SendMessage(handle, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info)), 1);
    EXPECT_EQ(info.ptMinTrackSize.x, form->Width());
    EXPECT_EQ(info.ptMaxTrackSize.y, form->Height());
    // The window answers with the hit-test code it is given in wParam.
    auto own = form->WindowProc;
    form->WindowProc = [&](TMessage& m) {
        own(m);
        if (m.Msg == WM_NCHITTEST)
            m.Result = static_cast<LRESULT>(m.WParam);
    };
    EXPECT_EQ(SendMessage(handle, WM_NCHITTEST, HTLEFT, 0), HTNOWHERE);
    EXPECT_EQ(SendMessage(handle, WM_NCHITTEST, HTBOTTOMRIGHT, 0), HTNOWHERE);
    EXPECT_EQ(SendMessage(handle, WM_NCHITTEST, HTCLIENT, 0), HTCLIENT);
    form->Placement->SetPreventResize(false);
    EXPECT_TRUE(form->BorderIcons().Contains(biMaximize));
    EXPECT_EQ(form->Placement->WinHook()->WinControl(), nullptr);
    FreeForm(form);
}

// The system menu's Size and Maximize are grey while the form cannot be
// resized, even when the form's own procedure enabled every item first; a
// popup of the main menu (high word 0) and a form that may be resized are
// left alone.
TEST_F(FormPlacement, PreventResizeGreysSizeAndMaximizeInTheSystemMenu) {
    auto* form = NewForm<TSizeForm>(Application);
    form->Show();
    const HWND handle = form->Handle();
    const HMENU menu = GetSystemMenu(handle, FALSE);
    auto own = form->WindowProc;
    int ownPopups = 0;
    form->WindowProc = [&](TMessage& m) {
        own(m);
        if (m.Msg == WM_INITMENUPOPUP) {
            ++ownPopups;
            GetSystemMenu(handle, TRUE);
        }
    };
    auto greyed = [&](WPARAM command) {
        return (GetMenuState(menu, static_cast<UINT>(command), MF_BYCOMMAND) & MF_GRAYED) != 0;
    };
    const LPARAM systemMenu = MAKELPARAM(0, 1);

    EXPECT_EQ(SendMessage(handle, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), systemMenu), 0);
    EXPECT_FALSE(greyed(SC_SIZE));

    form->Placement->SetPreventResize(true);
    EXPECT_EQ(SendMessage(handle, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0), 0);
    EXPECT_FALSE(greyed(SC_SIZE));
    EXPECT_EQ(SendMessage(handle, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), systemMenu), 1);
    EXPECT_EQ(ownPopups, 3);
    EXPECT_TRUE(greyed(SC_SIZE));
    EXPECT_TRUE(greyed(SC_MAXIMIZE));
    for (WPARAM other : {SC_RESTORE, SC_MOVE, SC_MINIMIZE, SC_CLOSE})
        EXPECT_FALSE(greyed(other)) << std::hex << other;

    form->Placement->SetPreventResize(false);
    EXPECT_EQ(SendMessage(handle, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), systemMenu), 0);
    EXPECT_FALSE(greyed(SC_SIZE));
    EXPECT_FALSE(greyed(SC_MAXIMIZE));
    FreeForm(form);
}

// The state read back, by the form's kind and the stored show command, on a
// form already on screen (so that a state applied and a state only recorded
// can be told apart).  The application's main form, or any form while there
// is none, starts from maximised when it is an MDI frame or an ordinary
// window placed by the system; a minimised main form leaves the
// minimising to the application.
TEST_F(FormPlacement, TheRestoredStateFollowsTheShowCommandAndTheKindOfForm) {
    enum { kNone = -1 };
    const struct {
        TFormStyle style;
        TPosition position;
        bool otherMain;  // another form is the application's main form
        TWindowState before;
        int showCmd;
        TWindowState after;
        bool zoomed, iconic, appMinimised;
    } cases[] = {
        {fsNormal, poScreenCenter, true, wsNormal, SW_SHOWMAXIMIZED, wsMaximized, true, false,
         false},
        {fsNormal, poScreenCenter, true, wsNormal, SW_SHOWMINIMIZED, wsMinimized, false, true,
         false},
        {fsNormal, poScreenCenter, true, wsNormal, SW_SHOWMINNOACTIVE, wsMinimized, false, true,
         false},
        {fsNormal, poScreenCenter, true, wsMaximized, SW_SHOW, wsNormal, false, false, false},
        {fsNormal, poScreenCenter, true, wsMaximized, SW_RESTORE, wsNormal, false, false, false},
        {fsMDIForm, poScreenCenter, true, wsNormal, SW_SHOWMAXIMIZED, wsMaximized, false, false,
         false},
        {fsMDIChild, poScreenCenter, true, wsNormal, SW_SHOWMINIMIZED, wsMinimized, false, false,
         false},
        {fsMDIChild, poScreenCenter, true, wsMaximized, SW_SHOWNORMAL, wsNormal, true, false,
         false},
        {fsNormal, poScreenCenter, false, wsMaximized, SW_MINIMIZE, wsNormal, true, false, true},
        {fsMDIForm, poScreenCenter, false, wsNormal, SW_SHOWMINIMIZED, wsNormal, false, false,
         true},
        // Nothing stored, or a command that names no state: the starting state.
        {fsNormal, poDefault, false, wsNormal, kNone, wsMaximized, true, false, false},
        {fsNormal, poDefault, false, wsNormal, SW_SHOWNOACTIVATE, wsMaximized, true, false, false},
        {fsNormal, poDefault, true, wsMaximized, kNone, wsNormal, false, false, false},
        {fsNormal, poScreenCenter, false, wsMaximized, kNone, wsNormal, false, false, false},
        {fsStayOnTop, poDefault, false, wsMaximized, kNone, wsNormal, false, false, false},
        {fsMDIForm, poScreenCenter, false, wsNormal, kNone, wsMaximized, false, false, false},
        {fsMDIForm, poScreenCenter, true, wsMaximized, kNone, wsNormal, true, false, false},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << n++);
        TRegistry().DeleteKey(kKey);
        if (c.showCmd != kNone)
            Store("TSizeForm", "ShowCmd", std::to_string(c.showCmd).c_str());
        TSizeForm* main = nullptr;
        if (c.otherMain)
            Application->CreateForm(main);
        auto* form = NewForm<TSizeForm>(Application);
        form->SetFormStyle(c.style);
        form->SetPosition(c.position);
        form->Placement->SetOptions(TPlacementOptions{fpState});
        form->Placement->SetActive(false);
        form->Show();
        form->SetWindowState(c.before);
        form->Placement->SetActive(true);
        form->Placement->RestoreSettings();
        EXPECT_EQ(form->WindowState(), c.after);
        EXPECT_EQ(IsZoomed(form->Handle()) != FALSE, c.zoomed);
        EXPECT_EQ(IsIconic(form->Handle()) != FALSE, c.iconic);
        ProcessMessages();
        EXPECT_EQ(Application->Minimized(), c.appMinimised);
        if (Application->Minimized())
            Application->Restore();
        FreeForm(form);
        if (main)
            FreeForm(main);
        ProcessMessages();
    }
}

// A backend that counts the repaints of each form.
class TRepaintCounter : public TGuiBackend {
  public:
    struct TPeer : TControlPeer {
        TPeer(TRepaintCounter& b, TControl* c) : backend(b), control(c) {}
        void Changed(TControlChange what) override {
            if (what == ccState && dynamic_cast<TCustomForm*>(control))
                ++backend.repaints;
        }
        TRepaintCounter& backend;
        TControl* control;
    };
    std::unique_ptr<TControlPeer> CreatePeer(TControl* control) override {
        return std::make_unique<TPeer>(*this, control);
    }
    int ShowMessageBox(const String&, const String&, UINT) override { return IDOK; }
    void CursorChanged(TCursor) override {}
    void ApplicationMinimized(bool) override {}
    void ProcessEvents() override { ProcessMessages(); }
    void WaitForEvents() override { WaitMessage(-1); }
    int repaints = 0;
};

// Reading the placement back repaints the form, whichever part is read,
// except when the application is left to minimise itself or nothing is read.
TEST_F(FormPlacement, ReadingThePlacementRepaintsTheForm) {
    Store("TSizeForm", "NormPos", "10,20,300,400");
    TRepaintCounter backend;
    SetGuiBackend(&backend);
    const struct {
        TPlacementOptions options;
        const char* showCmd;
        int repaints;
    } cases[] = {
        {TPlacementOptions{fpPosition}, "1", 1},
        {TPlacementOptions{fpState}, "1", 1},
        {TPlacementOptions{fpState, fpPosition}, "3", 1},
        {TPlacementOptions{fpActiveControl}, "1", 0},
        {TPlacementOptions{fpState}, "2", 0},  // no main form: the application minimises
    };
    for (const auto& c : cases) {
        Store("TSizeForm", "ShowCmd", c.showCmd);
        auto* form = NewForm<TSizeForm>(Application);
        form->Placement->SetOptions(c.options);
        form->Placement->SetActive(false);
        form->Show();
        form->Placement->SetActive(true);
        backend.repaints = 0;
        form->Placement->RestoreSettings();
        EXPECT_EQ(backend.repaints, c.repaints) << c.showCmd << " " << c.options.Bits();
        FreeForm(form);
        ProcessMessages();
        if (Application->Minimized())
            Application->Restore();
    }
    SetGuiBackend(nullptr);
}

// OnSavePlacement comes after every value was written and before the save
// counts as done; OnRestorePlacement after the values were read and only
// when their version is recent enough.  A failing OnSavePlacement leaves the
// save undone, so the destruction tries again.
TEST_F(FormPlacement, ThePlacementEventsComeAfterTheValuesAndOnlyWhenTheyCount) {
    auto* form = NewForm<TSizeForm>(Application);
    TFormPlacement* placement = form->Placement;
    std::vector<String> seen;
    placement->OnRestorePlacement = [&](TObject* sender) {
        seen.push_back(Format("restore %d restored=%d", form->Left(), placement->Restored()));
        EXPECT_EQ(sender, placement);
    };
    placement->OnSavePlacement = [&](TObject*) {
        seen.push_back("save " + placement->ReadString("Visible", "?") + " " +
                       placement->ReadString("NormPos", "?") +
                       Format(" saved=%d", placement->Saved()));
    };
    Store("TSizeForm", "NormPos", "15,25,415,325");
    form->Show();
    form->Close();
    EXPECT_EQ(seen, (std::vector<String>{"restore 15 restored=1", "save 0 15,25,415,325 saved=0"}));
    EXPECT_TRUE(placement->Saved());

    seen.clear();
    placement->SetVersion(1);  // the stored values are of version 0
    placement->RestoreSettings();
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(placement->Restored());

    placement->OnSavePlacement = [&](TObject*) { throw Exception("event failed"); };
    form->Show();
    form->Close();
    EXPECT_EQ(Reports(), (std::vector<String>{"event failed"}));
    EXPECT_FALSE(placement->Saved());
    placement->OnSavePlacement = [&](TObject*) { seen.push_back("save at destruction"); };
    FreeForm(form);
    EXPECT_EQ(seen, (std::vector<String>{"save at destruction"}));
    EXPECT_EQ(Stored("TSizeForm", "Visible"), "1");
    EXPECT_EQ(Stored("TSizeForm", "FormVersion"), "1");
}

// A minimised MDI child keeps its minimised place: its flags say so.
TEST_F(FormPlacement, AMinimisedMdiChildIsStoredWithItsMinimisedPlace) {
    const struct {
        TFormStyle style;
        TWindowState state;
        const char* flags;
    } cases[] = {
        {fsMDIChild, wsMinimized, "1"},
        {fsMDIChild, wsNormal, "0"},
        {fsNormal, wsMinimized, "0"},
    };
    for (const auto& c : cases) {
        auto* form = NewForm<TSizeForm>(Application);
        form->SetFormStyle(c.style);
        form->Placement->SetOptions(TPlacementOptions{fpPosition});
        form->Show();
        form->SetWindowState(c.state);
        form->Placement->SaveSettings();
        EXPECT_EQ(Stored("TSizeForm", "Flags"), c.flags) << c.style << " " << c.state;
        FreeForm(form);
    }
}

// After a restore the maximised position lies outside the screen by the
// width of the form's border, so that the border is off screen; a form whose
// size is held by the hook is left to it.
TEST_F(FormPlacement, TheMaximisedPositionHidesTheBorderOfEachStyle) {
    const struct {
        TFormBorderStyle border;
        bool limited;
        POINT expected;
    } cases[] = {
        {bsNone, false, {0, 0}},          {bsSingle, false, {-1, -1}},
        {bsToolWindow, false, {-1, -1}},  {bsSizeable, false, {-4, -4}},
        {bsSizeToolWin, false, {-4, -4}}, {bsDialog, false, {-3, -3}},
        {bsDialog, true, {-1, -1}},       {bsNone, true, {-1, -1}},
    };
    for (const auto& c : cases) {
        auto* form = NewForm<TSizeForm>(Application);
        form->SetBorderStyle(c.border);
        form->Placement->SetOptions(TPlacementOptions{});  // no stored place read back
        if (c.limited)
            form->Placement->MinMaxInfo()->SetMaxTrackWidth(900);
        form->Show();
        WINDOWPLACEMENT placement;
        ASSERT_TRUE(GetWindowPlacement(form->Handle(), &placement));
        EXPECT_EQ(placement.ptMaxPosition.x, c.expected.x) << c.border << " " << c.limited;
        EXPECT_EQ(placement.ptMaxPosition.y, c.expected.y) << c.border << " " << c.limited;
        FreeForm(form);
    }
}

TEST_F(FormPlacement, ASizeLimitAttachesTheHookAndItsRemovalDetachesIt) {
    auto* form = NewForm<TSizeForm>(Application);
    form->Show();
    const HWND handle = form->Handle();
    const auto proc = GetWindowLongPtr(handle, GWL_WNDPROC);
    form->Placement->MinMaxInfo()->SetMinTrackWidth(300);
    MINMAXINFO info;
    info.ptMinTrackSize = POINT{100, 100};
    info.ptMaxTrackSize = POINT{2000, 2000};
    EXPECT_EQ(SendMessage(handle, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info)), 1);
    EXPECT_EQ(info.ptMinTrackSize.x, 300);
    EXPECT_EQ(info.ptMinTrackSize.y, 100);  // a zero limit leaves its field alone
    EXPECT_EQ(info.ptMaxTrackSize.x, 2000);
    form->Placement->MinMaxInfo()->SetMinTrackWidth(0);
    EXPECT_EQ(form->Placement->WinHook()->WinControl(), nullptr);
    EXPECT_EQ(GetWindowLongPtr(handle, GWL_WNDPROC), proc);
    FreeForm(form);
}

TEST_F(FormPlacement, TheDefaultSectionAndLocatorsFollowTheOwner) {
    EXPECT_EQ(ApplicationName(), "kurs_settings_test");
    EXPECT_EQ(DefaultRegistryKey(), "Software\\kurs_settings_test");
    EXPECT_EQ(DefaultIniFileName(), "kurs_settings_test.INI");
    auto* form = new TSizeForm(nullptr);
    auto* panel = new TPanel(form);
    panel->SetName("Panel1");
    panel->SetParent(form);
    auto* orphanParent = new TPanel(nullptr);
    orphanParent->SetName("Outer");
    auto* inner = new TEdit(nullptr);
    inner->SetName("Inner");
    inner->SetParent(orphanParent);
    auto* loose = new TEdit(nullptr);
    loose->SetName("Loose");
    TComponent plain(nullptr);
    plain.SetName("Plain");
    EXPECT_EQ(GetDefaultSection(nullptr), "");
    EXPECT_EQ(GetDefaultSection(form), "TSizeForm");
    EXPECT_EQ(GetDefaultSection(panel), "TSizeFormPanel1");
    EXPECT_EQ(GetDefaultSection(inner), "OuterInner");
    EXPECT_EQ(GetDefaultSection(loose), "Loose");
    EXPECT_EQ(GetDefaultSection(form->Placement), "TSizeForm.");
    EXPECT_EQ(GetDefaultSection(&plain), "Plain");
    EXPECT_EQ(form->Placement->IniSection(), "TSizeForm");
    EXPECT_EQ(form->Placement->IniFileName(), "Software\\kurs_settings_test");
    form->Placement->SetUseRegistry(false);
    EXPECT_EQ(form->Placement->IniFileName(), "kurs_settings_test.INI");
    form->Placement->SetDesigning(true);
    EXPECT_EQ(form->Placement->IniFileName(), "");
    EXPECT_EQ(form->Placement->IniSection(), "");
    TFormPlacement free(nullptr);
    EXPECT_TRUE(free.Options().Empty());
    EXPECT_EQ(form->Placement->Options(), (TPlacementOptions{fpState, fpPosition}));
    delete loose;
    delete orphanParent;
    FreeForm(form);
}

}  // namespace
