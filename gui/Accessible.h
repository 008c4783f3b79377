#pragma once
// What a screen reader calls a control.  A control given a name has that
// name; otherwise a button, check box or group box is called by its caption
// and a form by its title; an edit, a memo or a date picker by the label
// beside it (on its row to the left, the nearest; else the nearest above),
// without the label's accelerator mark and its closing colon; a status bar
// by the text it shows.

#include "gui/Controls.h"

String AccessibleNameOf(const TControl* control);
