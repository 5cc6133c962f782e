#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string>

namespace cvwin {

// Where a registration goes: the current user's classes, or the machine's
// (which alone can list property handlers and register the schema).
enum class InstallRoot { User, Machine };

// The served extensions, in registration order: ".xisf", ".fits", ".fit",
// ".fts", ".vmproj", ".xpsm", ".seq", ".fz".
constexpr std::size_t kServedExtensionCount = 8;
const wchar_t* servedExtension(std::size_t index);

bool processIsElevated();
void notifyAssociationsChanged();
HRESULT registerPropertySchema(const std::wstring& schemaPath);
HRESULT unregisterPropertySchema(const std::wstring& schemaPath);

// What registration asks of the system. Tests replace any part: Wine's token
// is always elevated, and its schema calls are stubs.
struct RegistrationSystem {
    HKEY userRoot = HKEY_CURRENT_USER;
    HKEY machineRoot = HKEY_LOCAL_MACHINE;
    std::function<bool()> elevated = processIsElevated;
    std::function<void()> notifyShell = notifyAssociationsChanged;
    std::function<HRESULT(const std::wstring&)> registerSchema = registerPropertySchema;
    std::function<HRESULT(const std::wstring&)> unregisterSchema = unregisterPropertySchema;

    HKEY rootKey(InstallRoot root) const {
        return root == InstallRoot::Machine ? machineRoot : userRoot;
    }
};

// The server's own file path; a failure as the Win32 error's HRESULT.
HRESULT serverFilePath(std::wstring& path);

// The schema file beside the server: its path with the extension replaced.
std::wstring schemaPathBeside(const std::wstring& serverPath);

// Writes the classes, the associations of every switched-on extension, the
// refresh commands and, under the machine root, the machine-wide lists and
// the schema. Another program's handler, list or file type it replaces is
// kept first (replaced_values_win.h); one that cannot be kept is not
// replaced. A failure does not undo what was written.
HRESULT registerServer(InstallRoot root, const std::wstring& serverPath,
                       const RegistrationSystem& system);

// Removes what registration writes under the root, whatever the switches
// say: kept values of other programs go back where Corvane's still stand,
// values another program has taken over since stay, as do content types with
// nothing to give back, and keys left empty on Corvane's paths are deleted.
// Harmless where nothing was registered.
void unregisterServer(InstallRoot root, const std::wstring& serverPath,
                      const RegistrationSystem& system);

// DllRegisterServer: the machine's root when the token is elevated, the
// user's otherwise; the shell hears of it only after a success.
HRESULT registerForToken(const std::wstring& serverPath, const RegistrationSystem& system);

// DllUnregisterServer: the user's root, and the machine's when elevated.
HRESULT unregisterForToken(const std::wstring& serverPath, const RegistrationSystem& system);

// DllInstall: "user" or "machine" names the root, whatever the token says.
HRESULT installUnderRoot(bool install, const wchar_t* rootName, const std::wstring& serverPath,
                         const RegistrationSystem& system);

}  // namespace cvwin
