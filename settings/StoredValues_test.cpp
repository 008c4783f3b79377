#include <gtest/gtest.h>
#include <cctype>

#include <string>
#include <vector>

#include "gui/StdCtrls.h"
#include "settings/Placemnt.h"
#include "settings/Registry.h"
#include "settings/StoredValues.h"
#include "testing/TestHome.h"

namespace {

class TValuesForm : public TForm {
  public:
    explicit TValuesForm(TComponent* AOwner) : TForm(AOwner) {
        edtServer = new TEdit(this);
        edtServer->SetName("edtServer");
        edtServer->SetParent(this);
        Storage = new TFormStorage(this);
        Storage->SetUseRegistry(true);
        Storage->SetOptions(TPlacementOptions{});
        Storage->StoredProps()->Add("edtServer.Text");
    }
    String ClassName() const override { return "TValuesForm"; }
    TStoredValue* Value(const char* name) {
        TStoredValue* item = Storage->StoredValues()->Add();
        item->SetName(name);
        return item;
    }
    TEdit* edtServer;
    TFormStorage* Storage;
};

class StoredValues : public TestHome {
  protected:
    static String Stored(const char* name) {
        TRegIniFile store("Software\\kurs_settings_test");
        return store.ReadString("TValuesForm", name, "<none>");
    }
};

TEST_F(StoredValues, AreWrittenLastAndComeBackAsText) {
    auto* form = NewForm<TValuesForm>(Application);
    form->Value("Empty");
    form->Value("Count")->SetValue(42);
    TStoredValue* replaced = form->Value("Replaced");
    replaced->SetValue(1);
    replaced->OnSave = [](TStoredValue*, Variant& v) { v = String("from the handler"); };
    form->Show();
    form->Close();
    FreeForm(form);
    EXPECT_EQ(RegistryText(),
              "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software]\n\n"
              "[HKEY_CURRENT_USER\\Software\\kurs_settings_test]\n\n"
              "[HKEY_CURRENT_USER\\Software\\kurs_settings_test\\TValuesForm]\n"
              "\"FormVersion\"=\"0\"\n\"edtServer_Text\"=\"\"\n\"Empty\"=\"\"\n"
              "\"Count\"=\"42\"\n\"Replaced\"=\"from the handler\"\n\n");

    form = NewForm<TValuesForm>(Application);
    TStoredValue* count = form->Value("Count");
    count->SetValue(0);
    TStoredValue* converted = form->Value("Replaced");
    converted->OnRestore = [](TStoredValue*, Variant& v) {
        v = static_cast<int>(v.AsString().size());
    };
    form->Show();
    EXPECT_EQ(count->Value().VarType(), varString);
    EXPECT_EQ(count->Value().AsString(), "42");
    EXPECT_EQ(converted->Value(), Variant(16));
    EXPECT_EQ(form->Storage->StoredValue("count"), Variant(String("42")));
    FreeForm(form);
}

TEST_F(StoredValues, NamesAreUniqueIgnoringCase) {
    TStoredValues values(nullptr);
    TStoredValue* alpha = values.Add();
    alpha->SetName("Alpha");
    TStoredValue* beta = values.Add();
    beta->SetName("Beta");
    try {
        beta->SetName("ALPHA");
        FAIL() << "a duplicate name was taken";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "String list does not allow duplicates");
    }
    EXPECT_EQ(beta->Name(), "Beta");
    alpha->SetName("ALPHA");
    EXPECT_EQ(alpha->Name(), "ALPHA");
    EXPECT_EQ(values.IndexOf("beta"), 1);
    EXPECT_EQ(values.IndexOf("gamma"), -1);
    EXPECT_EQ(alpha->DisplayName(), "ALPHA");
    EXPECT_EQ(values.Add()->DisplayName(), "TStoredValue");

    TStoredValue* copy = values.Add();
    copy->SetValue(5);
    beta->SetValue(3.5);
    beta->SetKeyString("k");
    TStoredValue* empty = values.Add();
    copy->Assign(empty);  // an empty value empties the target
    EXPECT_TRUE(copy->Value().IsEmpty());
    TStoredValues other(nullptr);
    TStoredValue* outside = other.Add();
    outside->Assign(beta);
    EXPECT_EQ(outside->Name(), "Beta");
    EXPECT_EQ(outside->KeyString(), "k");
    EXPECT_EQ(outside->Value(), Variant(3.5));
}

TEST_F(StoredValues, ScramblingRoundTripsEveryByteAndGivesPrintableText) {
    String all;
    for (int c = 0; c < 256; ++c)
        all += static_cast<char>(c);
    for (const String& key : {String("k"), String("a longer key"), String("\x01\xff", 2)}) {
        for (const String& text : {all, String(), String("aaaaaaaa"), String("Пароль"_cp)}) {
            const String scrambled = ScrambleText(text, key);
            for (char c : scrambled)
                EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c)));
            EXPECT_EQ(UnscrambleText(scrambled, key), text);
        }
    }
    EXPECT_NE(ScrambleText("secret", "one"), ScrambleText("secret", "two"));
    EXPECT_EQ(ScrambleText("aaaa", "k").substr(0, 2) == ScrambleText("aaaa", "k").substr(2, 2),
              false);
    EXPECT_EQ(ScrambleText("plain", ""), "plain");
    EXPECT_EQ(UnscrambleText("not hex!", "k"), "not hex!");  // no scrambled form: as it is
}

TEST_F(StoredValues, AKeyedValueIsStoredScrambledAndSurvivesAnEmptyStore) {
    auto* form = NewForm<TValuesForm>(Application);
    TStoredValue* secret = form->Value("Secret");
    secret->SetKeyString("key");
    secret->SetValue(String("pass word"));
    form->Show();  // nothing stored: the scrambled current value is the default
    EXPECT_EQ(secret->Value(), Variant(String("pass word")));
    form->Close();
    FreeForm(form);
    EXPECT_EQ(Stored("Secret"), ScrambleText("pass word", "key"));
    EXPECT_NE(Stored("Secret"), "pass word");

    form = NewForm<TValuesForm>(Application);
    secret = form->Value("Secret");
    secret->SetKeyString("key");
    form->Show();
    EXPECT_EQ(secret->Value(), Variant(String("pass word")));
    FreeForm(form);
}

}  // namespace
