#pragma once

#include <string>

namespace corvane_cli {

// Prints title, subtitle, note and body of a sequence or process-icon file,
// as the preview lists it; returns the exit code.
int runListing(const std::string& path);

}  // namespace corvane_cli
