#include "settings/install_state_win.h"

#include <vector>

#include "shell/class_ids_win.h"
#include "shell/registry_key_win.h"
#include "shell/registry_settings_win.h"

namespace cvwin {

namespace {

constexpr DWORD kPathCapacity = 32768;             // characters: the longest path Windows knows
constexpr DWORD kMaxPendingRenameBytes = 1 << 20;  // the system's list of renames read at most

// Whether the extension's preview handler is Corvane's: a key another program
// took over for a type switched off is no reason to register again.
bool servesPreview(HKEY root, const wchar_t* extension) {
    const std::wstring previewKey = std::wstring(L"Software\\Classes\\SystemFileAssociations\\") +
                                    extension + L"\\ShellEx\\" + kPreviewHandlerPoint;
    return registryTextEquals(root, previewKey.c_str(), nullptr, guidText(kPreviewHandlerClsid));
}

}  // namespace

std::wstring programPath() {
    std::wstring path(kPathCapacity, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), kPathCapacity);
    if (length == 0 || length >= kPathCapacity) return {};
    path.resize(length);
    return path;
}

std::wstring programFolder() {
    const std::wstring path = programPath();
    return path.substr(0, path.rfind(L'\\') + 1);
}

InstallRoot installRoot() {
    RegistryKey key;
    const std::wstring classKey = L"Software\\Classes\\CLSID\\" + guidText(kThumbnailProviderClsid);
    return key.open(HKEY_LOCAL_MACHINE, classKey.c_str(), KEY_READ) ? InstallRoot::Machine
                                                                    : InstallRoot::User;
}

HKEY rootKey(InstallRoot root) {
    return root == InstallRoot::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// Another copy of the program (an unpacked folder, a build) must not point
// every user's Explorer at its own, perhaps user-writable, folder.
bool isMachineServer() {
    const std::wstring folder = programFolder();
    return !folder.empty() &&
           registryTextEquals(HKEY_LOCAL_MACHINE,
                              (L"Software\\Classes\\CLSID\\" + guidText(kThumbnailProviderClsid) +
                               L"\\InprocServer32")
                                  .c_str(),
                              nullptr, folder + L"Corvane.dll");
}

bool isRestartPending() {
    const std::wstring folder = programFolder();
    if (folder.empty()) return false;
    std::wstring server = folder + L"Corvane.dll";
    CharLowerBuffW(server.data(), static_cast<DWORD>(server.size()));
    RegistryKey key;
    if (!key.open(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                  KEY_QUERY_VALUE)) {
        return false;
    }
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, &type, nullptr,
                         &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ || size == 0 || size > kMaxPendingRenameBytes) {
        return false;
    }
    std::vector<wchar_t> names(size / sizeof(wchar_t) + 2, L'\0');
    if (RegQueryValueExW(key.get(), L"PendingFileRenameOperations", nullptr, &type,
                         reinterpret_cast<BYTE*>(names.data()), &size) != ERROR_SUCCESS) {
        return false;
    }
    // Every string, the empty ones that mark a deletion's missing target included.
    const std::size_t count = size / sizeof(wchar_t);
    for (std::size_t at = 0; at < count;) {
        std::wstring name(names.data() + at);
        at += name.size() + 1;
        CharLowerBuffW(name.data(), static_cast<DWORD>(name.size()));
        if (!name.empty() && name.find(server) != std::wstring::npos) return true;
    }
    return false;
}

bool associationsChanged(HKEY root, const std::array<bool, kServedExtensionCount>& wanted) {
    for (std::size_t i = 0; i < kServedExtensionCount; ++i) {
        const wchar_t* extension = servedExtension(i);
        if (wanted[i] != servesPreview(root, extension) ||
            wanted[i] != extensionEnabled(root, extension))
            return true;
    }
    return false;
}

bool machineRegistrationIncomplete() {
    return RegGetValueW(HKEY_LOCAL_MACHINE,
                        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\PreviewHandlers",
                        guidText(kPreviewHandlerClsid).c_str(), RRF_RT_REG_SZ, nullptr, nullptr,
                        nullptr) != ERROR_SUCCESS;
}

}  // namespace cvwin
