#pragma once

#include <windows.h>

#include "shell/preview_view_win.h"

namespace cvwin {

// What the preview window serves: the handler that owns it.
class PreviewWindowOwner {
public:
    // Everything the window is drawn from.
    virtual PreviewView& view() = 0;
    // A reference held while the window handles one message, so a job that
    // drops its own meanwhile, on its thread, never frees the owner under it.
    virtual void keepForMessage() = 0;
    // Drops that reference: the owner may be gone afterwards.
    virtual void endMessage() = 0;
    // The window is being destroyed, by its owner or with its parent.
    virtual void windowGone() = 0;

protected:
    ~PreviewWindowOwner() = default;
};

// Posted by the loading job when the content changed.
inline constexpr UINT kContentChangedMessage = WM_APP + 1;

inline bool isLiveWindow(HWND window) {
    return window != nullptr && IsWindow(window);
}

// The preview's child window of `parent`, placed at `bounds` (at least one
// pixel each way) and serving `owner`, which must stay alive until the window
// is closed or reports itself gone; null when it cannot be made.
HWND createPreviewWindow(HWND parent, const RECT& bounds, PreviewWindowOwner* owner);

// Cuts the window loose from its owner, waiting out no message but the look
// up of the owner itself, and destroys it: at once on its own thread,
// otherwise by a message, since only that thread may destroy it. It keeps the
// library loaded until it has gone.
void closePreviewWindow(HWND window);

// Stops counting the windows that ended with their thread: the system
// destroys those without a message, so nothing else would ever tell.
void forgetWindowsGoneWithTheirThreads();

// Unregisters the window class when the library is unloaded: a later load
// at another address must not find a class whose procedure points here.
void releasePreviewWindowClass();

}  // namespace cvwin
