// The COM server's entry points.
#include <windows.h>

#include "core/large_allocator.h"
#include "shell/class_factory_win.h"
#include "shell/class_ids_win.h"
#include "shell/fault_guard_win.h"
#include "shell/preview_handler_win.h"
#include "shell/preview_window_win.h"
#include "shell/server_win.h"
#include "shell/property_store_win.h"
#include "shell/registration_win.h"
#include "shell/thumbnail_provider_win.h"

// The runtime's reserve for throwing when memory runs out, made once per
// load and otherwise never freed.
namespace __gnu_cxx {
void __freeres();
}

namespace {

struct ServedClass {
    const CLSID* clsid;
    cvwin::CreateFunction create;
};

const ServedClass kClasses[] = {
    {&cvwin::kThumbnailProviderClsid, cvwin::createThumbnailProvider},
    {&cvwin::kPropertyStoreClsid, cvwin::createPropertyStore},
    {&cvwin::kPreviewHandlerClsid, cvwin::createPreviewHandler},
};

}  // namespace

// On unloading (not at process exit, when the system reclaims everything and
// other threads are already gone) the TLS slot, the preview's window class,
// the kept render buffers and the runtime's exception reserve are given
// back: the shell may load and unload the library many times in one process,
// and each load would otherwise leave them behind, the class with a
// procedure pointing into unmapped code. Nothing of the library throws after
// this.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        cvwin::setModuleHandle(module);
        DisableThreadLibraryCalls(module);
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        cvwin::releaseFaultGuard();
        cvwin::releasePreviewWindowClass();
        cv::releaseCachedBlocks();
        __gnu_cxx::__freeres();
    }
    return TRUE;
}

extern "C" HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    for (const auto& served : kClasses) {
        if (clsid == *served.clsid) return cvwin::createClassFactory(served.create, riid, object);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

// A preview window that ended with its thread got no last message: it is
// noticed gone here, or the library would stay loaded for good. The host
// asks when it sweeps its unused libraries: the buffers kept for the next
// render go back then when none of its objects is left, and those unused a
// while in any case.
extern "C" HRESULT __stdcall DllCanUnloadNow() {
    cvwin::forgetWindowsGoneWithTheirThreads();
    const bool unused = cvwin::canUnloadNow();
    if (unused)
        cv::releaseCachedBlocks();
    else
        cv::trimIdleCachedBlocks();
    return unused ? S_OK : S_FALSE;
}

namespace {

// Registration builds texts and tables: an allocation failure must end as an
// HRESULT, not as an exception crossing into regsvr32 or the settings program.
template <typename Work>
HRESULT withoutExceptions(Work work) {
    try {
        return work();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

// Removal goes on without the server's path: only the schema needs it.
std::wstring serverPathOrEmpty() {
    std::wstring path;
    return SUCCEEDED(cvwin::serverFilePath(path)) ? path : std::wstring();
}

}  // namespace

extern "C" HRESULT __stdcall DllRegisterServer() {
    return withoutExceptions([] {
        std::wstring path;
        const HRESULT found = cvwin::serverFilePath(path);
        return FAILED(found) ? found : cvwin::registerForToken(path, cvwin::RegistrationSystem{});
    });
}

extern "C" HRESULT __stdcall DllUnregisterServer() {
    withoutExceptions(
        [] { return cvwin::unregisterForToken(serverPathOrEmpty(), cvwin::RegistrationSystem{}); });
    return S_OK;
}

// "user" or "machine" in `cmdLine` chooses the root, whatever the token says:
// `regsvr32 /n /i:user Corvane.dll` registers for the current user.
extern "C" HRESULT __stdcall DllInstall(BOOL install, PCWSTR cmdLine) {
    return withoutExceptions([install, cmdLine] {
        std::wstring path;
        const HRESULT found = cvwin::serverFilePath(path);
        if (install && FAILED(found)) return found;
        return cvwin::installUnderRoot(install != FALSE, cmdLine, path,
                                       cvwin::RegistrationSystem{});
    });
}
