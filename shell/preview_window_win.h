#pragma once

#include <windows.h>

#include "shell/preview_view_win.h"

namespace cvwin {

// What the preview window serves: the handler that owns it.
class PreviewWindowOwner {
public:
    // Everything the window is drawn from.
    virtual PreviewView& view() = 0;
    // A job's reference posted to the window, taken back on the window's
    // thread; the owner (and with it the window) may be gone afterwards.
    virtual void takeBackPostedReference() = 0;
    // The window is being destroyed, by its owner or with its parent.
    virtual void windowGone() = 0;

protected:
    ~PreviewWindowOwner() = default;
};

// Posted by the loading job when the content changed.
inline constexpr UINT kContentChangedMessage = WM_APP + 1;
// Posted by a job that ends while the window exists: its reference to the
// handler is dropped on the window's thread, never while the window paints.
inline constexpr UINT kReleaseJobReferenceMessage = WM_APP + 3;

inline bool isLiveWindow(HWND window) {
    return window != nullptr && IsWindow(window);
}

// The preview's child window of `parent`, placed at `bounds` (at least one
// pixel each way) and serving `owner`; null when it cannot be made.
HWND createPreviewWindow(HWND parent, const RECT& bounds, PreviewWindowOwner* owner);

// Cuts the window loose from its owner and destroys it: at once on its own
// thread, otherwise by a message, since only that thread may destroy it. It
// keeps the library loaded until it has gone.
void closePreviewWindow(HWND window);

// Unregisters the window class when the library is unloaded: a later load
// at another address must not find a class whose procedure points here.
void releasePreviewWindowClass();

}  // namespace cvwin
