#include "shell/preview_window_win.h"

#include <algorithm>
#include <new>
#include <vector>

#include "shell/server_win.h"
#include "shell/srw_lock_win.h"

namespace cvwin {

namespace {

constexpr const wchar_t* kWindowClass = L"CorvanePreviewWindow";
// Posted to a window whose handler let go of it on another thread, which
// cannot destroy it: the window's own thread does.
constexpr UINT kOrphanedMessage = WM_APP + 2;

INIT_ONCE gClassOnce = INIT_ONCE_STATIC_INIT;
ATOM gClass = 0;

// Guards each window's link to its owner (its user data) and the list of open
// windows; held for a look-up only, never across a message, so no thread
// waits on another's painting.
SRWLOCK gLinks = SRWLOCK_INIT;
// Each counted as a live object of the server, so the library is not unloaded
// under a window still open.
std::vector<HWND> gOpenWindows;

HINSTANCE ownInstance() {
    return moduleHandle() != nullptr ? moduleHandle() : GetModuleHandleW(nullptr);
}

bool openWindow(HWND window, PreviewWindowOwner* owner) {
    const ExclusiveLock locked(gLinks);
    try {
        gOpenWindows.push_back(window);
    } catch (const std::bad_alloc&) {
        return false;  // the window is refused rather than left uncounted
    }
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
    objectCreated();
    return true;
}

// Cuts the window loose and stops counting it, once, whoever notices first
// that it went.
void forgetWindow(HWND window) {
    const ExclusiveLock locked(gLinks);
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    const auto found = std::find(gOpenWindows.begin(), gOpenWindows.end(), window);
    if (found == gOpenWindows.end()) return;
    gOpenWindows.erase(found);
    objectDestroyed();
}

// The owner kept for one message; null for a window cut loose. An owner
// still linked holds its host's reference, which it gives up only after
// cutting the link, so the count taken here never starts from zero.
PreviewWindowOwner* keepOwner(HWND window) {
    const SharedLock locked(gLinks);
    auto* owner = reinterpret_cast<PreviewWindowOwner*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (owner != nullptr) owner->keepForMessage();
    return owner;
}

LRESULT paint(PreviewView& view, HWND window) {
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(window, &paint);
    try {
        if (dc != nullptr) paintPreview(view, window, dc);
    } catch (...) {
        // Out of memory mid-paint: the background stays, the paint still ends.
    }
    EndPaint(window, &paint);
    return 0;
}

LRESULT handleMessage(PreviewWindowOwner& owner, HWND window, UINT message, WPARAM wParam,
                      LPARAM lParam) {
    PreviewView& view = owner.view();
    switch (message) {
        case WM_SIZE:
            layoutTextBox(view, window);
            return 0;
        case WM_PAINT:
            return paint(view, window);
        case WM_PRINTCLIENT:
            paintPreview(view, window, reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC: {
            if (reinterpret_cast<HWND>(lParam) != view.textBox) break;
            HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetTextColor(dc, view.textColor);
            SetBkColor(dc, view.backgroundColor);
            return reinterpret_cast<LRESULT>(textBoxBrush(view));
        }
        case kContentChangedMessage:
            layoutTextBox(view, window);
            InvalidateRect(window, nullptr, TRUE);
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT ownedMessage(PreviewWindowOwner& owner, HWND window, UINT message, WPARAM wParam,
                     LPARAM lParam) {
    LRESULT result = 0;
    try {
        result = handleMessage(owner, window, message, wParam, lParam);
    } catch (...) {
        result = DefWindowProcW(window, message, wParam, lParam);
    }
    owner.endMessage();  // may free the owner: nothing of it is touched after
    return result;
}

LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        if (!openWindow(window, static_cast<PreviewWindowOwner*>(create->lpCreateParams)))
            return FALSE;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    PreviewWindowOwner* owner = keepOwner(window);
    if (message == WM_NCDESTROY) {
        const LRESULT result = DefWindowProcW(window, message, wParam, lParam);
        if (owner != nullptr) {
            owner->windowGone();
            owner->endMessage();
        }
        forgetWindow(window);
        return result;
    }
    if (owner != nullptr) return ownedMessage(*owner, window, message, wParam, lParam);
    if (message == kOrphanedMessage) {
        DestroyWindow(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

BOOL CALLBACK registerWindowClass(INIT_ONCE*, void*, void**) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = windowProcedure;
    windowClass.hInstance = ownInstance();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClass;
    gClass = RegisterClassExW(&windowClass);
    return gClass != 0 ? TRUE : FALSE;  // a failure is tried again at the next window
}

}  // namespace

HWND createPreviewWindow(HWND parent, const RECT& bounds, PreviewWindowOwner* owner) {
    InitOnceExecuteOnce(&gClassOnce, registerWindowClass, nullptr, nullptr);
    const int width = std::max<int>(bounds.right - bounds.left, 1);
    const int height = std::max<int>(bounds.bottom - bounds.top, 1);
    return CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN,
                           bounds.left, bounds.top, width, height, parent, nullptr, ownInstance(),
                           owner);
}

void closePreviewWindow(HWND window) {
    {
        const ExclusiveLock locked(gLinks);
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    }
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
        DestroyWindow(window);
    else
        PostMessageW(window, kOrphanedMessage, 0, 0);
}

void forgetWindowsGoneWithTheirThreads() {
    const ExclusiveLock locked(gLinks);
    const auto gone = std::remove_if(gOpenWindows.begin(), gOpenWindows.end(),
                                     [](HWND window) { return !IsWindow(window); });
    for (auto it = gone; it != gOpenWindows.end(); ++it) objectDestroyed();
    gOpenWindows.erase(gone, gOpenWindows.end());
}

void releasePreviewWindowClass() {
    if (gClass != 0) UnregisterClassW(kWindowClass, ownInstance());
    gClass = 0;
}

}  // namespace cvwin
