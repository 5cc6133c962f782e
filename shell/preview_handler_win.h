#pragma once

#include <windows.h>
#include <shobjidl.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "shell/com_object_win.h"
#include "shell/preview_view_win.h"
#include "shell/stream_adapter_win.h"
#include "shell/unique_handle_win.h"

namespace cvwin {

// Makes a preview handler and asks it for `riid` (the class factory's
// creation function).
HRESULT createPreviewHandler(REFIID riid, void** object);

// Unregisters the window class when the library is unloaded: a later load
// at another address must not find a class whose procedure points here.
void releasePreviewWindowClass();

// The message the loading job posts when the content changed.
constexpr UINT kContentChangedMessage = WM_APP + 1;

struct PreviewJob;

// Explorer's preview pane: one child window showing the picture with its
// details, a listing, or a message. Loading runs as a job on the system
// thread pool; the host's thread only paints.
class PreviewHandler final : public ComObject<IPreviewHandler, IPreviewHandlerVisuals, IObjectWithSite, IOleWindow,
                                             IInitializeWithStream> {
public:
    PreviewHandler();

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

    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    ~PreviewHandler() override;
    static void CALLBACK runJob(PTP_CALLBACK_INSTANCE instance, void* context);
    static void finishJob(PreviewJob* job, PTP_CALLBACK_INSTANCE instance);
    LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void createWindow();
    void destroyWindow();
    void stopJob();
    void publish(std::uint64_t generation, PreviewContent&& content);
    void releaseJobReference();
    void hostLetGo();
    LONG takePendingReleases();
    void windowGone();
    void invalidate();

    volatile LONG jobReferences_ = 0;  // those of the references held by loading jobs
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
    std::uint64_t generation_ = 0;               // under the view's lock: the job allowed to publish
    HWND notifyWindow_ = nullptr;                // under the view's lock: where the job posts
    LONG pendingReleases_ = 0;                   // under the view's lock: job references posted to the window
};

}  // namespace cvwin
