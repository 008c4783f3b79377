#pragma once
// Message boxes: modal, centred on the screen, one OK button.  Every box is
// recorded before it is shown, so tests and the command-line front end can
// read what the user would see; headless, a box returns IDOK at once.

#include <functional>
#include <vector>

#include "platform/WinTypes.h"
#include "runtime/String.h"

namespace win {
constexpr UINT MB_OK = 0x00000000;
constexpr UINT MB_OKCANCEL = 0x00000001;
constexpr UINT MB_YESNO = 0x00000004;
constexpr UINT MB_ICONHAND = 0x00000010;
constexpr UINT MB_ICONSTOP = MB_ICONHAND;
constexpr UINT MB_ICONERROR = MB_ICONHAND;
constexpr UINT MB_ICONQUESTION = 0x00000020;
constexpr UINT MB_ICONEXCLAMATION = 0x00000030;
constexpr UINT MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr UINT MB_ICONINFORMATION = 0x00000040;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
}  // namespace win

struct TMessageBoxRecord {
    String Text;     // cp1251, line breaks as given
    String Caption;  // cp1251
    win::UINT Flags = 0;
};

// The boxes shown so far, oldest first.
const std::vector<TMessageBoxRecord>& RecordedMessageBoxes();
void ClearRecordedMessageBoxes();
// Called with each box as it is about to be shown (the command-line front
// end prints it); an empty function removes the listener.
using TMessageBoxListener = std::function<void(const TMessageBoxRecord&)>;
void SetMessageBoxListener(TMessageBoxListener listener);

// A box with the text, captioned with the application's title, one OK button.
void ShowMessage(const String& text);

namespace gui_detail {
// Records the box, tells the listener, and shows it through the backend
// (IDOK headless).  Application->MessageBox lands here.
int ShowMessageBoxRecorded(const String& text, const String& caption, win::UINT flags);
}  // namespace gui_detail
