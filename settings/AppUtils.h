#pragma once
// The store dispatchers: the persistence components hand the open store over
// as a plain object, and these pick the back end by its class.  A
// TRegIniFile gets the registry operation, a TIniFile the INI operation;
// any other object (or none) makes reads give the default and writes do
// nothing.

#include "runtime/Classes.h"
#include "runtime/String.h"

String StoreReadString(TObject* Store, const String& Section, const String& Ident,
                       const String& Default);
// For an INI file, a text whose first and last characters are both '"' or
// both '\'' (a lone '"' counts) gets one more '"' at each end, since the
// profile functions strip one enclosing pair on reading.
void StoreWriteString(TObject* Store, const String& Section, const String& Ident,
                      const String& Value);
int StoreReadInteger(TObject* Store, const String& Section, const String& Ident, int Default);
void StoreWriteInteger(TObject* Store, const String& Section, const String& Ident, int Value);

// The text an INI file is given for Value (see StoreWriteString).
String IniQuoted(const String& Value);
