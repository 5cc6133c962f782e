#pragma once

#include <windows.h>

#include <string>

namespace cvwin {

// Where registration keeps the values of other programs it replaced, in the
// root it writes to: beneath this key, each under its own key path and name,
// with its type and bytes unchanged. Registering under HKEY_CURRENT_USER
// keeps them there, under HKEY_LOCAL_MACHINE there; one root's copies are
// never given back into another.
inline constexpr const wchar_t* kReplacedValuesKey = L"Software\\Mirelith\\Corvane\\ReplacedValues";

// Keeps a copy of root\path's value `name` (null: the default value) before
// registration overwrites it. True when it was copied or there is no such
// value; false when it could not be read or kept, and must then stay as it is.
bool keepReplacedValue(HKEY root, const std::wstring& path, const wchar_t* name);

// Writes the kept copy back over root\path's value `name`; false when none
// was kept.
bool giveBackReplacedValue(HKEY root, const std::wstring& path, const wchar_t* name);

// Drops every kept copy under the root, and the settings keys above them if
// that leaves them empty.
void forgetReplacedValues(HKEY root);

}  // namespace cvwin
