// Typing a date into the picker from the keyboard: digits fill the selected
// field, the arrows and the separator move between fields, Up and Down step.

#include <gtest/gtest.h>

#include <sstream>

#include "gui/ComCtrls.h"
#include "gui/Forms.h"
#include "gui/Input.h"

namespace {

struct DateCase {
    const char* Name;
    const char* Format;
    char Separator;
    const char* Keys;  // characters typed; "<" ">" "^" "v" are Left, Right, Up, Down
    int Year, Month, Day;
    int Part;  // the selected field afterwards
};

class DateTyping : public ::testing::TestWithParam<DateCase> {
  protected:
    void SetUp() override {
        FSavedFormat = ShortDateFormat();
        FSavedSeparator = DateSeparator();
        Application->Initialize();
        form = NewForm<TForm>(nullptr);
        picker = new TDateTimePicker(form);
        picker->SetParent(form);
        form->Show();
    }
    void TearDown() override {
        FreeForm(form);
        SetShortDateFormat(FSavedFormat);
        SetDateSeparator(FSavedSeparator);
    }
    void Type(const std::string& keys) {
        for (char c : keys) {
            switch (c) {
                case '<':
                    SendKeyDown(picker, VK_LEFT);
                    break;
                case '>':
                    SendKeyDown(picker, VK_RIGHT);
                    break;
                case '^':
                    SendKeyDown(picker, VK_UP);
                    break;
                case 'v':
                    SendKeyDown(picker, VK_DOWN);
                    break;
                default:
                    SendChars(picker, std::string_view(&c, 1));
            }
        }
    }
    TForm* form = nullptr;
    TDateTimePicker* picker = nullptr;
    String FSavedFormat;
    char FSavedSeparator = '/';
};

TEST_P(DateTyping, KeysMakeTheDate) {
    const DateCase& c = GetParam();
    SetShortDateFormat(c.Format);
    SetDateSeparator(c.Separator);
    picker->SetDate(EncodeDate(2024, 3, 15));
    int changes = 0;
    picker->OnChange = [&](TObject*) { ++changes; };
    Type(c.Keys);
    // Leaving the field takes a year typed short.
    picker->Perform(win::WM_KILLFOCUS, 0, 0);
    EXPECT_EQ(picker->Date(), EncodeDate(c.Year, c.Month, c.Day)) << picker->Text();
    EXPECT_EQ(picker->SelectedPart(), c.Part);
    EXPECT_EQ(changes > 0, picker->Date() != EncodeDate(2024, 3, 15));
}

const DateCase kDateCases[] = {
    {"full_date_with_separators", "dd/mm/yyyy", '.', "07.12.2000", 2000, 12, 7, 2},
    {"full_date_digits_only", "dd/mm/yyyy", '.', "07122000", 2000, 12, 7, 2},
    {"single_digits_with_separators", "dd/mm/yyyy", '.', "7.3.1999", 1999, 3, 7, 2},
    {"slash_works_as_separator_too", "dd/mm/yyyy", '.', "1/2/2003", 2003, 2, 1, 2},
    {"a_digit_too_big_for_a_tens_place_completes", "dd/mm/yyyy", '.', "45", 2024, 5, 4, 2},
    {"two_digit_year_is_of_the_window", "dd/mm/yyyy", '.', ">>99", 1999, 3, 15, 2},
    {"two_digit_year_after_2000", "dd/mm/yyyy", '.', ">>05", 2005, 3, 15, 2},
    {"day_clamped_to_the_month", "dd/mm/yyyy", '.', "31.02", 2024, 2, 29, 2},
    {"a_whole_date_typed_in_february", "dd/mm/yyyy", '.', ">02<<31.12.2000", 2000, 12, 31, 2},
    {"arrows_choose_the_field", "dd/mm/yyyy", '.', "><>09", 2024, 9, 15, 2},
    {"up_and_down_step_and_wrap", "dd/mm/yyyy", '.', ">^^^^^^^^^^", 2024, 1, 15, 1},
    {"down_wraps_the_day", "dd/mm/yyyy", '.', "01<v", 2024, 3, 31, 0},
    {"month_first_format", "mm/dd/yyyy", '/', "12/07/2000", 2000, 12, 7, 2},
    {"digits_that_make_no_date_change_nothing", "dd/mm/yyyy", '.', "00.00.0000", 2024, 3, 15, 2},
    {"letters_are_ignored", "dd/mm/yyyy", '.', "ab", 2024, 3, 15, 0},
};

INSTANTIATE_TEST_SUITE_P(Table, DateTyping, ::testing::ValuesIn(kDateCases),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
