// Planted where an elevated installer must not load anything: loading it is
// enough to leave its mark, whatever entry point is called next.
#include "windows/planted_marker.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) cvtest::leavePlantedMark("library");
    return TRUE;
}
