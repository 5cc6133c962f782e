#pragma once

#include <array>
#include <string>

#include "shell/registration_win.h"

namespace cvwin {

// The machine's root when the thumbnail provider's class is registered there
// (Corvane was installed for all users), the user's otherwise.
InstallRoot installRoot();

// The running program's full path, and its folder with the trailing
// backslash; empty when the path cannot be had whole.
std::wstring programPath();
std::wstring programFolder();

// Whether the server beside this program is the one registered for all
// users: only that copy may register again for them.
bool isMachineServer();

// Writes the file-type switches under the install root and registers the
// server beside this program again under that same root.
bool applyAssociations(const std::array<bool, kServedExtensionCount>& enabled);

}  // namespace cvwin
