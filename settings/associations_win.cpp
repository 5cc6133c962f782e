#include "settings/associations_win.h"

#include <windows.h>

#include "settings/install_state_win.h"
#include "shell/registry_key_win.h"
#include "shell/registry_settings_win.h"

namespace cvwin {

namespace {

using InstallFunction = HRESULT(__stdcall*)(BOOL install, PCWSTR rootName);

class LoadedLibrary {
public:
    explicit LoadedLibrary(const std::wstring& path)
        : module_(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) {}
    ~LoadedLibrary() {
        if (module_ != nullptr) FreeLibrary(module_);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;
    HMODULE get() const { return module_; }

private:
    HMODULE module_;
};

bool writeSwitches(HKEY root, const std::array<bool, kServedExtensionCount>& enabled) {
    RegistryKey key;
    if (!key.create(root, kSettingsKey, KEY_SET_VALUE)) return false;
    for (std::size_t i = 0; i < kServedExtensionCount; ++i) {
        const std::wstring name = extensionSwitchName(servedExtension(i));
        const DWORD value = enabled[i] ? 1 : 0;
        if (RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&value), sizeof value) != ERROR_SUCCESS) {
            return false;
        }
    }
    return true;
}

}  // namespace

// Registration goes through DllInstall with the install root named, not
// through DllRegisterServer: that one picks its root from the token, and a
// per-user install run elevated would otherwise be registered for all users,
// with switches it never reads, while the user's own keys are removed.
bool applyAssociations(const std::array<bool, kServedExtensionCount>& enabled) {
    const std::wstring folder = programFolder();
    if (folder.empty()) return false;
    const std::wstring serverPath = folder + L"Corvane.dll";
    const InstallRoot root = installRoot();
    if (root == InstallRoot::Machine && !isMachineServer()) return false;
    if (!writeSwitches(rootKey(root), enabled)) return false;
    const LoadedLibrary server(serverPath);
    if (server.get() == nullptr) return false;
    const auto install = reinterpret_cast<InstallFunction>(
        reinterpret_cast<void*>(GetProcAddress(server.get(), "DllInstall")));
    if (install == nullptr) return false;
    const wchar_t* rootName = root == InstallRoot::Machine ? L"machine" : L"user";
    install(FALSE, rootName);
    return SUCCEEDED(install(TRUE, rootName));
}

}  // namespace cvwin
