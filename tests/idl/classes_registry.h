// Reading HKEY_CLASSES_ROOT in the process's own view, where the proxy/stub
// DLL of the same bitness registers.
#pragma once

#include <windows.h>

#include <string>

namespace idltest {

// Default value (or `name`) of HKCR\<path>; empty if absent or not a string.
std::wstring ReadClassesValue(const std::wstring &path, const wchar_t *name = nullptr);

bool ClassesKeyExists(const std::wstring &path);

std::wstring Upper(std::wstring text);

}  // namespace idltest
