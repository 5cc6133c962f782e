#include "shell/preview_window_win.h"

#include <algorithm>

#include "shell/server_win.h"

namespace cvwin {

namespace {

constexpr const wchar_t* kWindowClass = L"CorvanePreviewWindow";
// Posted to a window whose handler died on another thread, which cannot
// destroy it: the window's own thread does.
constexpr UINT kOrphanedMessage = WM_APP + 2;

INIT_ONCE gClassOnce = INIT_ONCE_STATIC_INIT;
ATOM gClass = 0;

HINSTANCE ownInstance() {
    return moduleHandle() != nullptr ? moduleHandle() : GetModuleHandleW(nullptr);
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
        case kReleaseJobReferenceMessage:
            owner.takeBackPostedReference();  // may destroy the owner and this window: nothing of
                                              // either is touched after
            return 0;
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Each window counts as a live object of the server from creation to its
// last message, so the library is not unloaded under a window still open.
LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        objectCreated();
        return DefWindowProcW(window, message, wParam, lParam);
    }
    auto* owner = reinterpret_cast<PreviewWindowOwner*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        if (owner != nullptr) owner->windowGone();
        objectDestroyed();
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (owner == nullptr) {
        if (message == kOrphanedMessage) {
            DestroyWindow(window);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    try {
        return handleMessage(*owner, window, message, wParam, lParam);
    } catch (...) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
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
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId())
        DestroyWindow(window);
    else
        PostMessageW(window, kOrphanedMessage, 0, 0);
}

void releasePreviewWindowClass() {
    if (gClass != 0) UnregisterClassW(kWindowClass, ownInstance());
    gClass = 0;
}

}  // namespace cvwin
