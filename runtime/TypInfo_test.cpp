#include "runtime/TypInfo.h"

#include <gtest/gtest.h>

namespace {

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };
enum TAnchorKind { akLeft, akTop, akRight, akBottom };
using TAnchors = TSet<TAnchorKind>;

const TTypeInfo* AlignType() {
    static const TTypeInfo* t =
        NewEnumTypeInfo("TAlign", {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"});
    return t;
}
const TTypeInfo* AnchorsType() {
    static const TTypeInfo* t = NewSetTypeInfo(
        "TAnchors", NewEnumTypeInfo("TAnchorKind", {"akLeft", "akTop", "akRight", "akBottom"}));
    return t;
}

class TFont : public TPersistent {
  public:
    int Color() const { return FColor; }
    void SetColor(int v) { FColor = v; }
    static void RegisterProperties() {
        RegisterPublishedClass<TFont, TObject>(
            "TFont", [](auto& p) { p.Integer("Color", &TFont::Color, &TFont::SetColor); });
    }

  private:
    int FColor = 0;
};

class TControl : public TComponent {
  public:
    explicit TControl(TComponent* owner) : TComponent(owner) { RegisterProperties(); }
    static void RegisterProperties() {
        static const TClassInfo* info = RegisterPublishedClass<TControl, TObject>(
            "TControl", [](TPublishedProperties<TControl>& p) {
                p.Integer("Left", &TControl::Left, &TControl::SetLeft);
                p.Enumeration("Align", AlignType(), &TControl::Align, &TControl::SetAlign);
                p.Set("Anchors", AnchorsType(), &TControl::Anchors, &TControl::SetAnchors);
                p.Boolean("Visible", &TControl::Visible, &TControl::SetVisible);
                p.String("Hint", &TControl::Hint, &TControl::SetHint);
                p.Class("Font", NewClassTypeInfo("TFont"), &TControl::Font, &TControl::SetFont);
                p.Method("OnClick", &TControl::OnClick);
                p.String("Name", [](TControl* c) { return c->Name(); });  // read-only here
                p.Other("Untyped", NewTypeInfo(tkUnknown, "Untyped"));
            });
        (void)info;
    }
    int Left() const { return FLeft; }
    void SetLeft(int v) { FLeft = v; }
    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign v) { FAlign = v; }
    TAnchors Anchors() const { return FAnchors; }
    void SetAnchors(TAnchors v) { FAnchors = v; }
    bool Visible() const { return FVisible; }
    void SetVisible(bool v) { FVisible = v; }
    const String& Hint() const { return FHint; }
    void SetHint(const String& v) { FHint = v; }
    TFont* Font() { return &FFont; }
    void SetFont(TFont* f) { FFont.SetColor(f ? f->Color() : 0); }
    TNotifyEvent OnClick;

  private:
    int FLeft = 0;
    TAlign FAlign = alNone;
    TAnchors FAnchors{akLeft, akTop};
    bool FVisible = true;
    String FHint;
    TFont FFont;
};

class TCheckBox : public TControl {
  public:
    explicit TCheckBox(TComponent* owner) : TControl(owner) {
        static const TClassInfo* info = RegisterPublishedClass<TCheckBox, TControl>(
            "TCheckBox", [](TPublishedProperties<TCheckBox>& p) {
                p.Boolean("Checked", &TCheckBox::Checked, &TCheckBox::SetChecked);
                p.Char("Accel", &TCheckBox::Accel, &TCheckBox::SetAccel);
                p.Float("Ratio", &TCheckBox::Ratio, &TCheckBox::SetRatio, SingleTypeInfo());
                p.Int64("Big", &TCheckBox::Big, &TCheckBox::SetBig);
                p.VariantProp("Data", &TCheckBox::Data, &TCheckBox::SetData);
                // Replaces the inherited Hint.
                p.String("HINT", &TCheckBox::Hint, nullptr, ShortStringTypeInfo());
            });
        (void)info;
    }
    bool Checked() const { return FChecked; }
    void SetChecked(bool v) { FChecked = v; }
    char Accel() const { return FAccel; }
    void SetAccel(char c) { FAccel = c; }
    float Ratio() const { return FRatio; }
    void SetRatio(float r) { FRatio = r; }
    long long Big() const { return FBig; }
    void SetBig(long long v) { FBig = v; }
    Variant Data() const { return FData; }
    void SetData(const Variant& v) { FData = v; }

  private:
    bool FChecked = false;
    char FAccel = 'a';
    float FRatio = 0.5f;
    long long FBig = 0;
    Variant FData;
};

// Registers nothing itself: shows the properties of TCheckBox.
class TMyCheckBox : public TCheckBox {
  public:
    using TCheckBox::TCheckBox;
};

std::vector<String> Names(const std::vector<const TPropInfo*>& list) {
    std::vector<String> r;
    for (const TPropInfo* p : list)
        r.push_back(p->Name());
    return r;
}

TEST(TypInfo, ListsOwnAndInheritedPropertiesInNameOrder) {
    TCheckBox box(nullptr);
    EXPECT_EQ(
        Names(GetPropList(&box)),
        (std::vector<String>{"Accel", "Align", "Anchors", "Big", "Checked", "Data", "Font", "HINT",
                             "Left", "Name", "OnClick", "Ratio", "Untyped", "Visible"}));
    EXPECT_EQ(Names(GetPropList(&box, tkProperties)),
              (std::vector<String>{"Accel", "Align", "Anchors", "Big", "Checked", "Data", "Font",
                                   "HINT", "Left", "Name", "Ratio", "Visible"}));
    EXPECT_EQ(Names(GetPropList(&box, tkProperties - TTypeKinds{tkClass})).size(), 11u);
    TControl control(nullptr);
    EXPECT_EQ(GetPropList(&control).size(), 9u);
    EXPECT_EQ(GetClassInfo(&box)->Parent(), ClassInfoOf<TControl>());
    EXPECT_TRUE(box.InheritsFrom("TCONTROL"));
    EXPECT_FALSE(control.InheritsFrom("TCheckBox"));
}

TEST(TypInfo, FindsByNameIgnoringCaseAndKeepsTheSpelling) {
    TCheckBox box(nullptr);
    const TPropInfo* p = GetPropInfo(&box, "checked");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Name(), "Checked");
    EXPECT_EQ(p->Kind(), tkEnumeration);
    EXPECT_EQ(p->PropType(), BooleanTypeInfo());
    EXPECT_EQ(GetPropInfo(&box, "hint")->Kind(), tkString);  // the descendant's
    EXPECT_EQ(GetPropInfo(&box, "nosuch"), nullptr);
    EXPECT_EQ(GetPropInfo(&box, "OnClick", tkProperties), nullptr);
    EXPECT_EQ(GetPropInfo(nullptr, "Checked"), nullptr);
}

TEST(TypInfo, AccessorsReadAndWriteEachKind) {
    TCheckBox box(nullptr);
    const TPropInfo* checked = GetPropInfo(&box, "Checked");
    checked->SetOrd(&box, 1);
    EXPECT_TRUE(box.Checked());
    EXPECT_EQ(GetEnumName(checked->PropType(), checked->GetOrd(&box)), "True");

    const TPropInfo* align = GetPropInfo(&box, "Align");
    align->SetOrd(&box, GetEnumValue(align->PropType(), "ALCLIENT"));
    EXPECT_EQ(box.Align(), alClient);
    EXPECT_EQ(GetEnumName(align->PropType(), align->GetOrd(&box)), "alClient");
    EXPECT_EQ(GetEnumValue(align->PropType(), "alMiddle"), -1);

    const TPropInfo* anchors = GetPropInfo(&box, "Anchors");
    EXPECT_EQ(anchors->GetOrd(&box), 0b0011);
    anchors->SetOrd(&box, 0b1100);
    EXPECT_TRUE(box.Anchors().Contains(akBottom));
    EXPECT_FALSE(box.Anchors().Contains(akLeft));
    EXPECT_EQ(anchors->PropType()->CompType->Names[2], "akRight");

    GetPropInfo(&box, "Accel")->SetOrd(&box, 0xC0);
    EXPECT_EQ(box.Accel(), '\xC0');
    EXPECT_EQ(GetPropInfo(&box, "Accel")->GetOrd(&box), 0xC0);

    const TPropInfo* ratio = GetPropInfo(&box, "Ratio");
    EXPECT_EQ(ratio->PropType()->FloatType, ftSingle);
    ratio->SetFloat(&box, 0.25);
    EXPECT_FLOAT_EQ(box.Ratio(), 0.25f);

    GetPropInfo(&box, "Big")->SetOrd(&box, 1LL << 40);
    EXPECT_EQ(box.Big(), 1LL << 40);

    GetPropInfo(&box, "hint")->GetStr(&box);
    EXPECT_THROW(GetPropInfo(&box, "hint")->SetStr(&box, "x"), EPropertyError);  // read-only
    EXPECT_THROW(GetPropInfo(&box, "Left")->GetStr(&box), EPropertyError);       // wrong kind

    GetPropInfo(&box, "Data")->SetVariant(&box, Variant("abc"));
    EXPECT_EQ(box.Data().AsString(), "abc");

    const TPropInfo* font = GetPropInfo(&box, "Font");
    EXPECT_EQ(font->GetObject(&box), box.Font());
    TFont other;
    other.SetColor(7);
    font->SetObject(&box, &other);
    EXPECT_EQ(box.Font()->Color(), 7);
    TControl notAFont(nullptr);
    EXPECT_THROW(font->SetObject(&box, &notAFont), EPropertyError);

    const TPropInfo* click = GetPropInfo(&box, "OnClick");
    EXPECT_FALSE(click->IsAssigned(&box));
    box.OnClick = [](TObject*) {};
    EXPECT_TRUE(click->IsAssigned(&box));
}

TEST(TypInfo, NestedObjectsHaveTheirOwnProperties) {
    TFont::RegisterProperties();
    TCheckBox box(nullptr);
    TObject* font = GetPropInfo(&box, "Font")->GetObject(&box);
    EXPECT_EQ(Names(GetPropList(font)), (std::vector<String>{"Color"}));
}

TEST(TypInfo, AnUnregisteredDescendantUsesItsNearestRegisteredAncestor) {
    TMyCheckBox mine(nullptr);
    EXPECT_EQ(GetClassInfo(&mine), ClassInfoOf<TCheckBox>());
    EXPECT_NE(GetPropInfo(&mine, "Checked"), nullptr);
    TComponent plain(nullptr);
    EXPECT_EQ(GetClassInfo(&plain), nullptr);
    EXPECT_TRUE(GetPropList(&plain).empty());
}

TEST(TypInfo, VariantAccess) {
    TCheckBox box(nullptr);
    const TPropInfo* checked = GetPropInfo(&box, "Checked");
    EXPECT_EQ(GetPropValue(&box, checked).VarType(), varBoolean);
    SetPropValue(&box, checked, Variant("true"));
    EXPECT_TRUE(box.Checked());
    SetPropValue(&box, GetPropInfo(&box, "Align"), Variant("alTop"));
    EXPECT_EQ(box.Align(), alTop);
    SetPropValue(&box, GetPropInfo(&box, "Left"), Variant("12"));
    EXPECT_EQ(box.Left(), 12);
    EXPECT_EQ(GetPropValue(&box, GetPropInfo(&box, "Left")).AsString(), "12");
    EXPECT_THROW(SetPropValue(&box, GetPropInfo(&box, "Align"), Variant("alMiddle")),
                 EPropertyError);
}

TEST(TypInfo, RegisteringTwiceKeepsTheFirst) {
    TControl c(nullptr);
    const TClassInfo* first = ClassInfoOf<TControl>();
    const TClassInfo* again = RegisterPublishedClass<TControl, TObject>("Other", [](auto&) {});
    EXPECT_EQ(first, again);
    EXPECT_EQ(FindClassInfo("tcontrol"), first);
}

}  // namespace
