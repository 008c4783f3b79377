// Storing and restoring a form's placement and stored fields: the values and
// their order, damaged or foreign values, resolutions, versions, the state,
// failures, the form's own handlers, the INI back end and other roots.

#include "settings/PlacemntTestFixture.h"

#include <limits>

#include "gui/Mask.h"
#include "gui/StdCtrls.h"
#include "settings/IniFiles.h"

using namespace win;
using namespace placement_test;

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
        {"NormPos", "3024,20,3424,320", {624, 20, 1024, 320}},  // off the screen: moved in
        {"NormPos", "-50,-10,1200,900", {0, 0, 1024, 768}},     // larger: shrunk to fit
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
        {"-2147483648,0,2147483647,100", true, 0},  // moved onto the screen
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

}  // namespace
