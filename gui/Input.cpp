#include "gui/Input.h"

#include "gui/Backend.h"
#include "gui/Forms.h"
#include "gui/Menus.h"
#include "runtime/ExceptionHook.h"

namespace {

TGuiBackend* Backend = nullptr;
TShiftState Shift;

bool EnabledUpToForm(const TControl* control) {
    for (const TControl* c = control; c; c = c->Parent()) {
        if (!c->Enabled())
            return false;
    }
    return true;
}

void Focus(TWinControl* control) {
    if (control->Focused() || !control->CanFocus())
        return;
    CallGuarded([control] { control->SetFocus(); });
}

}  // namespace

TGuiBackend* GuiBackend() {
    return Backend;
}

void SetGuiBackend(TGuiBackend* backend) {
    Backend = backend;
}

void SendClick(TControl* control) {
    if (!control || !EnabledUpToForm(control))
        return;
    if (auto* win = dynamic_cast<TWinControl*>(control)) {
        win::SendMessage(win->Handle(), CN_COMMAND, 0, 0);
        return;
    }
    // A control without a window gets the click straight from its parent's.
    CallGuarded([control] { control->Perform(CN_COMMAND, 0, 0); });
}

void SendMenuCommand(TMenuItem* item) {
    if (!item)
        return;
    for (TMenuItem* i = item; i; i = i->Parent()) {
        if (!i->Enabled())
            return;
    }
    TMenu* menu = item->GetParentMenu();
    for (int i = 0; menu && i < Screen->FormCount(); ++i) {
        TCustomForm* form = Screen->Forms(i);
        if (form->Menu() == menu) {
            win::SendMessage(form->Handle(), win::WM_COMMAND, item->Command(), 0);
            return;
        }
    }
    CallGuarded([item] { item->Click(); });
}

void SendCloseRequest(TCustomForm* form) {
    if (!form)
        return;
    win::SendMessage(form->Handle(), win::WM_CLOSE, 0, 0);
}

void SendChars(TWinControl* control, std::string_view chars) {
    if (!control || !EnabledUpToForm(control))
        return;
    Focus(control);
    for (char c : chars) {
        win::SendMessage(control->Handle(), win::WM_CHAR,
                         static_cast<win::WPARAM>(static_cast<unsigned char>(c)), 0);
    }
}

TShiftState KeyShiftState() {
    return Shift;
}

void SendKeyDown(TWinControl* control, win::WORD key, TShiftState shift) {
    if (!control || !EnabledUpToForm(control))
        return;
    Focus(control);
    // Restored afterwards: a handler may send keys of its own.
    const TShiftState outer = Shift;
    Shift = shift;
    win::SendMessage(control->Handle(), win::WM_KEYDOWN, key, 0);
    Shift = outer;
}

void SendTextChange(TWinControl* control, const String& text) {
    if (!control || !EnabledUpToForm(control))
        return;
    win::SendMessage(control->Handle(), win::WM_SETTEXT, 0,
                     reinterpret_cast<win::LPARAM>(text.c_str()));
}

void SendDateChange(TWinControl* control, TDateTime date) {
    if (!control || !EnabledUpToForm(control))
        return;
    win::SendMessage(control->Handle(), CN_DATECHANGE, 0, reinterpret_cast<win::LPARAM>(&date));
}
