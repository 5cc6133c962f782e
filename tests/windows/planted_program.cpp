// Planted where an elevated installer must not run anything: it only leaves its mark.
#include "windows/planted_marker.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    cvtest::leavePlantedMark("program");
    return 0;
}
