#pragma once
// File names and files: the parts of a path, existence, removal.  Both '/'
// and '\\' separate directories, so names written for Windows split too.

#include "runtime/String.h"

bool FileExists(const String& fileName);
bool DeleteFile(const String& fileName);
String ExtractFileName(std::string_view path);
String ExtractFilePath(std::string_view path);
String ExtractFileExt(std::string_view path);
String ChangeFileExt(std::string_view path, std::string_view ext);
