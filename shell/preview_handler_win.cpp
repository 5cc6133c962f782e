#include "shell/preview_handler_win.h"

#include <algorithm>
#include <new>

#include "preview/listing.h"
#include "preview/preview_picture.h"
#include "shell/fault_guard_win.h"
#include "shell/registry_settings_win.h"
#include "shell/server_win.h"

namespace cvwin {

namespace {

constexpr const wchar_t* kWindowClass = L"CorvanePreviewWindow";
constexpr const wchar_t* kLoadingText = L"Loading image...";
constexpr const wchar_t* kUnreadableText = L"This file could not be read.";
constexpr DWORD kJobWaitMs = 5000;
constexpr COLORREF kDarkBackground = 0x202020;
constexpr COLORREF kDarkText = 0xF0F0F0;
// Posted to a window whose handler died on another thread, which cannot
// destroy it: the window's own thread does.
constexpr UINT kOrphanedMessage = WM_APP + 2;
// Posted by a job that ends while the window exists: its reference to the
// handler is dropped on the window's thread, never while the window paints.
constexpr UINT kReleaseJobReferenceMessage = WM_APP + 3;

INIT_ONCE gClassOnce = INIT_ONCE_STATIC_INIT;
ATOM gClass = 0;

HINSTANCE ownInstance() { return moduleHandle() != nullptr ? moduleHandle() : GetModuleHandleW(nullptr); }

BOOL CALLBACK registerWindowClass(INIT_ONCE*, void*, void**) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = PreviewHandler::windowProcedure;
    windowClass.hInstance = ownInstance();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClass;
    gClass = RegisterClassExW(&windowClass);
    return gClass != 0 ? TRUE : FALSE;  // a failure is tried again at the next window
}

// The system's app theme: dark only when "AppsUseLightTheme" is a REG_DWORD 0.
bool appsUseDarkTheme() {
    return registryDword(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                         L"AppsUseLightTheme")
               .value_or(1) == 0;
}

// A reference to this library that a job hands back as its very last act,
// so the code it returns through stays mapped.
HMODULE referenceOwnModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&referenceOwnModule),
                       &module);
    return module;
}

bool isLiveWindow(HWND window) { return window != nullptr && IsWindow(window); }

}  // namespace

// One loading job: its own reference to the stream (a job that outlives
// Unload's wait reads a stream nobody else uses), its own cancel flag (a
// later DoPreview's reset does not revive it) and the generation that alone
// may publish.
struct PreviewJob {
    PreviewHandler* handler = nullptr;  // one reference, dropped at the end
    StreamAdapter source;
    std::shared_ptr<std::atomic<bool>> cancel;
    std::uint64_t generation = 0;
    HMODULE module = nullptr;
    PreviewContent content;
};

namespace {

// Refuses every read once the preview is cancelled: a job that outlives
// Unload never touches the stream again, even when the host hands the same
// stream to the next preview.
class CancellableReader final : public cv::Reader {
public:
    CancellableReader(cv::Reader& inner, const std::atomic<bool>& cancel) : inner_(inner), cancel_(cancel) {}
    std::uint64_t size() const override { return inner_.size(); }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override {
        return !cancel_.load() && inner_.read(offset, destination, count);
    }

private:
    cv::Reader& inner_;
    const std::atomic<bool>& cancel_;
};

void showListing(PreviewContent& content, cv::PreviewListing&& listing) {
    content.wrapLines = listing.wrapLines;
    content.listing = std::move(listing);
    content.listingMode = true;
    content.listingChanged = true;
}

// Text kinds first, then the picture. The content is filled only at the
// end, so a fault part-way leaves it untouched.
HRESULT loadContent(void* context) {
    auto& job = *static_cast<PreviewJob*>(context);
    CancellableReader source(job.source, *job.cancel);
    PreviewContent content;
    cv::ListingResult listing = cv::buildListing(source);
    if (listing.outcome == cv::ListingOutcome::Built) {
        showListing(content, std::move(listing.listing));
    } else if (listing.outcome == cv::ListingOutcome::Failed) {
        content.statusText = kUnreadableText;
    } else {
        cv::PreviewPicture loaded;
        if (cv::loadPreviewPicture(source, readRenderSettings(), job.cancel.get(), loaded) == cv::ReadStatus::Ok) {
            setPicture(content, std::move(loaded.picture), loaded.metadata);
        } else if (!job.cancel->load()) {
            content.statusText = kUnreadableText;
        }
    }
    job.content = std::move(content);
    return S_OK;
}

}  // namespace

HRESULT createPreviewHandler(REFIID riid, void** object) { return createObject<PreviewHandler>(riid, object); }

void releasePreviewWindowClass() {
    if (gClass != 0) UnregisterClassW(kWindowClass, ownInstance());
    gClass = 0;
}

PreviewHandler::PreviewHandler() {
    view_.backgroundColor = GetSysColor(COLOR_WINDOW);
    view_.textColor = GetSysColor(COLOR_WINDOWTEXT);
    jobDone_.reset(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    const cv::RenderSettings settings = readRenderSettings();
    view_.showSidebar = settings.previewSidebar;
    if (settings.previewDarkBackground || appsUseDarkTheme()) {
        view_.darkMode = true;
        view_.backgroundColor = kDarkBackground;
        view_.textColor = kDarkText;
    }
}

PreviewHandler::~PreviewHandler() {
    destroyWindow();
    stream_.detach();
}

// When the host drops its last reference while jobs still hold theirs, the
// loading stops and the site goes back now, on the host's thread, while this
// reference still keeps the handler. A job lowers its count before its
// reference, so a job ending meanwhile never makes this look true early.
IFACEMETHODIMP_(ULONG) PreviewHandler::Release() {
    if (references() - 1 == InterlockedCompareExchange(&jobReferences_, 0, 0)) {
        hostLetGo();
    }
    return dropReference();
}

void PreviewHandler::hostLetGo() {
    if (cancel_) cancel_->store(true);
    site_.Reset();
}

IFACEMETHODIMP PreviewHandler::Initialize(IStream* stream, DWORD) {
    if (initialized_) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    if (!stream_.attach(stream)) return E_INVALIDARG;
    initialized_ = true;
    return S_OK;
}

IFACEMETHODIMP PreviewHandler::SetWindow(HWND parent, const RECT* rect) {
    const HWND previous = parentWindow_;
    parentWindow_ = parent;
    if (rect != nullptr) bounds_ = *rect;
    if (!isLiveWindow(window_)) createWindow();
    else if (parent != previous && isLiveWindow(parent)) ::SetParent(window_, parent);
    return SetRect(rect);
}

IFACEMETHODIMP PreviewHandler::SetRect(const RECT* rect) {
    if (rect != nullptr) bounds_ = *rect;
    createWindow();
    if (isLiveWindow(window_)) {
        SetWindowPos(window_, nullptr, bounds_.left, bounds_.top, bounds_.right - bounds_.left,
                     bounds_.bottom - bounds_.top, SWP_NOZORDER | SWP_NOACTIVATE);
        InvalidateRect(window_, nullptr, TRUE);
    }
    return S_OK;
}

IFACEMETHODIMP PreviewHandler::DoPreview() {
    if (busy_) return E_FAIL;
    if (!initialized_) return E_UNEXPECTED;
    PreviewJob* job = nullptr;
    try {
        job = new PreviewJob;
        job->cancel = std::make_shared<std::atomic<bool>>(false);
    } catch (...) {
        delete job;
        return E_OUTOFMEMORY;
    }
    createWindow();
    job->source.attach(stream_.stream());
    cancel_ = job->cancel;
    {
        const Locked locked(view_.lock);
        view_.content.statusText = kLoadingText;
        view_.content.hasPicture = false;
        job->generation = ++generation_;
    }
    busy_ = true;
    ResetEvent(jobDone_.get());
    jobInFlight_ = true;
    AddRef();
    job->handler = this;
    job->module = referenceOwnModule();
    InterlockedIncrement(&jobReferences_);
    if (TrySubmitThreadpoolCallback(&PreviewHandler::runJob, job, nullptr)) {
        invalidate();  // "Loading image..." until the job posts its result
        return S_OK;
    }
    jobInFlight_ = false;
    runJob(nullptr, job);
    invalidate();
    return S_OK;
}

void CALLBACK PreviewHandler::runJob(PTP_CALLBACK_INSTANCE instance, void* context) {
    auto* job = static_cast<PreviewJob*>(context);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(runGuarded(loadContent, job))) {
        job->content = PreviewContent{};
        try {
            job->content.statusText = kUnreadableText;
        } catch (...) {
            // Out of memory: the window is left empty rather than the callback thrown out of.
        }
    }
    job->handler->publish(job->generation, std::move(job->content));
    job->source.detach();  // the stream is a COM object: released while COM is still initialised here
    if (SUCCEEDED(com)) CoUninitialize();
    finishJob(job, instance);
}

// Drops the job's references: the stream, the handler and, as the callback
// returns, the library.
void PreviewHandler::finishJob(PreviewJob* job, PTP_CALLBACK_INSTANCE instance) {
    PreviewHandler* handler = job->handler;
    const HMODULE module = job->module;
    delete job;
    handler->releaseJobReference();
    if (module == nullptr) return;
    if (instance != nullptr) FreeLibraryWhenCallbackReturns(instance, module);
    else FreeLibrary(module);
}

// Only the job of the current preview publishes and ends the wait; one that
// outlived an Unload finds its generation gone and leaves no trace.
void PreviewHandler::publish(std::uint64_t generation, PreviewContent&& content) {
    HWND notify = nullptr;
    {
        const Locked locked(view_.lock);
        if (generation != generation_) return;
        view_.content = std::move(content);
        notify = notifyWindow_;
        SetEvent(jobDone_.get());
    }
    if (notify != nullptr) PostMessageW(notify, kContentChangedMessage, 0, 0);
}

// With a window, the reference goes back on the window's thread: the last one
// dropped here would destroy the handler while its window may be painting
// with it. It stays counted even when the post fails (a full queue), to be
// taken back by Unload or when the window goes. Without a window there is
// nothing that could still reach the handler.
void PreviewHandler::releaseJobReference() {
    InterlockedDecrement(&jobReferences_);  // before the reference itself: see Release
    {
        const Locked locked(view_.lock);
        if (notifyWindow_ != nullptr) {
            ++pendingReleases_;
            PostMessageW(notifyWindow_, kReleaseJobReferenceMessage, 0, 0);
            return;
        }
    }
    dropReference();
}

// The posted references whose messages a destroyed window will never get.
LONG PreviewHandler::takePendingReleases() {
    const Locked locked(view_.lock);
    const LONG pending = pendingReleases_;
    pendingReleases_ = 0;
    notifyWindow_ = nullptr;
    return pending;
}

void PreviewHandler::stopJob() {
    if (cancel_) cancel_->store(true);
    if (jobInFlight_) WaitForSingleObject(jobDone_.get(), kJobWaitMs);
    jobInFlight_ = false;
    const Locked locked(view_.lock);
    ++generation_;
}

IFACEMETHODIMP PreviewHandler::Unload() {
    stopJob();
    destroyWindow();
    const LONG pending = takePendingReleases();
    {
        const Locked locked(view_.lock);
        view_.content = PreviewContent{};
    }
    stream_.detach();
    initialized_ = false;
    busy_ = false;
    for (LONG i = 0; i < pending; ++i) dropReference();  // the host's own reference keeps the handler
    return S_OK;
}

void PreviewHandler::createWindow() {
    if (isLiveWindow(window_)) return;
    window_ = nullptr;
    if (!isLiveWindow(parentWindow_)) return;
    InitOnceExecuteOnce(&gClassOnce, registerWindowClass, nullptr, nullptr);
    const int width = std::max<int>(bounds_.right - bounds_.left, 1);
    const int height = std::max<int>(bounds_.bottom - bounds_.top, 1);
    window_ = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, bounds_.left, bounds_.top,
                              width, height, parentWindow_, nullptr, ownInstance(), this);
    if (window_ == nullptr) return;
    {
        const Locked locked(view_.lock);
        notifyWindow_ = window_;
    }
    InvalidateRect(window_, nullptr, TRUE);
}

// The window can only be destroyed on its own thread; when the last
// reference goes on a job's thread, the window is cut loose from the handler
// and told to close itself. It keeps the library loaded until it has.
void PreviewHandler::destroyWindow() {
    {
        const Locked locked(view_.lock);
        notifyWindow_ = nullptr;
    }
    if (isLiveWindow(window_)) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        if (GetWindowThreadProcessId(window_, nullptr) == GetCurrentThreadId()) DestroyWindow(window_);
        else PostMessageW(window_, kOrphanedMessage, 0, 0);
    }
    window_ = nullptr;
    view_.textBox = nullptr;
}

// The host destroyed the window's parent: the handler forgets the window and
// takes back the job references posted to it (perhaps the last ones).
void PreviewHandler::windowGone() {
    window_ = nullptr;
    view_.textBox = nullptr;
    const LONG pending = takePendingReleases();
    for (LONG i = 0; i < pending; ++i) dropReference();
}

void PreviewHandler::invalidate() {
    if (isLiveWindow(window_)) InvalidateRect(window_, nullptr, TRUE);
}

IFACEMETHODIMP PreviewHandler::SetFocus() {
    if (!isLiveWindow(window_)) return S_FALSE;
    ::SetFocus(window_);
    return S_OK;
}

// No focus is a failure, whatever the last error says.
IFACEMETHODIMP PreviewHandler::QueryFocus(HWND* window) {
    if (window == nullptr) return E_POINTER;
    *window = GetFocus();
    return *window != nullptr ? S_OK : E_FAIL;
}

IFACEMETHODIMP PreviewHandler::TranslateAccelerator(MSG* message) {
    if (message != nullptr && isLiveWindow(view_.textBox) && message->hwnd == view_.textBox &&
        message->message == WM_KEYDOWN && GetKeyState(VK_CONTROL) < 0) {
        if (message->wParam == 'C' || message->wParam == VK_INSERT) {
            SendMessageW(view_.textBox, WM_COPY, 0, 0);
            return S_OK;
        }
        if (message->wParam == 'A') {
            SendMessageW(view_.textBox, EM_SETSEL, 0, -1);
            return S_OK;
        }
    }
    if (!site_ || message == nullptr) return S_FALSE;
    Microsoft::WRL::ComPtr<IPreviewHandlerFrame> frame;
    if (FAILED(site_.As(&frame))) return S_FALSE;
    return frame->TranslateAccelerator(message);
}

IFACEMETHODIMP PreviewHandler::SetBackgroundColor(COLORREF color) {
    if (view_.darkMode) return S_OK;
    view_.backgroundColor = color;
    invalidate();
    return S_OK;
}

IFACEMETHODIMP PreviewHandler::SetTextColor(COLORREF color) {
    if (view_.darkMode) return S_OK;
    view_.textColor = color;
    invalidate();
    return S_OK;
}

// The new font is made before the old one goes, so the derived fonts, keyed
// by the handle, are always made again.
IFACEMETHODIMP PreviewHandler::SetFont(const LOGFONTW* font) {
    if (font == nullptr) return E_POINTER;
    GdiFont created(CreateFontIndirectW(font));
    if (!created) return E_FAIL;
    view_.fontKey = nullptr;  // a later font may reuse the old handle's value
    view_.hostFont = std::move(created);
    if (isLiveWindow(window_)) {
        try {
            layoutTextBox(view_, window_);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        invalidate();
    }
    return S_OK;
}

IFACEMETHODIMP PreviewHandler::SetSite(IUnknown* site) {
    site_ = site;
    return S_OK;
}

IFACEMETHODIMP PreviewHandler::GetSite(REFIID riid, void** site) {
    if (site == nullptr) return E_POINTER;
    *site = nullptr;
    if (!site_) return E_FAIL;
    return site_->QueryInterface(riid, site);
}

IFACEMETHODIMP PreviewHandler::GetWindow(HWND* window) {
    if (window == nullptr) return E_POINTER;
    *window = window_;
    return window_ != nullptr ? S_OK : E_FAIL;
}

IFACEMETHODIMP PreviewHandler::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

// Each window counts as a live object of the server from creation to its
// last message, so the library is not unloaded under a window still open.
LRESULT CALLBACK PreviewHandler::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        objectCreated();
        return DefWindowProcW(window, message, wParam, lParam);
    }
    auto* handler = reinterpret_cast<PreviewHandler*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        if (handler != nullptr) handler->windowGone();
        objectDestroyed();
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (handler == nullptr) {
        if (message == kOrphanedMessage) {
            DestroyWindow(window);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    try {
        return handler->handleMessage(window, message, wParam, lParam);
    } catch (...) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT PreviewHandler::handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SIZE:
            layoutTextBox(view_, window);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT paint{};
            HDC dc = BeginPaint(window, &paint);
            try {
                if (dc != nullptr) paintPreview(view_, window, dc);
            } catch (...) {
                // Out of memory mid-paint: the background stays, the paint still ends.
            }
            EndPaint(window, &paint);
            return 0;
        }
        case WM_PRINTCLIENT:
            paintPreview(view_, window, reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORSTATIC: {
            if (reinterpret_cast<HWND>(lParam) != view_.textBox) break;
            HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetTextColor(dc, view_.textColor);
            SetBkColor(dc, view_.backgroundColor);
            return reinterpret_cast<LRESULT>(textBoxBrush(view_));
        }
        case kContentChangedMessage:
            layoutTextBox(view_, window);
            InvalidateRect(window, nullptr, TRUE);
            return 0;
        case kReleaseJobReferenceMessage: {
            {
                const Locked locked(view_.lock);
                if (pendingReleases_ == 0) return 0;
                --pendingReleases_;
            }
            dropReference();  // may destroy the handler and this window: nothing of either is touched after
            return 0;
        }
        default:
            break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace cvwin
