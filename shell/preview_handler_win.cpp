#include "shell/preview_handler_win.h"

#include <shobjidl.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "shell/com_object_win.h"
#include "shell/own_module_win.h"
#include "shell/preview_job_win.h"
#include "shell/preview_view_win.h"
#include "shell/preview_window_win.h"
#include "shell/registry_settings_win.h"
#include "shell/stream_adapter_win.h"
#include "shell/unique_handle_win.h"

namespace cvwin {

namespace {

constexpr DWORD kJobWaitMs = 5000;
constexpr COLORREF kDarkBackground = 0x202020;
constexpr COLORREF kDarkText = 0xF0F0F0;

// The system's app theme: dark only when "AppsUseLightTheme" is a REG_DWORD 0.
bool appsUseDarkTheme() {
    return registryDword(HKEY_CURRENT_USER,
                         L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize",
                         L"AppsUseLightTheme")
               .value_or(1) == 0;
}

// The job and the window each reach the handler through their own narrow
// interface; the handler keeps the references and the generation that tie
// them together.
class PreviewHandler final : public ComObject<IPreviewHandler, IPreviewHandlerVisuals,
                                              IObjectWithSite, IOleWindow, IInitializeWithStream>,
                             private PreviewJobOwner,
                             private PreviewWindowOwner {
public:
    PreviewHandler();

    IFACEMETHODIMP_(ULONG) AddRef() override;
    IFACEMETHODIMP_(ULONG) Release() override;

    IFACEMETHODIMP SetWindow(HWND parent, const RECT* rect) override;
    IFACEMETHODIMP SetRect(const RECT* rect) override;
    IFACEMETHODIMP DoPreview() override;
    IFACEMETHODIMP Unload() override;
    IFACEMETHODIMP SetFocus() override;
    IFACEMETHODIMP QueryFocus(HWND* window) override;
    IFACEMETHODIMP TranslateAccelerator(MSG* message) override;

    IFACEMETHODIMP SetBackgroundColor(COLORREF color) override;
    IFACEMETHODIMP SetFont(const LOGFONTW* font) override;
    IFACEMETHODIMP SetTextColor(COLORREF color) override;

    IFACEMETHODIMP SetSite(IUnknown* site) override;
    IFACEMETHODIMP GetSite(REFIID riid, void** site) override;

    IFACEMETHODIMP GetWindow(HWND* window) override;
    IFACEMETHODIMP ContextSensitiveHelp(BOOL enter) override;

    IFACEMETHODIMP Initialize(IStream* stream, DWORD mode) override;

private:
    ~PreviewHandler() override;
    void createWindow();
    void destroyWindow();
    void stopJob();
    void publish(std::uint64_t generation, PreviewContent&& content) override;
    void releaseJobReference() override;
    PreviewView& view() override { return view_; }
    void keepForMessage() override;
    void endMessage() override;
    void hostLetGo();
    void windowGone() override;
    void invalidate();

    volatile LONG hostReferences_ = 1;  // those of the references that the host holds
    HWND parentWindow_ = nullptr;
    RECT bounds_{};
    Microsoft::WRL::ComPtr<IUnknown> site_;
    HWND window_ = nullptr;
    PreviewView view_;
    StreamAdapter stream_;  // each job takes its own reference to the stream
    bool initialized_ = false;
    bool busy_ = false;
    KernelHandle jobDone_;  // signalled when the current job has ended
    bool jobInFlight_ = false;
    std::shared_ptr<std::atomic<bool>> cancel_;  // the current job's
    std::uint64_t generation_ = 0;  // under the view's lock: the job allowed to publish
    HWND notifyWindow_ = nullptr;   // under the view's lock: where the job posts
};

}  // namespace

HRESULT createPreviewHandler(REFIID riid, void** object) {
    return createObject<PreviewHandler>(riid, object);
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

// The count of all references, the host's and the handler's own (a loading
// job's, a window message's), beside the host's alone.
IFACEMETHODIMP_(ULONG) PreviewHandler::AddRef() {
    InterlockedIncrement(&hostReferences_);
    return addReference();
}

IFACEMETHODIMP_(ULONG) PreviewHandler::Release() {
    if (InterlockedDecrement(&hostReferences_) == 0) hostLetGo();
    return dropReference();
}

// The host let go without Unload, perhaps with a job still loading: the
// loading stops, and the site and the window go now, on the host's thread
// (the window's own, as a rule), while its last reference still keeps the
// handler. From here only a job can hold it, and the job frees it on its own
// thread, whatever has become of the window's.
void PreviewHandler::hostLetGo() {
    if (cancel_) cancel_->store(true);
    site_.Reset();
    destroyWindow();
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
    if (!isLiveWindow(window_))
        createWindow();
    else if (parent != previous && isLiveWindow(parent))
        ::SetParent(window_, parent);
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
    addReference();
    job->owner = this;
    job->module = referenceOwnModule();
    if (submitPreviewJob(job)) {
        invalidate();  // "Loading image..." until the job posts its result
        return S_OK;
    }
    jobInFlight_ = false;
    runPreviewJobHere(job);
    invalidate();
    return S_OK;
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

// No window reaches the handler any more once its host has let go, and one
// handling a message holds a reference of its own, so the job's may be the
// last and go here, on the job's thread.
void PreviewHandler::releaseJobReference() {
    dropReference();
}

void PreviewHandler::keepForMessage() {
    addReference();
}

void PreviewHandler::endMessage() {
    dropReference();
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
    {
        const Locked locked(view_.lock);
        view_.content = PreviewContent{};
    }
    stream_.detach();
    initialized_ = false;
    busy_ = false;
    return S_OK;
}

void PreviewHandler::createWindow() {
    if (isLiveWindow(window_)) return;
    window_ = nullptr;
    if (!isLiveWindow(parentWindow_)) return;
    window_ = createPreviewWindow(parentWindow_, bounds_, this);
    if (window_ == nullptr) return;
    {
        const Locked locked(view_.lock);
        notifyWindow_ = window_;
    }
    InvalidateRect(window_, nullptr, TRUE);
}

// On a thread other than the window's, closing it leaves its destruction to
// the window's own thread.
void PreviewHandler::destroyWindow() {
    {
        const Locked locked(view_.lock);
        notifyWindow_ = nullptr;
    }
    if (isLiveWindow(window_)) closePreviewWindow(window_);
    window_ = nullptr;
    view_.textBox = nullptr;
}

// The host destroyed the window's parent: the handler forgets the window, and
// a job no longer posts to it.
void PreviewHandler::windowGone() {
    {
        const Locked locked(view_.lock);
        notifyWindow_ = nullptr;
    }
    window_ = nullptr;
    view_.textBox = nullptr;
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

IFACEMETHODIMP PreviewHandler::ContextSensitiveHelp(BOOL) {
    return E_NOTIMPL;
}

}  // namespace cvwin
