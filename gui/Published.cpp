#include "gui/Published.h"

#include "gui/ComCtrls.h"
#include "gui/Forms.h"
#include "gui/Mask.h"
#include "gui/Menus.h"
#include "gui/StdCtrls.h"
#include "runtime/TypInfo.h"

namespace {

const TTypeInfo* Enum(const char* name, std::vector<String> identifiers) {
    return NewEnumTypeInfo(name, std::move(identifiers));
}

void RegisterAll() {
    const TTypeInfo* alignType =
        Enum("TAlign", {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient"});
    const TTypeInfo* alignmentType =
        Enum("TAlignment", {"taLeftJustify", "taRightJustify", "taCenter"});
    const TTypeInfo* colorType = NewIntegerTypeInfo("TColor", INT32_MIN, INT32_MAX);
    const TTypeInfo* cursorType = NewIntegerTypeInfo("TCursor", -32768, 32767);
    const TTypeInfo* fontStyleType =
        Enum("TFontStyle", {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"});
    const TTypeInfo* fontStylesType = NewSetTypeInfo("TFontStyles", fontStyleType);

    RegisterPublishedClass<TFont, TObject>("TFont", [&](TPublishedProperties<TFont>& p) {
        p.Ordinal("Color", colorType, &TFont::Color, &TFont::SetColor);
        p.Integer("Height", &TFont::Height, &TFont::SetHeight);
        p.String("Name", &TFont::Name, &TFont::SetName);
        p.Integer("Size", &TFont::Size, &TFont::SetSize);
        p.Set("Style", fontStylesType, &TFont::Style, &TFont::SetStyle);
    });
    const TTypeInfo* fontType = ClassInfoOf<TFont>()->ClassType();

    RegisterPublishedClass<TComponent, TObject>(
        "TComponent", [&](TPublishedProperties<TComponent>& p) {
            p.String("Name", &TComponent::Name, &TComponent::SetName);
            p.Integer("Tag", &TComponent::Tag, &TComponent::SetTag);
        });

    RegisterPublishedClass<TControl, TComponent>(
        "TControl", [&](TPublishedProperties<TControl>& p) {
            p.Enumeration("Align", alignType, &TControl::Align, &TControl::SetAlign);
            p.Ordinal("Color", colorType, &TControl::Color, &TControl::SetColor);
            p.Ordinal("Cursor", cursorType, &TControl::Cursor, &TControl::SetCursor);
            p.Boolean("Enabled", &TControl::Enabled, &TControl::SetEnabled);
            p.Class("Font", fontType, &TControl::Font, &TControl::SetFont);
            p.Integer("Height", &TControl::Height, &TControl::SetHeight);
            p.Integer("Left", &TControl::Left, &TControl::SetLeft);
            p.Integer("Top", &TControl::Top, &TControl::SetTop);
            p.Boolean("Visible", &TControl::Visible, &TControl::SetVisible);
            p.Integer("Width", &TControl::Width, &TControl::SetWidth);
            p.Method("OnClick", &TControl::OnClick);
        });
    RegisterPublishedClass<TWinControl, TControl>(
        "TWinControl", [&](TPublishedProperties<TWinControl>& p) {
            p.Integer("TabOrder", &TWinControl::TabOrder, &TWinControl::SetTabOrder);
            p.Boolean("TabStop", &TWinControl::TabStop, &TWinControl::SetTabStop);
            p.Method("OnEnter", &TWinControl::OnEnter);
            p.Method("OnExit", &TWinControl::OnExit);
        });

    RegisterPublishedClass<TLabel, TControl>("TLabel", [&](TPublishedProperties<TLabel>& p) {
        p.Enumeration("Alignment", alignmentType, &TLabel::Alignment, &TLabel::SetAlignment);
        p.Boolean("AutoSize", &TLabel::AutoSize, &TLabel::SetAutoSize);
        p.String("Caption", &TLabel::Caption, &TLabel::SetCaption);
        p.Boolean("Transparent", &TLabel::Transparent, &TLabel::SetTransparent);
        p.Boolean("WordWrap", &TLabel::WordWrap, &TLabel::SetWordWrap);
    });
    RegisterPublishedClass<TButton, TWinControl>("TButton", [&](TPublishedProperties<TButton>& p) {
        p.Boolean("Cancel", &TButton::Cancel, &TButton::SetCancel);
        p.String("Caption", &TButton::Caption, &TButton::SetCaption);
        p.Boolean("Default", &TButton::Default, &TButton::SetDefault);
    });
    const TTypeInfo* checkStateType =
        Enum("TCheckBoxState", {"cbUnchecked", "cbChecked", "cbGrayed"});
    RegisterPublishedClass<TCheckBox, TWinControl>(
        "TCheckBox", [&](TPublishedProperties<TCheckBox>& p) {
            p.Enumeration("Alignment", alignmentType, &TCheckBox::Alignment,
                          &TCheckBox::SetAlignment);
            p.Boolean("AllowGrayed", &TCheckBox::AllowGrayed, &TCheckBox::SetAllowGrayed);
            p.String("Caption", &TCheckBox::Caption, &TCheckBox::SetCaption);
            p.Boolean("Checked", &TCheckBox::Checked, &TCheckBox::SetChecked).SetDefault(0);
            p.Enumeration("State", checkStateType, &TCheckBox::State, &TCheckBox::SetState);
        });
    RegisterPublishedClass<TCustomEdit, TWinControl>(
        "TCustomEdit", [&](TPublishedProperties<TCustomEdit>& p) {
            p.Integer("MaxLength", &TCustomEdit::MaxLength, &TCustomEdit::SetMaxLength);
            p.Boolean("ReadOnly", &TCustomEdit::ReadOnly, &TCustomEdit::SetReadOnly);
            p.Method("OnChange", &TCustomEdit::OnChange);
        });
    RegisterPublishedClass<TEdit, TCustomEdit>("TEdit", [&](TPublishedProperties<TEdit>& p) {
        p.String("Text", &TEdit::Text, &TEdit::SetText);
    });
    RegisterPublishedClass<TMaskEdit, TCustomEdit>(
        "TMaskEdit", [&](TPublishedProperties<TMaskEdit>& p) {
            p.String("EditMask", &TMaskEdit::EditMask, &TMaskEdit::SetEditMask);
            p.String("Text", &TMaskEdit::Text, &TMaskEdit::SetText);
        });
    const TTypeInfo* stringsType = NewClassTypeInfo("TStrings");
    const TTypeInfo* scrollType =
        Enum("TScrollStyle", {"ssNone", "ssHorizontal", "ssVertical", "ssBoth"});
    RegisterPublishedClass<TMemo, TCustomEdit>("TMemo", [&](TPublishedProperties<TMemo>& p) {
        p.Class("Lines", stringsType, &TMemo::Lines, &TMemo::SetLines);
        p.Enumeration("ScrollBars", scrollType, &TMemo::ScrollBars, &TMemo::SetScrollBars);
        p.Boolean("WordWrap", &TMemo::WordWrap, &TMemo::SetWordWrap);
    });
    RegisterPublishedClass<TGroupBox, TWinControl>(
        "TGroupBox", [&](TPublishedProperties<TGroupBox>& p) {
            p.String("Caption", &TGroupBox::Caption, &TGroupBox::SetCaption);
        });
    const TTypeInfo* bevelType =
        Enum("TPanelBevel", {"bvNone", "bvLowered", "bvRaised", "bvSpace"});
    RegisterPublishedClass<TPanel, TWinControl>("TPanel", [&](TPublishedProperties<TPanel>& p) {
        p.Enumeration("Alignment", alignmentType, &TPanel::Alignment, &TPanel::SetAlignment);
        p.Enumeration("BevelInner", bevelType, &TPanel::BevelInner, &TPanel::SetBevelInner);
        p.Enumeration("BevelOuter", bevelType, &TPanel::BevelOuter, &TPanel::SetBevelOuter);
        p.Integer("BevelWidth", &TPanel::BevelWidth, &TPanel::SetBevelWidth);
        p.Integer("BorderWidth", &TPanel::BorderWidth, &TPanel::SetBorderWidth);
        p.String("Caption", &TPanel::Caption, &TPanel::SetCaption);
    });
    RegisterPublishedClass<TStatusBar, TWinControl>(
        "TStatusBar", [&](TPublishedProperties<TStatusBar>& p) {
            p.Boolean("SimplePanel", &TStatusBar::SimplePanel, &TStatusBar::SetSimplePanel);
            p.String("SimpleText", &TStatusBar::SimpleText, &TStatusBar::SetSimpleText);
            p.Boolean("SizeGrip", &TStatusBar::SizeGrip, &TStatusBar::SetSizeGrip);
        });
    const TTypeInfo* kindType = Enum("TDateTimeKind", {"dtkDate", "dtkTime"});
    const TTypeInfo* modeType = Enum("TDTDateMode", {"dmComboBox", "dmUpDown"});
    const TTypeInfo* formatType = Enum("TDTDateFormat", {"dfShort", "dfLong"});
    const TTypeInfo* calType = Enum("TDTCalAlignment", {"dtaLeft", "dtaRight"});
    RegisterPublishedClass<TDateTimePicker, TWinControl>(
        "TDateTimePicker", [&](TPublishedProperties<TDateTimePicker>& p) {
            p.Enumeration("CalAlignment", calType, &TDateTimePicker::CalAlignment,
                          &TDateTimePicker::SetCalAlignment);
            p.Float("Date", &TDateTimePicker::Date, &TDateTimePicker::SetDate, DateTimeTypeInfo());
            p.Enumeration("DateFormat", formatType, &TDateTimePicker::DateFormat,
                          &TDateTimePicker::SetDateFormat);
            p.Enumeration("DateMode", modeType, &TDateTimePicker::DateMode,
                          &TDateTimePicker::SetDateMode);
            p.Enumeration("Kind", kindType, &TDateTimePicker::Kind, &TDateTimePicker::SetKind);
            p.Float("MaxDate", &TDateTimePicker::MaxDate, &TDateTimePicker::SetMaxDate,
                    DateTimeTypeInfo());
            p.Float("MinDate", &TDateTimePicker::MinDate, &TDateTimePicker::SetMinDate,
                    DateTimeTypeInfo());
            p.Float("Time", &TDateTimePicker::Time, &TDateTimePicker::SetTime, DateTimeTypeInfo());
            p.Method("OnChange", &TDateTimePicker::OnChange);
        });

    RegisterPublishedClass<TMenuItem, TComponent>(
        "TMenuItem", [&](TPublishedProperties<TMenuItem>& p) {
            p.String("Caption", &TMenuItem::Caption, &TMenuItem::SetCaption);
            p.Boolean("Checked", &TMenuItem::Checked, &TMenuItem::SetChecked);
            p.Boolean("Enabled", &TMenuItem::Enabled, &TMenuItem::SetEnabled);
            p.Boolean("Visible", &TMenuItem::Visible, &TMenuItem::SetVisible);
            p.Method("OnClick", &TMenuItem::OnClick);
        });
    const TTypeInfo* menuItemType = ClassInfoOf<TMenuItem>()->ClassType();
    RegisterPublishedClass<TMenu, TComponent>("TMenu", [&](TPublishedProperties<TMenu>& p) {
        p.Class("Items", menuItemType, &TMenu::Items);
    });
    RegisterPublishedClass<TMainMenu, TMenu>("TMainMenu", [](TPublishedProperties<TMainMenu>&) {});
    const TTypeInfo* mainMenuType = ClassInfoOf<TMainMenu>()->ClassType();
    const TTypeInfo* winControlType = ClassInfoOf<TWinControl>()->ClassType();

    const TTypeInfo* borderStyleType =
        Enum("TFormBorderStyle",
             {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin"});
    const TTypeInfo* borderIconType =
        Enum("TBorderIcon", {"biSystemMenu", "biMinimize", "biMaximize", "biHelp"});
    const TTypeInfo* borderIconsType = NewSetTypeInfo("TBorderIcons", borderIconType);
    const TTypeInfo* positionType =
        Enum("TPosition",
             {"poDesigned", "poDefault", "poDefaultPosOnly", "poDefaultSizeOnly", "poScreenCenter",
              "poDesktopCenter", "poMainFormCenter", "poOwnerFormCenter"});
    const TTypeInfo* windowStateType =
        Enum("TWindowState", {"wsNormal", "wsMinimized", "wsMaximized"});
    const TTypeInfo* formStyleType =
        Enum("TFormStyle", {"fsNormal", "fsMDIChild", "fsMDIForm", "fsStayOnTop"});
    RegisterPublishedClass<TCustomForm, TWinControl>(
        "TCustomForm", [&](TPublishedProperties<TCustomForm>& p) {
            p.Class("ActiveControl", winControlType, &TCustomForm::ActiveControl,
                    &TCustomForm::SetActiveControl);
            p.Set("BorderIcons", borderIconsType, &TCustomForm::BorderIcons,
                  &TCustomForm::SetBorderIcons);
            p.Enumeration("BorderStyle", borderStyleType, &TCustomForm::BorderStyle,
                          &TCustomForm::SetBorderStyle);
            p.String("Caption", &TCustomForm::Caption, &TCustomForm::SetCaption);
            p.Integer("ClientHeight", &TCustomForm::ClientHeight, &TCustomForm::SetClientHeight);
            p.Integer("ClientWidth", &TCustomForm::ClientWidth, &TCustomForm::SetClientWidth);
            p.Enumeration("FormStyle", formStyleType, &TCustomForm::FormStyle,
                          &TCustomForm::SetFormStyle);
            p.Class("Menu", mainMenuType, &TCustomForm::Menu, &TCustomForm::SetMenu);
            p.Integer("PixelsPerInch", &TCustomForm::PixelsPerInch, &TCustomForm::SetPixelsPerInch);
            p.Enumeration("Position", positionType, &TCustomForm::Position,
                          &TCustomForm::SetPosition);
            p.Boolean("Scaled", &TCustomForm::Scaled, &TCustomForm::SetScaled);
            p.Enumeration("WindowState", windowStateType, &TCustomForm::WindowState,
                          &TCustomForm::SetWindowState);
            p.Method("OnClose", &TCustomForm::OnClose);
            p.Method("OnCloseQuery", &TCustomForm::OnCloseQuery);
            p.Method("OnCreate", &TCustomForm::OnCreate);
            p.Method("OnDestroy", &TCustomForm::OnDestroy);
            p.Method("OnHide", &TCustomForm::OnHide);
            p.Method("OnShow", &TCustomForm::OnShow);
        });
    RegisterPublishedClass<TForm, TCustomForm>("TForm", [](TPublishedProperties<TForm>&) {});
    RegisterPublishedClass<TDataModule, TComponent>(
        "TDataModule", [&](TPublishedProperties<TDataModule>& p) {
            p.Method("OnCreate", &TDataModule::OnCreate);
            p.Method("OnDestroy", &TDataModule::OnDestroy);
        });
}

}  // namespace

void RegisterGuiClasses() {
    static const bool done = (RegisterAll(), true);
    (void)done;
}
