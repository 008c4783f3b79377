// The placement and the window: the resize hook and system menu, the restored
// state per show command and kind of form, repaints, the placement events,
// MDI children, maximised borders, size limits, default section and locators.

#include "settings/PlacemntTestFixture.h"

#include <memory>

#include "gui/Backend.h"
#include "gui/StdCtrls.h"
#include "settings/AppUtils.h"

using namespace win;
using namespace placement_test;

namespace {

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
