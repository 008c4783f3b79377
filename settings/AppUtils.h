#pragma once
// The store dispatchers: the persistence components hand the open store over
// as a plain object, and these pick the back end by its class.  A
// TRegIniFile gets the registry operation, a TIniFile the INI operation;
// any other object (or none) makes reads give the default and writes do
// nothing.  Also: where the application's settings live by default, and the
// section a component's settings go to.

#include "runtime/Classes.h"
#include "runtime/String.h"

class TCustomForm;

String StoreReadString(TObject* Store, const String& Section, const String& Ident,
                       const String& Default);
// For an INI file, a text whose first and last characters are both '"' or
// both '\'' (a lone '"' counts) gets one more '"' at each end, since the
// profile functions strip one enclosing pair on reading.
void StoreWriteString(TObject* Store, const String& Section, const String& Ident,
                      const String& Value);
int StoreReadInteger(TObject* Store, const String& Section, const String& Ident, int Default);
void StoreWriteInteger(TObject* Store, const String& Section, const String& Ident, int Value);
// "0" or "1".
void StoreWriteBool(TObject* Store, const String& Section, const String& Ident, bool Value);
// The text as it is, also for an INI file (no quoting).
void StoreWriteRawString(TObject* Store, const String& Section, const String& Ident,
                         const String& Value);
// Erases the section with everything in (and, in the registry, below) it.
void StoreEraseSection(TObject* Store, const String& Section);

// The text an INI file is given for Value (see StoreWriteString).
String IniQuoted(const String& Value);

// The executable's file name without its directory and its extension.
String ApplicationName();
// "Software\" followed by the application name.
String DefaultRegistryKey();
// The executable's file name without its directory, with the extension
// ".INI" (a bare name: the profile functions keep it in their Windows
// directory).
String DefaultIniFileName();
// The section the settings of a component owned by Component go to: empty
// for none; a form's class name; for a control its name, directly after the
// class name of its form (else its parent's name); for any other component
// its name, or "%s.%s" of its form owner's class name and its name.
String GetDefaultSection(TComponent* Component);

// The first of the screen's forms, then of its data modules, whose name is
// Name (case ignored), or nullptr.
TComponent* FindFormByName(const String& Name);
