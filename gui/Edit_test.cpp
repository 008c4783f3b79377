// Editing in the one-line edit fields, as the keyboard does it: selection
// with Shift, replace-on-type, Backspace and Delete on a selection, the
// clipboard, undo; plain and masked fields alike.

#include <gtest/gtest.h>

#include <sstream>

#include "gui/Clipbrd.h"
#include "gui/Forms.h"
#include "gui/Input.h"
#include "gui/Mask.h"
#include "gui/StdCtrls.h"

namespace {

// One step per word: "t=abc" types, "^A" ... "^Z" are control characters,
// BS is Backspace, and a key name (Home End Left Right Del Ins, Back for
// Alt+Backspace) takes modifier prefixes "S-", "C-" and "A-".
void Play(TCustomEdit* edit, const std::string& script) {
    std::istringstream words(script);
    std::string word;
    while (words >> word) {
        if (word.rfind("t=", 0) == 0) {
            SendChars(edit, word.substr(2));
            continue;
        }
        if (word.size() == 2 && word[0] == '^') {
            const char c = static_cast<char>(word[1] - '@');
            SendChars(edit, std::string_view(&c, 1));
            continue;
        }
        if (word == "BS") {
            SendChars(edit, "\b");
            continue;
        }
        TShiftState shift;
        while (word.size() > 2 && word[1] == '-') {
            shift << (word[0] == 'S' ? ssShift : word[0] == 'C' ? ssCtrl : ssAlt);
            word.erase(0, 2);
        }
        const std::map<std::string, win::WORD> keys{
            {"Home", VK_HOME},  {"End", VK_END},    {"Left", VK_LEFT}, {"Right", VK_RIGHT},
            {"Del", VK_DELETE}, {"Ins", VK_INSERT}, {"Back", VK_BACK}};
        ASSERT_TRUE(keys.count(word)) << word;
        SendKeyDown(edit, keys.at(word), shift);
    }
}

struct EditCase {
    const char* Name;
    const char* Mask;  // empty: a plain edit
    const char* Start;
    const char* Clipboard;
    const char* Script;
    const char* Text;  // Text afterwards
    int SelStart;
    int SelLength;
    const char* ClipboardAfter;
};

class EditKeys : public ::testing::TestWithParam<EditCase> {};

TEST_P(EditKeys, TextSelectionAndClipboardFollowTheKeys) {
    const EditCase& c = GetParam();
    Application->Initialize();
    TForm* form = NewForm<TForm>(nullptr);
    TCustomEdit* edit;
    if (*c.Mask) {
        auto* masked = new TMaskEdit(form);
        masked->SetEditMask(c.Mask);
        edit = masked;
    } else {
        edit = new TEdit(form);
    }
    edit->SetParent(form);
    form->Show();
    edit->SetText(c.Start);
    edit->SetSelStart(static_cast<int>(String(c.Start).size()));
    Clipboard()->SetAsText(c.Clipboard);
    // OnChange tells every change of the text and nothing else.
    String seen = edit->Text();
    int changes = 0;
    int missed = 0;
    edit->OnChange = [&](TObject*) {
        ++changes;
        missed += edit->Text() == seen;
        seen = edit->Text();
    };
    Play(edit, c.Script);
    EXPECT_EQ(edit->Text(), c.Text);
    EXPECT_EQ(edit->SelStart(), c.SelStart);
    EXPECT_EQ(edit->SelLength(), c.SelLength);
    EXPECT_EQ(Clipboard()->AsText(), c.ClipboardAfter);
    EXPECT_EQ(missed, 0) << "OnChange without a change";
    EXPECT_EQ(seen, edit->Text()) << "a change without OnChange";
    FreeForm(form);
}

const EditCase kEditCases[] = {
    // The selection grows from its anchor: Shift with Home, End, the arrows, Ctrl for words.
    {"shift_home_then_type_replaces", "", "127.0.0.1", "", "S-Home t=x", "x", 1, 0, ""},
    {"shift_left_twice", "", "127.0.0.1", "", "S-Left S-Left", "127.0.0.1", 7, 2, ""},
    {"shift_right_shrinks_from_the_caret_side", "", "127.0.0.1", "", "S-Left S-Left S-Right",
     "127.0.0.1", 8, 1, ""},
    {"shift_end_from_home", "", "abc", "", "Home Right S-End", "abc", 1, 2, ""},
    {"anchor_kept_across_home", "", "abcdef", "", "Left Left S-Right S-Home", "abcdef", 0, 4, ""},
    {"left_collapses_to_start", "", "abcdef", "", "S-Home Left", "abcdef", 0, 0, ""},
    {"right_collapses_to_end", "", "abcdef", "", "Home S-Right S-Right Right", "abcdef", 2, 0, ""},
    {"ctrl_moves_by_words", "", "a bc def", "", "Home C-Right C-Right C-S-Left", "a bc def", 2, 3,
     ""},
    // Typing, Backspace and Delete act on the whole selection.
    {"select_all_then_type", "", "127.0.0.1:8080", "", "^A t=127.0.0.1", "127.0.0.1", 9, 0, ""},
    {"select_all_type_twice", "", "a", "", "^A t=xy ^A t=z", "z", 1, 0, ""},
    {"backspace_on_selection", "", "127.0.0.1", "", "^A BS", "", 0, 0, ""},
    {"delete_on_selection", "", "127.0.0.1", "", "Home S-Right S-Right S-Right S-Right Del",
     "0.0.1", 0, 0, ""},
    {"delete_one_after_caret", "", "abc", "", "Home Del", "bc", 0, 0, ""},
    {"backspace_at_start_does_nothing", "", "abc", "", "Home BS", "abc", 0, 0, ""},
    // The clipboard, with its keys and their older spellings.
    {"cut_and_paste_back", "", "abc", "", "^A ^X ^V ^V", "abcabc", 6, 0, "abc"},
    {"copy_keeps_the_text", "", "abc", "", "S-Left S-Left ^C End ^V", "abcbc", 5, 0, "bc"},
    {"ctrl_insert_shift_insert_shift_delete", "", "abc", "zz", "Home S-Right C-Ins S-Del S-Ins",
     "abc", 1, 0, "a"},
    {"paste_replaces_the_selection", "", "127.0.0.1", "10.0.0.2:8080", "^A ^V", "10.0.0.2:8080", 13,
     0, "10.0.0.2:8080"},
    {"paste_takes_the_first_line", "", "", "host\r\nsecond", "^V", "host", 4, 0, "host\r\nsecond"},
    // Undo puts back the last edit (a run of typing is one); a second undo redoes.
    {"undo_a_run_of_typing", "", "ab", "", "t=cde ^Z", "ab", 2, 0, ""},
    {"undo_twice_redoes", "", "ab", "", "t=cde ^Z ^Z", "abcde", 5, 0, ""},
    {"undo_a_replacement", "", "old", "", "^A t=n ^Z", "old", 0, 3, ""},
    {"alt_backspace_undoes", "", "abc", "", "BS A-Back", "abc", 3, 0, ""},
    // The masked field: the same keys, under the mask.
    {"mask_select_all_then_type", "999;1;_", "20", "", "^A t=5", "5  ", 1, 0, ""},
    {"mask_backspace_on_selection", "999;1;_", "20", "", "^A BS", "   ", 0, 0, ""},
    {"mask_shift_home_and_type", "9999;1;_", "8080", "", "S-Home t=31", "31  ", 2, 0, ""},
    {"mask_refused_key_keeps_selection", "999;1;_", "20", "", "^A t=x", "20 ", 0, 3, ""},
    {"mask_paste_skips_refused", "999;1;_", "20", "9x1", "^A ^V", "91 ", 2, 0, "9x1"},
    {"mask_delete_in_the_middle", "999;1;_", "123", "", "Home Right Del", "1 3", 1, 0, ""},
    {"mask_undo", "999;1;_", "20", "", "^A t=7 ^Z", "20 ", 0, 3, ""},
};

INSTANTIATE_TEST_SUITE_P(Table, EditKeys, ::testing::ValuesIn(kEditCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(EditLimits, PasteAndTypingStopAtTheLimitAndReadOnlyRefusesEdits) {
    Application->Initialize();
    TForm* form = NewForm<TForm>(nullptr);
    auto* edit = new TEdit(form);
    edit->SetParent(form);
    form->Show();
    edit->SetMaxLength(5);
    edit->SetText("abc");
    edit->SetSelStart(3);
    Clipboard()->SetAsText("12345");
    Play(edit, "^V");
    EXPECT_EQ(edit->Text(), "abc12") << "cut to the room left";
    Play(edit, "t=z");
    EXPECT_EQ(edit->Text(), "abc12") << "full";
    Play(edit, "S-Left t=z");
    EXPECT_EQ(edit->Text(), "abc1z") << "a selection makes room";
    edit->SetReadOnly(true);
    Play(edit, "^A ^X BS Del ^V t=q ^Z");
    EXPECT_EQ(edit->Text(), "abc1z");
    EXPECT_EQ(edit->SelLength(), 5) << "selecting still works";
    Play(edit, "^C");
    EXPECT_EQ(Clipboard()->AsText(), "abc1z") << "and copying";
    edit->SetReadOnly(false);
    edit->SetText("new");
    EXPECT_FALSE(edit->CanUndo()) << "assigned text starts afresh";
    FreeForm(form);
}

}  // namespace
