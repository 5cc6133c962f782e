#include "shell/own_module_win.h"

namespace cvwin {

HMODULE referenceOwnModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(&referenceOwnModule), &module);
    return module;
}

}  // namespace cvwin
