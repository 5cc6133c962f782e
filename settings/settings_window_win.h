#pragma once

#include <windows.h>

namespace cvwin {

// Starts the settings window and runs its message loop; the exit code: 0
// after the window closed, 1 when it could not be created.
int runSettingsWindow();

// Whether a rename of the server beside this program waits for a restart
// (an update that replaced a DLL still in use).
bool isRestartPending();

// The whole-computer refresh: Explorer is stopped, its thumbnail cache files
// deleted, and Explorer started again; the outcome goes to the status line.
void refreshAllThumbnails(HWND settingsWindow);

}  // namespace cvwin
