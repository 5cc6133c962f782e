#pragma once

#include <array>
#include <string>
#include <string_view>

#include "shell/registration_win.h"

namespace cvwin {

// What one start of the settings program does, from the text after its name.
struct SettingsCommand {
    enum class Kind { Window, Refresh, ApplyAssociations, BadArguments };
    Kind kind = Kind::Window;
    std::wstring target;  // Refresh: everything after "/refresh ", cleaned later; may be empty
    std::array<bool, kServedExtensionCount> enabled{};  // ApplyAssociations, in registration order
};

// "/refresh", found anywhere in the text followed by a blank or by nothing,
// wins over "--apply-associations ", which must be the whole text (blanks
// around it aside) with its seven digits, or it is BadArguments; anything
// else opens the window.
SettingsCommand parseSettingsCommand(std::wstring_view arguments);

// "--apply-associations " and its digits: one for each of .xisf, .fits, .fit,
// .fts, .vmproj, .xpsm and .seq, in that order. .fz goes with the .fits digit,
// so the digits stay as they were; a shared digit is 1 when either is enabled.
std::wstring applyAssociationsArguments(const std::array<bool, kServedExtensionCount>& enabled);

// The command line without the program's name (quoted or not).
std::wstring_view argumentsOf(std::wstring_view commandLine);

}  // namespace cvwin
