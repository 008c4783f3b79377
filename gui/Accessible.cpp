#include "gui/Accessible.h"

#include <climits>

#include "gui/ComCtrls.h"
#include "gui/Forms.h"
#include "gui/Menus.h"
#include "gui/StdCtrls.h"

namespace {

// The label's text as a name: no accelerator mark, no closing colon.
String LabelName(const TLabel* label) {
    String name = Trim(StripHotkey(label->Caption()));
    if (!name.empty() && name.back() == ':')
        name = Trim(name.substr(0, name.size() - 1));
    return name;
}

const TLabel* LabelBeside(const TControl* control) {
    const TWinControl* parent = control->Parent();
    if (!parent)
        return nullptr;
    const TLabel* left = nullptr;
    const TLabel* above = nullptr;
    for (int i = 0; i < parent->ControlCount(); ++i) {
        const auto* label = dynamic_cast<const TLabel*>(parent->Controls(i));
        if (!label || !label->Visible())
            continue;
        const bool sameRow = label->Top() < control->Top() + control->Height() &&
                             control->Top() < label->Top() + label->Height();
        if (sameRow && label->Left() < control->Left()) {
            if (!left || label->Left() > left->Left())
                left = label;
        } else if (label->Top() + label->Height() <= control->Top() &&
                   label->Left() < control->Left() + control->Width()) {
            if (!above || label->Top() > above->Top())
                above = label;
        }
    }
    return left ? left : above;
}

}  // namespace

String AccessibleNameOf(const TControl* control) {
    if (!control->AccessibleName().empty())
        return control->AccessibleName();
    if (dynamic_cast<const TCustomForm*>(control))
        return control->Caption();
    if (const auto* bar = dynamic_cast<const TStatusBar*>(control))
        return bar->SimplePanel() ? bar->SimpleText() : String();
    if (dynamic_cast<const TButton*>(control) || dynamic_cast<const TCheckBox*>(control) ||
        dynamic_cast<const TGroupBox*>(control))
        return Trim(StripHotkey(control->Caption()));
    if (dynamic_cast<const TCustomEdit*>(control) ||
        dynamic_cast<const TDateTimePicker*>(control)) {
        const TLabel* label = LabelBeside(control);
        return label ? LabelName(label) : String();
    }
    return {};
}
