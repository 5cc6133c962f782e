#pragma once

#include <windows.h>

#include <array>
#include <string>

#include "shell/registration_win.h"

namespace cvwin {

// The running program's full path, and its folder with the trailing
// backslash; empty when the path cannot be had whole.
std::wstring programPath();
std::wstring programFolder();

// The machine's root when the thumbnail provider's class is registered there
// (Corvane was installed for all users), the user's otherwise.
InstallRoot installRoot();
HKEY rootKey(InstallRoot root);

// Whether the server beside this program is the one registered for all
// users: only that copy may register again for them.
bool isMachineServer();

// Whether a rename of the server beside this program waits for a restart
// (an update that replaced a DLL still in use).
bool isRestartPending();

// Whether an all-users install lacks the preview handler's approval entry
// (registration stopped part-way, or was never run elevated).
bool machineRegistrationIncomplete();

// Whether the registry under `root` differs from the wanted file types: a
// switch or a preview handler that is not as the boxes say.
bool associationsChanged(HKEY root, const std::array<bool, kServedExtensionCount>& wanted);

}  // namespace cvwin
