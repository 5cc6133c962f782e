#pragma once

#include <array>
#include <string>

#include "shell/registration_win.h"

namespace cvwin {

// Writes the file-type switches under the install root and registers the
// server beside this program again under that same root.
bool applyAssociations(const std::array<bool, kServedExtensionCount>& enabled);

}  // namespace cvwin
