#include "settings/RXProps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gui/Forms.h"
#include "gui/StdCtrls.h"
#include "runtime/Collections.h"
#include "settings/Placemnt.h"

namespace {

enum TShade { shRed, shGreen, shBlue };
using TShades = TSet<TShade>;

class TSampleItem : public TCollectionItem {
  public:
    using TCollectionItem::TCollectionItem;
    String Caption;
    int Size = 0;
};

// An object that refers to itself: storing it must come to an end.
class TLoop : public TPersistent {
  public:
    TLoop* Next() { return this; }
    int Value = 3;
};

class TSample : public TComponent {
  public:
    explicit TSample(TComponent* owner)
        : TComponent(owner), Items(TCollection::ItemFactoryOf<TSampleItem>()) {
        Register();
    }
    String ClassName() const override { return "TSample"; }

    int Int = 5;
    char Ch = 'x';
    TShade Shade = shGreen;
    double Dbl = 2.5;
    TShades Shades{shRed, shBlue};
    String Str = "text";
    Variant Var = 7;
    long long Big = 9000000000LL;
    int Fails = 1;
    TStringList Lines;
    TCollection Items;
    TComponent* Ref = nullptr;
    TLoop Loop;
    TFont Font;

  private:
    static void Register() {
        static const bool done = [] {
            RegisterSettingsClasses();
            const TTypeInfo* shade = NewEnumTypeInfo("TShade", {"shRed", "shGreen", "shBlue"});
            const TTypeInfo* shades = NewSetTypeInfo("TShades", shade);
            RegisterPublishedClass<TSampleItem, TObject>(
                "TSampleItem", [](TPublishedProperties<TSampleItem>& p) {
                    p.String("Caption", &TSampleItem::Caption,
                             [](TSampleItem* s, const String& v) { s->Caption = v; });
                    p.Integer("Size", &TSampleItem::Size,
                              [](TSampleItem* s, int v) { s->Size = v; });
                });
            RegisterPublishedClass<TLoop, TObject>("TLoop", [](TPublishedProperties<TLoop>& p) {
                p.Class("Next", NewClassTypeInfo("TLoop"), &TLoop::Next);
                p.Integer("Value", &TLoop::Value, [](TLoop* s, int v) { s->Value = v; });
            });
            RegisterPublishedClass<TSample, TComponent>(
                "TSample", [&](TPublishedProperties<TSample>& p) {
                    p.Integer("Int", &TSample::Int, [](TSample* s, int v) { s->Int = v; });
                    p.Char("Ch", &TSample::Ch, [](TSample* s, char v) { s->Ch = v; });
                    p.Enumeration("Shade", shade, &TSample::Shade,
                                  [](TSample* s, TShade v) { s->Shade = v; });
                    p.Float("Dbl", &TSample::Dbl, [](TSample* s, double v) { s->Dbl = v; });
                    p.Set("Shades", shades, &TSample::Shades,
                          [](TSample* s, TShades v) { s->Shades = v; });
                    p.String("Str", &TSample::Str, [](TSample* s, const String& v) { s->Str = v; });
                    p.VariantProp("Var", &TSample::Var,
                                  [](TSample* s, const Variant& v) { s->Var = v; });
                    p.Int64("Big", &TSample::Big, [](TSample* s, long long v) { s->Big = v; });
                    p.Integer("Fails", &TSample::Fails,
                              [](TSample*, int) { throw Exception("cannot set"); });
                    p.Class(
                        "Lines", NewClassTypeInfo("TStrings"),
                        [](TSample* s) -> TStrings* { return &s->Lines; },
                        [](TSample* s, TStrings* v) { s->Lines.Assign(v); });
                    p.Class("Items", NewClassTypeInfo("TCollection"),
                            [](TSample* s) { return &s->Items; });
                    p.Class("Ref", NewClassTypeInfo("TComponent"), &TSample::Ref,
                            [](TSample* s, TComponent* v) { s->Ref = v; });
                    p.Class("Loop", NewClassTypeInfo("TLoop"), [](TSample* s) { return &s->Loop; });
                    p.Class("Font", ClassInfoOf<TFont>()->ClassType(),
                            [](TSample* s) { return &s->Font; });
                    p.Method("OnChange", [](TSample*) { return true; });
                });
            return true;
        }();
        (void)done;
    }
};

// A store in memory: writes are journalled in order, reads see the last write.
class PropsStorage : public ::testing::Test {
  protected:
    void SetUp() override {
        storage.Section = "S";
        storage.OnWriteString = [this](const String& s, const String& i, const String& v) {
            writes.push_back(s + "|" + i + "=" + v);
            values[{s, i}] = v;
        };
        storage.OnReadString = [this](const String& s, const String& i, const String& d) {
            auto it = values.find({s, i});
            return it == values.end() ? d : it->second;
        };
        storage.OnEraseSection = [this](const String& s) { writes.push_back("erase " + s); };
        owner = std::make_unique<TComponent>(nullptr);
        sample = new TSample(owner.get());
        sample->SetName("Sample");
    }
    void TearDown() override { SetDecimalSeparator('.'); }
    String Value(const String& section, const String& item) {
        auto it = values.find({section, item});
        return it == values.end() ? "<none>" : it->second;
    }
    void Load(const char* prop) {
        storage.Target = sample;
        storage.Prefix = "Sample_";
        storage.LoadProperty(GetPropInfo(sample, prop));
    }

    TPropsStorage storage;
    std::vector<String> writes;
    std::map<std::pair<String, String>, String> values;
    std::unique_ptr<TComponent> owner;
    TSample* sample = nullptr;
};

TEST_F(PropsStorage, EachKindIsSavedInItsTextForm) {
    sample->Lines.Add(" first ");
    sample->Lines.Add("second");
    static_cast<TSampleItem*>(sample->Items.Add())->Caption = "one";
    auto* other = new TComponent(owner.get());
    other->SetName("Other");
    sample->Ref = other;
    storage.Target = sample;
    storage.Prefix = "Sample_";
    storage.Owner = owner.get();
    storage.StoreObjectProperties();
    EXPECT_EQ(writes, (std::vector<String>{
                          "S|Sample_Big=9000000000",
                          "S|Sample_Ch=x",
                          "S|Sample_Dbl=2.5",
                          "S|Sample_Fails=1",
                          "S|Sample_FontColor=-2147483640",
                          "S|Sample_FontHeight=-11",
                          "S|Sample_FontName=MS Sans Serif",
                          "S|Sample_FontSize=8",
                          "S|Sample_FontStyle=[]",
                          "S|Sample_Int=5",
                          "erase S.Sample_Items",
                          "S|Sample_Items.Count=1",
                          "S.Sample_Items|Item0_Caption=one",
                          "S.Sample_Items|Item0_Size=0",
                          "erase S.Sample_Lines",
                          "S.Sample_Lines|Count=2",
                          "S.Sample_Lines|Item0= first ",
                          "S.Sample_Lines|Item1=second",
                          "S|Sample_LoopValue=3",
                          "S|Sample_Name=Sample",
                          "S|Sample_Ref=Other",
                          "S|Sample_Shade=shGreen",
                          "S|Sample_Shades=[shRed,shBlue]",
                          "S|Sample_Str=text",
                          "S|Sample_Tag=0",
                          "S|Sample_Var=7",
                      }));
}

TEST_F(PropsStorage, StoredTextsAreAppliedByKind) {
    const struct {
        const char* prop;
        const char* text;
        std::function<bool(const TSample&)> check;
    } cases[] = {
        {"Int", " 42 ", [](const TSample& s) { return s.Int == 42; }},
        {"Int", "forty", [](const TSample& s) { return s.Int == 0; }},
        {"Big", "-12345678901", [](const TSample& s) { return s.Big == -12345678901LL; }},
        {"Big", "x", [](const TSample& s) { return s.Big == 0; }},
        {"Ch", "qz", [](const TSample& s) { return s.Ch == 'q'; }},
        {"Ch", "", [](const TSample& s) { return s.Ch == 'x'; }},
        {"Shade", "SHBLUE", [](const TSample& s) { return s.Shade == shBlue; }},
        {"Shade", "purple", [](const TSample& s) { return s.Shade == shGreen; }},
        {"Dbl", "3.25", [](const TSample& s) { return s.Dbl == 3.25; }},
        {"Dbl", "three", [](const TSample& s) { return s.Dbl == 2.5; }},
        {"Shades", "[ shBlue , SHGREEN ]",
         [](const TSample& s) {
             return s.Shades == TShades{shGreen, shBlue};
         }},
        {"Shades", "[shRed,shNone,7]", [](const TSample& s) { return s.Shades == TShades{shRed}; }},
        {"Shades", "[]", [](const TSample& s) { return s.Shades.Empty(); }},
        {"Shades", "", [](const TSample& s) { return s.Shades.Empty(); }},
        {"Str", "  spaced out \t", [](const TSample& s) { return s.Str == "spaced out"; }},
        {"Str", "", [](const TSample& s) { return s.Str.empty(); }},
        {"Var", "12", [](const TSample& s) { return s.Var == Variant(String("12")); }},
        {"Fails", "9", [](const TSample& s) { return s.Fails == 1; }},
    };
    for (const auto& c : cases) {
        TSample fresh(nullptr);
        fresh.SetName("Sample");
        values.clear();
        values[{"S", String("Sample_") + c.prop}] = c.text;
        storage.Target = &fresh;
        storage.Prefix = "Sample_";
        storage.LoadProperty(GetPropInfo(&fresh, c.prop));
        EXPECT_TRUE(c.check(fresh)) << c.prop << " <- '" << c.text << "'";
    }
}

TEST_F(PropsStorage, WithNothingStoredAPropertyGetsItsOwnTrimmedText) {
    sample->Str = " 20 ";
    Load("Str");
    EXPECT_EQ(sample->Str, "20");
    Load("Int");
    EXPECT_EQ(sample->Int, 5);
}

// A short string is kept like a long one, even when empty; a wide string is
// a kind that is neither saved nor restored.
class TTexts : public TComponent {
  public:
    explicit TTexts(TComponent* owner) : TComponent(owner) {
        static const bool done = [] {
            RegisterPublishedClass<TTexts, TComponent>(
                "TTexts", [](TPublishedProperties<TTexts>& p) {
                    p.ShortString("Short", &TTexts::Short,
                                  [](TTexts* t, const String& v) { t->Short = v; });
                    p.String(
                        "Wide", &TTexts::Wide, [](TTexts* t, const String& v) { t->Wide = v; },
                        WideStringTypeInfo());
                });
            return true;
        }();
        (void)done;
    }
    String ClassName() const override { return "TTexts"; }
    String Short;
    String Wide = "wide";
};

TEST_F(PropsStorage, AShortStringIsKeptEvenEmptyAndAWideStringNotAtAll) {
    TTexts texts(nullptr);
    texts.SetName("T");
    ASSERT_EQ(GetPropInfo(&texts, "Short")->Kind(), tkString);
    ASSERT_EQ(GetPropInfo(&texts, "Wide")->Kind(), tkWString);
    storage.Target = &texts;
    storage.Prefix = "T_";
    storage.StoreProperty(GetPropInfo(&texts, "Short"));
    storage.StoreProperty(GetPropInfo(&texts, "Wide"));
    EXPECT_EQ(writes, (std::vector<String>{"S|T_Short="}));

    const struct {
        const char* prop;
        const char* stored;  // nullptr: nothing stored
        const char* current;
        const char* after;
    } cases[] = {
        {"Short", " kept ", "old", "kept"},  {"Short", "", "old", ""},
        {"Short", nullptr, " own ", "own"},  {"Wide", "new", "old", "old"},
        {"Wide", nullptr, " old ", " old "},
    };
    for (const auto& c : cases) {
        values.clear();
        if (c.stored)
            values[{"S", String("T_") + c.prop}] = c.stored;
        String& field = String(c.prop) == "Short" ? texts.Short : texts.Wide;
        field = c.current;
        storage.LoadProperty(GetPropInfo(&texts, c.prop));
        EXPECT_EQ(field, c.after) << c.prop << " <- " << (c.stored ? c.stored : "(none)");
    }
}

TEST_F(PropsStorage, AFloatIsStoredWithAPointUnderAnyLocale) {
    SetDecimalSeparator(',');
    sample->Dbl = 1234.5;
    storage.Target = sample;
    storage.StoreProperty(GetPropInfo(sample, "Dbl"));
    EXPECT_EQ(values[std::make_pair(String("S"), String("Dbl"))], "1234.5");
    values[{"S", "Sample_Dbl"}] = "0.125";
    Load("Dbl");
    EXPECT_EQ(sample->Dbl, 0.125);
    SetDecimalSeparator('.');
    values[{"S", "Sample_Dbl"}] = "7.75";
    Load("Dbl");
    EXPECT_EQ(sample->Dbl, 7.75);
    EXPECT_EQ(FloatPropText(0.1f, ftSingle), "0.1");
}

TEST_F(PropsStorage, AStringListIsReplacedOnlyWhenItsCountSaysSo) {
    sample->Lines.Add("kept");
    Load("Lines");  // no Count stored
    EXPECT_EQ(sample->Lines.Text(), "kept\r\n");
    values[{"S.Sample_Lines", "Count"}] = " 3 ";
    values[{"S.Sample_Lines", "Item0"}] = " a ";
    values[{"S.Sample_Lines", "Item2"}] = "c";
    Load("Lines");
    EXPECT_EQ(sample->Lines.Text(), " a \r\n\r\nc\r\n");
    values[{"S.Sample_Lines", "Count"}] = "999999999";  // damage, not a list
    Load("Lines");
    EXPECT_EQ(sample->Lines.Count(), 3);
}

TEST_F(PropsStorage, ACollectionIsRebuiltToTheStoredCount) {
    static_cast<TSampleItem*>(sample->Items.Add())->Caption = "old";
    values[{"S", "Sample_Items.Count"}] = "2";
    values[{"S.Sample_Items", "Item0_Caption"}] = "first";
    values[{"S.Sample_Items", "Item1_Size"}] = "12";
    Load("Items");
    ASSERT_EQ(sample->Items.Count(), 2);
    EXPECT_EQ(static_cast<TSampleItem*>(sample->Items.Items(0))->Caption, "first");
    EXPECT_EQ(static_cast<TSampleItem*>(sample->Items.Items(1))->Size, 12);
    EXPECT_EQ(sample->Items.UpdateCount(), 0);
    values[{"S", "Sample_Items.Count"}] = "many";
    Load("Items");
    EXPECT_EQ(sample->Items.Count(), 2);
}

TEST_F(PropsStorage, AComponentReferenceIsStoredByNameAndFoundAgain) {
    auto* sibling = new TComponent(owner.get());
    sibling->SetName("Sibling");
    TComponent elsewhere(nullptr);
    elsewhere.SetName("Elsewhere");
    auto* far = new TComponent(&elsewhere);
    far->SetName("Far");
    TSample unnamed(nullptr);
    auto* inner = new TComponent(&unnamed);
    inner->SetName("Inner");
    auto* form = new TForm(nullptr);
    form->SetName("ExtForm");
    auto* onForm = new TComponent(form);
    onForm->SetName("OnForm");

    storage.Target = sample;
    storage.Owner = owner.get();
    const TPropInfo* ref = GetPropInfo(sample, "Ref");
    storage.StoreProperty(ref);  // no object: nothing written
    EXPECT_TRUE(writes.empty());
    for (TComponent* target : {sibling, far, inner}) {
        sample->Ref = target;
        storage.StoreProperty(ref);
    }
    EXPECT_EQ(writes,
              (std::vector<String>{"S|Ref=Sibling", "S|Ref=Elsewhere.Far", "S|Ref=Sample.Inner"}));

    const struct {
        const char* text;
        TComponent* expected;
    } cases[] = {{"Sibling", sibling},
                 {"extform.onform", onForm},
                 {"ExtForm.Missing", nullptr},
                 {"NoSuchForm.X", far},
                 {"", far},
                 {"(NULL)", nullptr}};
    for (const auto& c : cases) {
        sample->Ref = far;
        values[{"S", "Ref"}] = c.text;
        storage.LoadProperty(ref);
        EXPECT_EQ(sample->Ref, c.expected) << c.text;
    }
    FreeForm(form);
}

TEST_F(PropsStorage, ListedEntriesAreNormalisedAndStoredUnderTheirTypeSpelling) {
    auto* check = new TCheckBox(owner.get());
    check->SetName("cbxProxy");
    TStringList list{" cbxProxy . checked ",
                     "Sample.Int",
                     "nodot",
                     ".Text",
                     "Sample.",
                     "Ghost.Text",
                     "SAMPLE.int",
                     "Sample.NoSuchProperty",
                     "Sample.OnChange"};
    SyncStoredList(owner.get(), &list, true);
    EXPECT_EQ(list.ToVector(),
              (std::vector<String>{" cbxProxy . checked ", "Sample.Int", "SAMPLE.int",
                                   "Sample.NoSuchProperty", "Sample.OnChange"}));
    storage.SaveListedProperties(owner.get(), &list);
    EXPECT_EQ(writes, (std::vector<String>{"S|cbxProxy_Checked=False", "S|Sample_Int=5",
                                           "S|Sample_Int=5"}));
    EXPECT_EQ(list[0], "cbxProxy.checked");  // rewritten from the component's name
    EXPECT_EQ(storage.Owner, nullptr);

    values[{"S", "cbxProxy_Checked"}] = "tRUE";
    values[{"S", "Sample_Int"}] = "77";
    storage.RestoreListedProperties(owner.get(), &list);
    EXPECT_TRUE(check->Checked());
    EXPECT_EQ(sample->Int, 77);
    values[{"S", "cbxProxy_Checked"}] = "maybe";
    storage.RestoreListedProperties(owner.get(), &list);
    EXPECT_TRUE(check->Checked());
    values[{"S", "cbxProxy_Checked"}] = "FALSE";
    storage.RestoreListedProperties(owner.get(), &list);
    EXPECT_FALSE(check->Checked());
}

TEST_F(PropsStorage, SavingStopsAtTheFirstStoreFailure) {
    TStringList list{"Sample.Int", "Sample.Str"};
    SyncStoredList(owner.get(), &list, true);
    storage.OnWriteString = [](const String&, const String& item, const String&) {
        throw Exception("Failed to set data for '" + item + "'");
    };
    try {
        storage.SaveListedProperties(owner.get(), &list);
        FAIL() << "no failure";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Failed to set data for 'Sample_Int'");
    }
    EXPECT_EQ(storage.Owner, nullptr);
}

TEST_F(PropsStorage, ThePersistenceComponentsPublishTheirOwnProperties) {
    TFormStorage placement(owner.get());
    placement.SetOptions(TPlacementOptions{fpPosition});
    placement.MinMaxInfo()->SetMinTrackWidth(300);
    placement.SetStoredValue("Answer", 42);
    storage.Target = &placement;
    storage.StoreObjectProperties();
    for (const char* expected :
         {"S|Active=True", "S|Options=[fpPosition]", "S|RegistryRoot=prCurrentUser",
          "S|MinMaxInfoMinTrackWidth=300", "S|StoredValues.Count=1",
          "S.StoredValues|Item0_Name=Answer", "S.StoredValues|Item0_Value=42"}) {
        EXPECT_NE(std::find(writes.begin(), writes.end(), expected), writes.end()) << expected;
    }
    values[{"S", "Options"}] = "[fpActiveControl, fpState]";
    values[{"S", "MinMaxInfoMaxTrackWidth"}] = "640";
    storage.LoadObjectProperties();
    EXPECT_EQ(placement.Options(), (TPlacementOptions{fpState, fpActiveControl}));
    EXPECT_EQ(placement.MinMaxInfo()->MaxTrackWidth(), 640);
}

TEST(StoredItems, SplitAndJoin) {
    String comp, prop;
    EXPECT_TRUE(ParseStoredItem(" a . b.c ", comp, prop));
    EXPECT_EQ(comp, "a");
    EXPECT_EQ(prop, "b.c");
    EXPECT_FALSE(ParseStoredItem("a. ", comp, prop));
    EXPECT_FALSE(ParseStoredItem("ab", comp, prop));
    EXPECT_EQ(JoinStoredItem("edtPort", "Text"), "edtPort.Text");
    EXPECT_EQ(JoinStoredItem("", "Text"), "");
    EXPECT_EQ(ItemNameSeparator, "_");
}

TEST(StoredItems, TheFormStorageDropsTheEntriesOfARemovedComponent) {
    auto* form = new TForm(nullptr);
    auto* edit = new TEdit(form);
    edit->SetName("edtServer");
    auto* storage = new TFormStorage(form);
    TStringList list{"edtServer.Text", "edtServer.Visible", "Missing.Text", "edtServer"};
    storage->StoredProps()->Assign(&list);
    form->AfterConstruction();  // loading ends: entries are attached, bad ones dropped
    EXPECT_EQ(storage->StoredProps()->Count(), 2);
    EXPECT_EQ(storage->StoredProps()->Objects(0), edit);
    delete edit;
    EXPECT_EQ(storage->StoredProps()->Count(), 0);
    FreeForm(form);
}

}  // namespace
