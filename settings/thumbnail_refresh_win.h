#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace cvwin {

// The "/refresh " argument as the shell's verbs pass it: quotation marks and
// blanks around it go, and trailing backslashes too, except a drive root's.
std::wstring cleanRefreshPath(std::wstring_view argument);

// Renews one file or, with a progress window, the served files directly in
// one folder; the exit code: 0 done (or nothing to do), 1 failed.
int refreshTarget(std::wstring_view argument);

// Pushes the file through the shell's thumbnail cache with forced extraction
// and tells the shell it changed; whether the cache renewed it.
bool refreshFile(const std::wstring& path);

// Called before each file with its name, index and the total; false stops.
using RefreshProgress =
    std::function<bool(const std::wstring& name, std::size_t index, std::size_t total)>;

// Renews the served files directly in `folder` (not in its subfolders).
void refreshFolder(const std::wstring& folder, const RefreshProgress& progress);

// What the whole-computer refresh did.
struct WholeRefreshOutcome {
    unsigned deletedFiles = 0;  // the user's thumbnail cache files removed
    bool explorerBack = false;  // a shell window is there again
};

// Stops this session's Explorer, deletes the thumbnail cache files it kept
// open, and sees Explorer back, starting it when it does not return on its own.
WholeRefreshOutcome refreshWholeComputer();

}  // namespace cvwin
