#include "gui/Clipbrd.h"

#include "gui/Backend.h"

namespace {

String& OwnText() {
    static String text;
    return text;
}

}  // namespace

String TClipboard::AsText() const {
    String text;
    if (TGuiBackend* backend = GuiBackend(); backend && backend->ClipboardText(text))
        return text;
    return OwnText();
}

void TClipboard::SetAsText(const String& value) {
    if (TGuiBackend* backend = GuiBackend(); backend && backend->SetClipboardText(value))
        return;
    OwnText() = value;
}

TClipboard* Clipboard() {
    static TClipboard clipboard;
    return &clipboard;
}
