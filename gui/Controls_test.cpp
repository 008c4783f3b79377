#include "gui/Controls.h"

#include <gtest/gtest.h>

#include "gui/ComCtrls.h"
#include "gui/Dialogs.h"
#include "gui/Forms.h"
#include "gui/Input.h"
#include "gui/Mask.h"
#include "gui/StdCtrls.h"

namespace {

class ControlsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Application->Initialize();
        ClearRecordedMessageBoxes();
        form = NewForm<TForm>(nullptr);
    }
    void TearDown() override {
        FreeForm(form);
        ClearRecordedMessageBoxes();
    }
    template <typename T>
    T* Make(TWinControl* parent = nullptr) {
        T* control = new T(form);
        control->SetParent(parent ? parent : form);
        return control;
    }
    TForm* form = nullptr;
};

TEST_F(ControlsTest, CheckBoxClicksToggleAndTellOnClick) {
    auto* box = Make<TCheckBox>();
    int clicks = 0;
    box->OnClick = [&](TObject*) { ++clicks; };
    SendClick(box);
    EXPECT_TRUE(box->Checked());
    SendClick(box);
    EXPECT_FALSE(box->Checked());
    box->SetChecked(true);  // as from code or a restored setting
    EXPECT_EQ(clicks, 3);
    box->SetChecked(true);  // no change, no click
    EXPECT_EQ(clicks, 3);
    box->SetEnabled(false);
    SendClick(box);
    EXPECT_TRUE(box->Checked()) << "a disabled box ignores the user";
    box->SetEnabled(true);
    box->SetAllowGrayed(true);
    box->SetChecked(false);
    SendClick(box);
    EXPECT_EQ(box->State(), cbGrayed);
    SendClick(box);
    EXPECT_EQ(box->State(), cbChecked);
}

TEST_F(ControlsTest, DisabledParentBlocksTheButton) {
    auto* panel = Make<TPanel>();
    auto* button = Make<TButton>(panel);
    int presses = 0;
    button->OnClick = [&](TObject*) { ++presses; };
    SendClick(button);
    panel->SetEnabled(false);
    SendClick(button);
    EXPECT_EQ(presses, 1);
}

TEST_F(ControlsTest, EditTypingHonoursLimitAndReadOnly) {
    auto* edit = Make<TEdit>();
    form->Show();
    int changes = 0;
    edit->OnChange = [&](TObject*) { ++changes; };
    edit->SetMaxLength(5);
    SendChars(edit, "proxy.example");
    EXPECT_EQ(edit->Text(), "proxy");
    SendChars(edit, "\b\b");
    EXPECT_EQ(edit->Text(), "pro");
    SendKeyDown(edit, VK_HOME);
    SendKeyDown(edit, VK_DELETE);
    EXPECT_EQ(edit->Text(), "ro");
    edit->SetReadOnly(true);
    SendChars(edit, "x");
    EXPECT_EQ(edit->Text(), "ro");
    EXPECT_EQ(changes, 8);
    // Assigned text is kept whole (the limit is the user's).
    edit->SetText("a longer text");
    EXPECT_EQ(edit->Text(), "a longer text");
    EXPECT_EQ(form->ActiveControl(), edit) << "typing went to the focused control";
}

TEST_F(ControlsTest, MemoLinesAndText) {
    auto* memo = Make<TMemo>();
    memo->Lines()->Add("");
    EXPECT_EQ(memo->Lines()->Count(), 1);
    EXPECT_EQ(memo->Text(), "");
    memo->Lines()->Clear();
    memo->Lines()->Add("one");
    memo->Lines()->Add("two");
    EXPECT_EQ(memo->Text(), "one\r\ntwo");
    memo->SetText("a\nb\n\rc");
    EXPECT_EQ(memo->Lines()->Count(), 4);
    memo->SetReadOnly(true);
    SendChars(memo, "zz");
    EXPECT_EQ(memo->Lines()->Count(), 4);
}

TEST_F(ControlsTest, DatePickerShowsAndParsesTheShortDateFormat) {
    const String savedFormat = ShortDateFormat();
    const char savedSeparator = DateSeparator();
    SetShortDateFormat("dd/mm/yyyy");
    SetDateSeparator('.');
    auto* picker = Make<TDateTimePicker>();
    EXPECT_EQ(picker->Date(), Date()) << "today at creation";
    picker->SetDate(EncodeDate(2000, 12, 7) + 0.75);
    EXPECT_EQ(picker->Date(), EncodeDate(2000, 12, 7)) << "date only";
    EXPECT_EQ(picker->Text(), "07.12.2000");
    SetDateSeparator('/');
    EXPECT_EQ(picker->Text(), "07/12/2000");
    SetDateSeparator('.');
    picker->SetText(" 01.02.2003 ");
    EXPECT_EQ(picker->Date(), EncodeDate(2003, 2, 1));
    EXPECT_THROW(picker->SetText("31.02.2003"), EConvertError);
    EXPECT_EQ(picker->Date(), EncodeDate(2003, 2, 1)) << "bad text loses nothing";

    // The user's input: a bad date is reported, the date stays.
    SendTextChange(picker, "not a date");
    ASSERT_EQ(RecordedMessageBoxes().size(), 1u);
    EXPECT_EQ(RecordedMessageBoxes()[0].Text, "'not a date' is not a valid date");
    EXPECT_EQ(picker->Date(), EncodeDate(2003, 2, 1));
    int changes = 0;
    picker->OnChange = [&](TObject*) { ++changes; };
    SendDateChange(picker, EncodeDate(2024, 2, 29));
    EXPECT_EQ(picker->Date(), EncodeDate(2024, 2, 29));
    EXPECT_EQ(changes, 1);
    SetShortDateFormat(savedFormat);
    SetDateSeparator(savedSeparator);
}

TEST_F(ControlsTest, TabOrderFollowsCreationUntilSet) {
    auto* group = Make<TGroupBox>();
    auto* a = Make<TEdit>(group);
    auto* b = Make<TEdit>(group);
    auto* c = Make<TMaskEdit>(group);
    EXPECT_EQ(a->TabOrder(), 0);
    EXPECT_EQ(c->TabOrder(), 2);
    c->SetTabOrder(0);
    EXPECT_EQ(group->TabList(), (std::vector<TWinControl*>{c, a, b}));
    b->SetTabOrder(99);
    EXPECT_EQ(b->TabOrder(), 2);
}

// A panel laid over a memo hides it from Tab; the panel's own fields keep
// their tab order, and hiding the panel gives the memo back.
TEST_F(ControlsTest, TabSkipsWhatIsCoveredOrHiddenInTheTabOrder) {
    auto* memo = Make<TMemo>();
    memo->SetBounds(0, 0, 200, 100);
    auto* panel = Make<TPanel>();
    panel->SetBounds(0, 0, 200, 100);
    auto* second = Make<TEdit>(panel);
    auto* first = Make<TEdit>(panel);
    second->SetBounds(0, 30, 100, 21);
    first->SetBounds(0, 0, 100, 21);
    first->SetTabOrder(0);
    auto* button = Make<TButton>();
    button->SetBounds(0, 100, 200, 20);
    form->Show();
    EXPECT_TRUE(memo->Covered());
    EXPECT_FALSE(first->Covered());
    EXPECT_EQ(form->FindNextControl(button, true), first);
    EXPECT_EQ(form->FindNextControl(first, true), second);
    EXPECT_EQ(form->FindNextControl(second, true), button);
    EXPECT_EQ(form->FindNextControl(first, false), button);
    panel->SetVisible(false);
    EXPECT_EQ(form->FindNextControl(button, true), memo);
    EXPECT_EQ(form->FindNextControl(memo, true), button);
    button->SetEnabled(false);
    EXPECT_EQ(form->FindNextControl(memo, true), nullptr);
}

TEST_F(ControlsTest, FreedControlsLeaveTheirParentAndTheFocus) {
    auto* panel = Make<TPanel>();
    auto* edit = Make<TEdit>(panel);
    auto* label = Make<TLabel>(panel);
    edit->SetFocus();
    ASSERT_EQ(form->ActiveControl(), edit);
    EXPECT_EQ(panel->ControlCount(), 2);
    delete edit;
    EXPECT_EQ(form->ActiveControl(), nullptr);
    EXPECT_EQ(panel->ControlCount(), 1);
    // Freeing a parent frees what lies on it.
    const int before = form->ComponentCount();
    delete panel;
    EXPECT_EQ(form->ComponentCount(), before - 2);
    (void)label;
}

TEST_F(ControlsTest, WindowsAreMadeOnDemandParentFirst) {
    auto* panel = Make<TPanel>();
    auto* button = Make<TButton>(panel);
    EXPECT_FALSE(panel->HandleAllocated());
    win::HWND handle = button->Handle();
    EXPECT_TRUE(panel->HandleAllocated());
    EXPECT_EQ(win::GetParent(handle), panel->Handle());
    EXPECT_EQ(TWinControl::FindControl(handle), button);
    button->DestroyHandle();
    EXPECT_FALSE(win::IsWindow(handle));
    EXPECT_NE(button->Handle(), handle) << "a new window on the next request";
}

TEST_F(ControlsTest, ParentLoopsAreRefused) {
    auto* outer = Make<TPanel>();
    auto* inner = Make<TPanel>(outer);
    EXPECT_THROW(outer->SetParent(inner), EInvalidOperation);
    EXPECT_THROW(outer->SetParent(outer), EInvalidOperation);
    EXPECT_EQ(outer->Parent(), form);
}

TEST(FormScaling, LayoutDesignedAt96IsScaledToTheScreen) {
    const win::ScreenMetrics saved = win::GetScreenMetrics();
    win::ScreenMetrics metrics = saved;
    metrics.PixelsPerInch = 120;
    win::SetScreenMetrics(metrics);
    struct TDesigned : TForm {
        explicit TDesigned(TComponent* AOwner) : TForm(AOwner) {
            SetPixelsPerInch(96);
            SetClientSize(288, 224);
            button = new TButton(this);
            button->SetParent(this);
            button->SetBounds(140, 4, 148, 24);
        }
        TButton* button;
    };
    TDesigned* form = NewForm<TDesigned>(nullptr);
    EXPECT_EQ(form->ClientWidth(), 360);
    EXPECT_EQ(form->ClientHeight(), 280);
    EXPECT_EQ(form->button->Left(), 175);
    EXPECT_EQ(form->button->Width(), 185);
    EXPECT_EQ(form->PixelsPerInch(), 120);
    FreeForm(form);
    win::SetScreenMetrics(saved);
}

}  // namespace
