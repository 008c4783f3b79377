#pragma once
// The user's input, delivered the way the windowing system delivers it: as
// messages sent to the control's window.  A window hook sees them, and an
// exception from a handler they run goes to the application's exception
// handler instead of the caller.  The backend translates its events into
// these calls; tests and the command-line front end call them to act as the
// user would.

#include "gui/Controls.h"
#include "runtime/DateTime.h"

class TMenuItem;
class TCustomForm;

// A press of a button or a click on a check box (nothing when disabled).
void SendClick(TControl* control);
// A choice of a menu item (nothing when it or a parent item is disabled).
void SendMenuCommand(TMenuItem* item);
// The close button of a form's title bar.
void SendCloseRequest(TCustomForm* form);
// Characters typed into a focused edit, one WM_CHAR each.
void SendChars(TWinControl* control, std::string_view chars);
// A key press such as VK_BACK, VK_DELETE, VK_LEFT, VK_HOME, with the
// modifiers held down (KeyShiftState() while it is handled).
void SendKeyDown(TWinControl* control, win::WORD key, TShiftState shift = {});
// The whole text of an edit replaced by the user (pasting, a backend's editor).
void SendTextChange(TWinControl* control, const String& text);
// A date picked from a picker's calendar.
void SendDateChange(TWinControl* control, TDateTime date);
