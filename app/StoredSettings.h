#pragma once
// The settings the rates window keeps between runs: five control values
// and the window position, in the registry under
// HKEY_CURRENT_USER\Software\kurs\TForm1.

#include "runtime/String.h"

class TComponent;

// The stored control properties, in the order they are saved.
inline constexpr const char* StoredSettingNames[] = {
    "cbxProxy.Checked", "edtProxy.Text", "edtPort.Text", "edtServer.Text", "edtTimeOut.Text"};
// The key of the window program's settings (its section is the form's class name).
inline constexpr const char* WindowSettingsKey = "Software\\kurs";

// Puts the stored control values of Key\<Form's class name> back into Form's
// controls the way the window's own restore does, opening the registry for
// reading only: nothing is created or written.  Missing or unreadable values
// leave their controls as they are.
void RestoreStoredSettingsReadOnly(TComponent* Form, const String& Key);
