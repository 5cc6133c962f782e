#pragma once

#include <windows.h>

namespace cvwin {

// Starts the settings window and runs its message loop; the exit code: 0
// after the window closed, 1 when it could not be created.
int runSettingsWindow();

}  // namespace cvwin
