// CorvaneSettings.exe: the settings window, or one of the two command-line
// modes that the shell's refresh verbs and the window's elevated re-run use.
#include <windows.h>

#include "settings/associations_win.h"
#include "settings/command_line_win.h"
#include "settings/settings_window_win.h"
#include "settings/thumbnail_refresh_win.h"

namespace {

constexpr int kBadArgumentsExitCode = 2;
constexpr UINT kFailureExitCode = 1;

// A crash ends the process as a failure: for the command-line modes the exit
// code is the only answer, and it must never read as success.
LONG WINAPI exitOnCrash(EXCEPTION_POINTERS*) {
    TerminateProcess(GetCurrentProcess(), kFailureExitCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

int run(const cvwin::SettingsCommand& command) {
    using Kind = cvwin::SettingsCommand::Kind;
    switch (command.kind) {
        case Kind::Refresh:
            return cvwin::refreshTarget(command.target);
        case Kind::ApplyAssociations:
            return cvwin::applyAssociations(command.enabled) ? 0 : 1;
        case Kind::BadArguments:
            return kBadArgumentsExitCode;
        case Kind::Window:
            return cvwin::runSettingsWindow();
    }
    return 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    SetUnhandledExceptionFilter(exitOnCrash);
    try {
        return run(cvwin::parseSettingsCommand(cvwin::argumentsOf(GetCommandLineW())));
    } catch (...) {
        return 1;
    }
}
