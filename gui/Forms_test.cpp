#include "gui/Forms.h"

#include <gtest/gtest.h>

#include "gui/Backend.h"
#include "gui/ComCtrls.h"
#include "gui/Dialogs.h"
#include "gui/Input.h"
#include "gui/Mask.h"
#include "gui/StdCtrls.h"
#include "runtime/ExceptionHook.h"
#include "runtime/TypInfo.h"

namespace {

std::vector<std::string>* Journal = nullptr;

void Note(const std::string& entry) {
    if (Journal)
        Journal->push_back(entry);
}

// A component that notes whether it was created under the loading state and
// when its Loaded runs.
class TProbe : public TComponent {
  public:
    explicit TProbe(TComponent* AOwner) : TComponent(AOwner) {}
    void Loaded() override {
        TComponent::Loaded();
        Note("probe loaded, owner loading=" +
             std::to_string(Owner()->ComponentState().Contains(csLoading)));
    }
};

// The layout of a small window like the program's: a status bar and a
// button panel at the bottom, a text area filling the rest, and a settings
// panel lying over it.
class TDemoForm : public TForm {
  public:
    explicit TDemoForm(TComponent* AOwner) : TForm(AOwner) {
        Note("layout, loading=" + std::to_string(ComponentState().Contains(csLoading)));
        SetBorderStyle(bsSingle);
        SetBorderIcons(TBorderIcons{biSystemMenu, biMinimize});
        SetPosition(poScreenCenter);
        SetCaption("Demo");
        SetClientSize(287, 225);
        probe = new TProbe(this);
        Note("probe created, loading=" +
             std::to_string(probe->ComponentState().Contains(csLoading)));
        sb = new TStatusBar(this);
        sb->SetParent(this);
        sb->SetBounds(0, 206, 287, 19);
        sb->SetSimplePanel(true);
        Panel2 = new TPanel(this);
        Panel2->SetParent(this);
        Panel2->SetBounds(0, 178, 287, 28);
        Panel2->SetAlign(alBottom);
        Panel2->SetBevelOuter(bvNone);
        Button1 = new TButton(this);
        Button1->SetParent(Panel2);
        Button1->SetBounds(140, 3, 147, 24);
        Button1->SetCaption("Go");
        Memo2 = new TMemo(this);
        Memo2->SetParent(this);
        Memo2->SetAlign(alClient);
        Memo2->SetReadOnly(true);
        MainMenu1 = new TMainMenu(this);
        N1 = new TMenuItem(this);
        N1->SetCaption("&File");
        N4 = new TMenuItem(this);
        N4->SetCaption("&Settings...");
        N4->SetChecked(true);
        N2 = new TMenuItem(this);
        N2->SetCaption("E&xit");
        MainMenu1->Items()->Add(N1);
        N1->Add(N4);
        N1->Add(N2);
        SetMenu(MainMenu1);
        pSet = new TPanel(this);
        pSet->SetParent(this);
        pSet->SetAlign(alClient);
        pSet->SetBevelInner(bvLowered);
        pSet->SetVisible(false);
        GroupBox2 = new TGroupBox(this);
        GroupBox2->SetParent(pSet);
        GroupBox2->SetHeight(79);
        GroupBox2->SetAlign(alTop);
        GroupBox1 = new TGroupBox(this);
        GroupBox1->SetParent(pSet);
        GroupBox1->SetBounds(2, 81, 283, 65);
        GroupBox1->SetAlign(alTop);
        edtTimeOut = new TMaskEdit(this);
        edtTimeOut->SetParent(GroupBox2);
        edtTimeOut->SetBounds(172, 40, 41, 21);
        edtTimeOut->SetEditMask("999;1;_");
        edtTimeOut->SetText("20 ");
        cbxProxy = new TCheckBox(this);
        cbxProxy->SetParent(GroupBox1);
        OnCreate = [this](TObject*) {
            Note("OnCreate, loading=" + std::to_string(ComponentState().Contains(csLoading)));
            N4->SetChecked(false);
        };
        N4->OnClick = [this](TObject*) {
            N4->SetChecked(!N4->Checked());
            pSet->SetVisible(N4->Checked());
        };
        N2->OnClick = [this](TObject*) { Close(); };
    }
    void Loaded() override {
        TForm::Loaded();
        Note("form loaded");
    }

    TProbe* probe;
    TStatusBar* sb;
    TPanel* Panel2;
    TButton* Button1;
    TMemo* Memo2;
    TMainMenu* MainMenu1;
    TMenuItem *N1, *N4, *N2;
    TPanel* pSet;
    TGroupBox *GroupBox2, *GroupBox1;
    TMaskEdit* edtTimeOut;
    TCheckBox* cbxProxy;
};

class FormsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Journal = &journal;
        Application->Initialize();
        Application->SetTitle("Rates");
        ClearRecordedMessageBoxes();
    }
    void TearDown() override {
        Application->DoneApplication();
        Application->OnException = nullptr;
        Journal = nullptr;
        ClearRecordedMessageBoxes();
    }
    std::vector<std::string> journal;
};

TEST_F(FormsTest, LayoutLoadsThenEachLoadedThenOnCreate) {
    TDemoForm* form = nullptr;
    Application->CreateForm(form);
    EXPECT_EQ(journal, (std::vector<std::string>{"layout, loading=1", "probe created, loading=1",
                                                 "form loaded", "probe loaded, owner loading=0",
                                                 "OnCreate, loading=0"}));
    EXPECT_EQ(Application->MainForm(), form);
    EXPECT_FALSE(form->N4->Checked()) << "OnCreate cleared the layout's check mark";
    EXPECT_FALSE(form->ComponentState().Contains(csLoading));
    EXPECT_FALSE(form->sb->ComponentState().Contains(csLoading));
}

TEST_F(FormsTest, AlignedControlsShareTheClientArea) {
    TDemoForm* form = nullptr;
    Application->CreateForm(form);
    ASSERT_EQ(form->ClientWidth(), 287);
    ASSERT_EQ(form->ClientHeight(), 225);
    auto bounds = [](TControl* c) {
        return std::vector<int>{c->Left(), c->Top(), c->Width(), c->Height()};
    };
    // The status bar at the very bottom, the button panel above it, the text
    // area filling what is left above both.
    EXPECT_EQ(bounds(form->sb), (std::vector<int>{0, 206, 287, 19}));
    EXPECT_EQ(bounds(form->Panel2), (std::vector<int>{0, 178, 287, 28}));
    EXPECT_EQ(bounds(form->Memo2), (std::vector<int>{0, 0, 287, 178}));
    EXPECT_EQ(bounds(form->Button1), (std::vector<int>{140, 3, 147, 24}));

    // The settings panel lies exactly over the text area; inside it, the
    // group boxes stack from the top within the two bevels.
    SendMenuCommand(form->N4);
    EXPECT_TRUE(form->pSet->Visible());
    EXPECT_EQ(bounds(form->pSet), bounds(form->Memo2));
    EXPECT_EQ(bounds(form->GroupBox2), (std::vector<int>{2, 2, 283, 79}));
    EXPECT_EQ(bounds(form->GroupBox1), (std::vector<int>{2, 81, 283, 65}));
    EXPECT_EQ(bounds(form->Memo2), (std::vector<int>{0, 0, 287, 178}));

    // A taller form gives the extra height to the client-aligned controls only.
    form->SetClientHeight(300);
    EXPECT_EQ(bounds(form->sb), (std::vector<int>{0, 281, 287, 19}));
    EXPECT_EQ(bounds(form->Panel2), (std::vector<int>{0, 253, 287, 28}));
    EXPECT_EQ(bounds(form->Memo2), (std::vector<int>{0, 0, 287, 253}));
    EXPECT_EQ(bounds(form->pSet), (std::vector<int>{0, 0, 287, 253}));

    // A bottom control made later goes above the ones already there.
    TPanel* later = new TPanel(form);
    later->SetHeight(10);
    later->SetParent(form);
    later->SetAlign(alBottom);
    EXPECT_EQ(bounds(later), (std::vector<int>{0, 243, 287, 10}));
    EXPECT_EQ(bounds(form->Memo2), (std::vector<int>{0, 0, 287, 243}));
    // Hiding an aligned control gives its room back.
    later->Hide();
    EXPECT_EQ(bounds(form->Memo2), (std::vector<int>{0, 0, 287, 253}));
}

TEST_F(FormsTest, MenuCheckMarkFollowsTheClicks) {
    TDemoForm* form = nullptr;
    Application->CreateForm(form);
    int menuChanges = 0;
    form->MainMenu1->OnChange = [&](TObject*) { ++menuChanges; };
    EXPECT_FALSE(form->N4->Checked());
    SendMenuCommand(form->N4);
    EXPECT_TRUE(form->N4->Checked());
    EXPECT_TRUE(form->pSet->Visible());
    SendMenuCommand(form->N4);
    EXPECT_FALSE(form->N4->Checked());
    EXPECT_FALSE(form->pSet->Visible());
    EXPECT_EQ(menuChanges, 2);
    // A disabled item (or an item under a disabled one) ignores the choice.
    form->N1->SetEnabled(false);
    SendMenuCommand(form->N4);
    EXPECT_FALSE(form->N4->Checked());
    form->N1->SetEnabled(true);
    form->N4->SetEnabled(false);
    SendMenuCommand(form->N4);
    EXPECT_FALSE(form->N4->Checked());
}

TEST_F(FormsTest, MenuBarKeepsTheClientAreaWhenItGainsItems) {
    TForm* form = NewForm<TForm>(nullptr);
    form->SetBorderStyle(bsSingle);
    form->SetClientSize(287, 225);
    const int height = form->Height();
    TMainMenu* menu = new TMainMenu(form);
    form->SetMenu(menu);
    EXPECT_EQ(form->Height(), height) << "an empty menu shows no bar";
    TMenuItem* file = new TMenuItem(form);
    file->SetCaption("&File");
    menu->Items()->Add(file);
    EXPECT_EQ(form->ClientHeight(), 225);
    EXPECT_EQ(form->Height(), height + win::GetSystemMetrics(win::SM_CYMENU));
    delete menu;
    EXPECT_EQ(form->Menu(), nullptr);
    EXPECT_EQ(form->ClientHeight(), 225);
    delete file;
    FreeForm(form);
}

TEST(MenuText, AcceleratorsAndSeparators) {
    EXPECT_EQ(StripHotkey("&Файл"_cp), String("Файл"_cp));
    EXPECT_EQ(GetHotkey("&Файл"_cp), "Ф"_cp.view()[0]);
    EXPECT_EQ(StripHotkey("Save && Exit"), "Save & Exit");
    EXPECT_EQ(GetHotkey("Save && E&xit"), 'x');
    EXPECT_EQ(GetHotkey("None"), 0);
    TMenuItem line(nullptr);
    line.SetCaption("-");
    EXPECT_TRUE(line.IsLine());
}

TEST_F(FormsTest, CloseQueryThatRefusesKeepsTheFormAndTheApplication) {
    TDemoForm* form = nullptr;
    Application->CreateForm(form);
    form->Show();
    bool allow = false;
    int closes = 0;
    form->OnCloseQuery = [&](TObject*, bool& canClose) {
        journal.push_back("query");
        canClose = allow;
    };
    form->OnClose = [&](TObject*, TCloseAction&) { ++closes; };
    SendCloseRequest(form);
    SendMenuCommand(form->N2);
    EXPECT_EQ(closes, 0);
    EXPECT_TRUE(form->Visible());
    EXPECT_FALSE(Application->Terminated());
    allow = true;
    SendCloseRequest(form);
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(Application->Terminated()) << "closing the main form ends the application";
}

TEST_F(FormsTest, CloseActionsOfOtherForms) {
    TDemoForm* mainForm = nullptr;
    Application->CreateForm(mainForm);
    TForm* second = NewForm<TForm>(Application);
    second->Show();
    second->Close();
    EXPECT_FALSE(second->Visible()) << "the default action hides";
    second->Show();
    second->OnClose = [](TObject*, TCloseAction& action) { action = caFree; };
    bool destroyed = false;
    second->OnDestroy = [&](TObject*) { destroyed = true; };
    second->Close();
    EXPECT_FALSE(destroyed) << "freed on a later turn of the loop";
    win::ProcessMessages();
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(Screen->FormCount(), 1);
    EXPECT_FALSE(Application->Terminated());
}

TEST_F(FormsTest, HandlerExceptionsReachTheApplicationHandler) {
    TDemoForm* form = nullptr;
    Application->CreateForm(form);
    form->Button1->OnClick = [](TObject*) { throw Exception(String("Сбой"_cp)); };
    SendClick(form->Button1);
    ASSERT_EQ(RecordedMessageBoxes().size(), 1u);
    EXPECT_EQ(RecordedMessageBoxes()[0].Text, String("Сбой"_cp));
    EXPECT_EQ(RecordedMessageBoxes()[0].Caption, "Rates");
    EXPECT_EQ(RecordedMessageBoxes()[0].Flags & 0xF0, win::MB_ICONSTOP);

    // The silent exception shows nothing; a menu handler's and a form
    // event's exceptions are reported the same way.
    form->Button1->OnClick = [](TObject*) { Abort(); };
    SendClick(form->Button1);
    EXPECT_EQ(RecordedMessageBoxes().size(), 1u);
    form->N2->OnClick = [](TObject*) {
        throw EConvertError(String("'x' is not a valid integer value"));
    };
    SendMenuCommand(form->N2);
    ASSERT_EQ(RecordedMessageBoxes().size(), 2u);
    EXPECT_EQ(RecordedMessageBoxes()[1].Text, "'x' is not a valid integer value");
    form->OnShow = [](TObject*) { throw std::runtime_error("show failed"); };
    form->Show();
    ASSERT_EQ(RecordedMessageBoxes().size(), 3u);
    EXPECT_EQ(RecordedMessageBoxes()[2].Text, "show failed");
    EXPECT_TRUE(form->Visible()) << "the form is shown all the same";

    // Lower layers hand theirs over through the runtime's hook.
    HandleApplicationException(std::make_exception_ptr(Exception(String("from a timer"))));
    ASSERT_EQ(RecordedMessageBoxes().size(), 4u);
    EXPECT_EQ(RecordedMessageBoxes()[3].Text, "from a timer");

    // OnException replaces the box.
    std::vector<TObject*> senders;
    Application->OnException = [&](TObject* sender, std::exception_ptr) {
        senders.push_back(sender);
    };
    form->Button1->OnClick = [](TObject*) { throw Exception(String("quiet")); };
    SendClick(form->Button1);
    EXPECT_EQ(RecordedMessageBoxes().size(), 4u);
    EXPECT_EQ(senders.size(), 1u);
}

TEST_F(FormsTest, OnCreateExceptionIsReportedAndTheFormLives) {
    struct TFailing : public TForm {
        explicit TFailing(TComponent* AOwner) : TForm(AOwner) {
            OnCreate = [](TObject*) { throw Exception(String("no layout")); };
        }
    };
    TFailing* form = nullptr;
    Application->CreateForm(form);
    ASSERT_NE(form, nullptr);
    ASSERT_EQ(RecordedMessageBoxes().size(), 1u);
    EXPECT_EQ(RecordedMessageBoxes()[0].Text, "no layout");
}

TEST_F(FormsTest, MessageBoxesAreRecordedWithTheTitle) {
    std::vector<String> heard;
    SetMessageBoxListener([&](const TMessageBoxRecord& r) { heard.push_back(r.Text); });
    ShowMessage("one\r\ntwo");
    EXPECT_EQ(Application->MessageBox("three", "Other", win::MB_OK), win::IDOK);
    SetMessageBoxListener(nullptr);
    ASSERT_EQ(RecordedMessageBoxes().size(), 2u);
    EXPECT_EQ(RecordedMessageBoxes()[0].Text, "one\r\ntwo");
    EXPECT_EQ(RecordedMessageBoxes()[0].Caption, "Rates");
    EXPECT_EQ(RecordedMessageBoxes()[1].Caption, "Other");
    EXPECT_EQ(heard, (std::vector<String>{"one\r\ntwo", "three"}));
}

TEST_F(FormsTest, ShowCentresOnTheScreenAfterOnShowAndKeepsThePlacementInStep) {
    TDemoForm* form = nullptr;
    Application->CreateForm(form);
    std::vector<int> leftSeenByOnShow;
    form->OnShow = [&](TObject*) { leftSeenByOnShow.push_back(form->Left()); };
    form->Show();
    ASSERT_EQ(leftSeenByOnShow.size(), 1u);
    EXPECT_EQ(form->Left(), (Screen->Width() - form->Width()) / 2);
    EXPECT_EQ(form->Top(), (Screen->Height() - form->Height()) / 2);
    win::WINDOWPLACEMENT wp;
    ASSERT_TRUE(win::GetWindowPlacement(form->Handle(), &wp));
    EXPECT_EQ(wp.rcNormalPosition.left, form->Left());
    EXPECT_EQ(wp.rcNormalPosition.right - wp.rcNormalPosition.left, form->Width());
    EXPECT_TRUE(win::IsWindowVisible(form->Handle()));

    // A placement applied to the window shows in the form's bounds.
    wp.rcNormalPosition = win::RECT{10, 20, 10 + form->Width(), 20 + form->Height()};
    wp.showCmd = win::SW_SHOWNORMAL;
    ASSERT_TRUE(win::SetWindowPlacement(form->Handle(), &wp));
    EXPECT_EQ(form->Left(), 10);
    EXPECT_EQ(form->Top(), 20);
    EXPECT_EQ(form->ClientWidth(), 287);
}

TEST_F(FormsTest, WindowProcedureCanBeReplacedThroughTheWindow) {
    TDemoForm* form = nullptr;
    Application->CreateForm(form);
    static std::vector<win::UINT>* seen = nullptr;
    static win::WNDPROC previous = nullptr;
    std::vector<win::UINT> messages;
    seen = &messages;
    win::HWND handle = form->Handle();
    previous = reinterpret_cast<win::WNDPROC>(
        win::SetWindowLongPtr(handle, win::GWL_WNDPROC,
                              reinterpret_cast<win::LONG_PTR>(
                                  +[](win::HWND h, win::UINT m, win::WPARAM w, win::LPARAM l) {
                                      seen->push_back(m);
                                      if (m == win::WM_CLOSE)
                                          return win::LRESULT{0};  // swallowed
                                      return win::CallWindowProc(previous, h, m, w, l);
                                  })));
    bool closed = false;
    form->OnClose = [&](TObject*, TCloseAction&) { closed = true; };
    SendCloseRequest(form);
    EXPECT_FALSE(closed) << "the hook swallowed WM_CLOSE";
    SendMenuCommand(form->N4);
    EXPECT_TRUE(form->N4->Checked()) << "other messages pass through to the form";
    win::SetWindowLongPtr(handle, win::GWL_WNDPROC, reinterpret_cast<win::LONG_PTR>(previous));
    SendCloseRequest(form);
    EXPECT_TRUE(closed);
    EXPECT_EQ(messages, (std::vector<win::UINT>{win::WM_CLOSE, win::WM_COMMAND}));
    seen = nullptr;
}

TEST_F(FormsTest, RunDeliversMessagesUntilTheMainFormCloses) {
    TDemoForm* form = nullptr;
    Application->CreateForm(form);
    bool destroyed = false;
    form->OnDestroy = [&](TObject*) { destroyed = true; };
    // A timer on the form's window presses the menu's exit item.
    static TDemoForm* target = nullptr;
    target = form;
    win::SetTimer(
        form->Handle(), 7, 10,
        +[](win::HWND, win::UINT, win::UINT_PTR, win::DWORD) { SendMenuCommand(target->N2); });
    Application->Run();
    EXPECT_TRUE(Application->Terminated());
    EXPECT_TRUE(destroyed) << "Run frees the forms when it ends";
    EXPECT_EQ(Application->MainForm(), nullptr);
    EXPECT_EQ(Screen->FormCount(), 0);
    target = nullptr;
}

TEST_F(FormsTest, ScreenListsFormsAndDataModules) {
    TDemoForm* form = nullptr;
    Application->CreateForm(form);
    form->SetName("Form1");
    TDataModule* module = NewForm<TDataModule>(Application);
    module->SetName("DataModule1");
    ASSERT_EQ(Screen->FormCount(), 1);
    EXPECT_EQ(Screen->Forms(0), form);
    ASSERT_EQ(Screen->DataModuleCount(), 1);
    EXPECT_EQ(Screen->DataModules(0)->Name(), "DataModule1");
    EXPECT_EQ(Screen->Width(), 1024);
    EXPECT_EQ(Screen->Height(), 768);
    EXPECT_EQ(Screen->PixelsPerInch(), 96);
    EXPECT_THROW(Screen->Forms(1), EListError);
    Screen->SetCursor(crHourGlass);
    EXPECT_EQ(Screen->Cursor(), crHourGlass);
    Screen->SetCursor(crDefault);
}

TEST_F(FormsTest, ApplicationMinimisesThroughItsWindow) {
    TDemoForm* form = nullptr;
    Application->CreateForm(form);
    form->Show();
    win::PostMessage(Application->Handle(), win::WM_SYSCOMMAND, win::SC_MINIMIZE, 0);
    win::ProcessMessages();
    EXPECT_TRUE(Application->Minimized());
    EXPECT_TRUE(win::IsIconic(Application->Handle()));
    Application->Restore();
    EXPECT_FALSE(win::IsIconic(Application->Handle()));
}

TEST_F(FormsTest, WindowStateIsRecordedWhileHiddenAndAppliedWhenShown) {
    TDemoForm* form = nullptr;
    Application->CreateForm(form);
    form->SetWindowState(wsMaximized);
    EXPECT_FALSE(win::IsZoomed(form->Handle()));
    form->Show();
    EXPECT_TRUE(win::IsZoomed(form->Handle()));
    form->SetWindowState(wsNormal);
    EXPECT_FALSE(win::IsZoomed(form->Handle()));
}

TEST_F(FormsTest, ChangingTheBorderKeepsAShownWindowShown) {
    TDemoForm* form = nullptr;
    Application->CreateForm(form);
    form->Show();
    form->SetBorderIcons(TBorderIcons{biSystemMenu});
    form->SetBorderStyle(bsSizeable);
    EXPECT_TRUE(win::IsWindowVisible(form->Handle()));
    EXPECT_NE(win::GetWindowLongPtr(form->Handle(), win::GWL_STYLE) & win::WS_THICKFRAME, 0);
    form->Hide();
    form->SetBorderStyle(bsSingle);
    EXPECT_FALSE(win::IsWindowVisible(form->Handle()));
}

TEST_F(FormsTest, PublishedPropertiesAreFoundByName) {
    TDemoForm* form = nullptr;
    Application->CreateForm(form);
    const TPropInfo* checked = GetPropInfo(form->cbxProxy, "checked");
    ASSERT_NE(checked, nullptr);
    EXPECT_EQ(checked->Name(), "Checked");
    EXPECT_EQ(checked->Kind(), tkEnumeration);
    checked->SetOrd(form->cbxProxy, 1);
    EXPECT_TRUE(form->cbxProxy->Checked());
    const TPropInfo* text = GetPropInfo(form->edtTimeOut, "Text");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->Kind(), tkLString);
    EXPECT_EQ(text->GetStr(form->edtTimeOut), "20 ");
    text->SetStr(form->edtTimeOut, "5");
    EXPECT_EQ(form->edtTimeOut->Text(), "5  ");
    // Events are listed as methods, so a property store can leave them out.
    const TPropInfo* onClick = GetPropInfo(form->Button1, "OnClick");
    ASSERT_NE(onClick, nullptr);
    EXPECT_EQ(onClick->Kind(), tkMethod);
    const TPropInfo* position = GetPropInfo(form, "Position");
    ASSERT_NE(position, nullptr);
    EXPECT_EQ(GetEnumName(position->PropType(), position->GetOrd(form)), "poScreenCenter");
    const TPropInfo* icons = GetPropInfo(form, "BorderIcons");
    ASSERT_NE(icons, nullptr);
    EXPECT_EQ(icons->Kind(), tkSet);
    const TPropInfo* font = GetPropInfo(form->Memo2, "Font");
    ASSERT_NE(font, nullptr);
    TObject* fontObject = font->GetObject(form->Memo2);
    const TPropInfo* color = GetPropInfo(fontObject, "Color");
    ASSERT_NE(color, nullptr);
    color->SetOrd(fontObject, clNavy);
    EXPECT_EQ(form->Memo2->Font()->Color(), clNavy);
}

// A backend that records what the framework tells it.
class TRecordingBackend : public TGuiBackend {
  public:
    struct TPeer : TControlPeer {
        TPeer(TRecordingBackend& b, TControl* c) : backend(b), control(c) {}
        void Changed(TControlChange what) override {
            backend.changes.push_back(control->ClassName() + ":" + std::to_string(what));
        }
        TRecordingBackend& backend;
        TControl* control;
    };
    std::unique_ptr<TControlPeer> CreatePeer(TControl* control) override {
        created.push_back(control->ClassName());
        return std::make_unique<TPeer>(*this, control);
    }
    int ShowMessageBox(const String& text, const String&, win::UINT) override {
        shown.push_back(text);
        return win::IDOK;
    }
    void CursorChanged(TCursor cursor) override { cursors.push_back(cursor); }
    void ApplicationMinimized(bool) override {}
    void ProcessEvents() override { win::ProcessMessages(); }
    void WaitForEvents() override { win::WaitMessage(-1); }

    std::vector<String> created;
    std::vector<String> changes;
    std::vector<String> shown;
    std::vector<TCursor> cursors;
};

TEST_F(FormsTest, BackendGetsPeersWhenTheFormIsShownAndHearsChanges) {
    TRecordingBackend backend;
    SetGuiBackend(&backend);
    TDemoForm* form = nullptr;
    Application->CreateForm(form);
    EXPECT_TRUE(backend.created.empty());
    form->Show();
    ASSERT_FALSE(backend.created.empty());
    EXPECT_EQ(backend.created.front(), "TForm") << "the form before its children";
    EXPECT_EQ(std::count(backend.created.begin(), backend.created.end(), "TGroupBox"), 2);
    backend.changes.clear();
    form->N4->SetChecked(true);
    form->sb->SetSimpleText("Busy");
    Screen->SetCursor(crHourGlass);
    Screen->SetCursor(crDefault);
    ShowMessage("shown");
    SetGuiBackend(nullptr);
    EXPECT_EQ(backend.changes, (std::vector<String>{"TForm:" + std::to_string(ccMenu),
                                                    "TStatusBar:" + std::to_string(ccState)}));
    EXPECT_EQ(backend.cursors, (std::vector<TCursor>{crHourGlass, crDefault}));
    EXPECT_EQ(backend.shown, (std::vector<String>{"shown"}));
    ASSERT_EQ(RecordedMessageBoxes().size(), 1u) << "recorded with a backend too";
    Application->DoneApplication();  // the peers go before the backend
}

}  // namespace
