#pragma once

#include <string>

namespace corvane_cli {

struct InfoOptions {
    std::string path;
    bool json = false;
};

// Prints what the header reader decoded; returns the process exit code
// (0 read, 1 unreadable).
int runInfo(const InfoOptions& options);

}  // namespace corvane_cli
