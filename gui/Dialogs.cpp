#include "gui/Dialogs.h"

#include "gui/Backend.h"
#include "gui/Forms.h"

namespace {

std::vector<TMessageBoxRecord>& Records() {
    static std::vector<TMessageBoxRecord> records;
    return records;
}

TMessageBoxListener& Listener() {
    static TMessageBoxListener listener;
    return listener;
}

}  // namespace

const std::vector<TMessageBoxRecord>& RecordedMessageBoxes() {
    return Records();
}

void ClearRecordedMessageBoxes() {
    Records().clear();
}

void SetMessageBoxListener(TMessageBoxListener listener) {
    Listener() = std::move(listener);
}

void ShowMessage(const String& text) {
    Application->MessageBox(text, Application->Title(), win::MB_OK);
}

namespace gui_detail {

int ShowMessageBoxRecorded(const String& text, const String& caption, win::UINT flags) {
    TMessageBoxRecord record{text, caption, flags};
    Records().push_back(record);
    if (TMessageBoxListener listener = Listener())
        listener(record);
    if (TGuiBackend* backend = GuiBackend())
        return backend->ShowMessageBox(text, caption, flags);
    return win::IDOK;
}

}  // namespace gui_detail
