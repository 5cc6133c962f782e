#include "shell/thumbnail_provider_win.h"

#include <propsys.h>
#include <thumbcache.h>

#include "render/clocked_reader.h"
#include "render/render_profiles.h"
#include "shell/com_object_win.h"
#include "shell/fault_guard_win.h"
#include "shell/format_label_win.h"
#include "shell/read_ahead_lane_win.h"
#include "shell/read_status_hresult_win.h"
#include "shell/registry_settings_win.h"
#include "shell/stream_adapter_win.h"
#include "shell/thumbnail_bitmap_win.h"
#include "shell/thumbnail_throttle_win.h"

namespace cvwin {

namespace {

struct PipelineCall {
    StreamAdapter* source;
    UINT cx;
    PreparedBitmap* prepared;
    ReadAheadLane* lane;
    HBITMAP* bitmap;
};

class ThumbnailProvider final : public ComObject<IThumbnailProvider, IInitializeWithStream> {
public:
    IFACEMETHODIMP GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override;
    IFACEMETHODIMP Initialize(IStream* stream, DWORD mode) override;

private:
    ~ThumbnailProvider() override { source_.detach(); }
    static HRESULT runPipeline(void* context);

    StreamAdapter source_;
    bool initialized_ = false;
};

}  // namespace

HRESULT createThumbnailProvider(REFIID riid, void** object) {
    return createObject<ThumbnailProvider>(riid, object);
}

IFACEMETHODIMP ThumbnailProvider::Initialize(IStream* stream, DWORD) {
    if (initialized_) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    if (!source_.attach(stream)) return E_INVALIDARG;
    initialized_ = true;
    return S_OK;
}

HRESULT ThumbnailProvider::runPipeline(void* context) {
    const auto& call = *static_cast<PipelineCall*>(context);
    // Started before the header: on a slow stream its reads take much of the time.
    const cv::RenderBudget budget = cv::thumbnailBudget();
    cv::ImageData data;
    const cv::ReadStatus header = cv::readHeaderWithinBudget(*call.source, budget, data);
    if (header != cv::ReadStatus::Ok) return hresultFromWholeRead(header);
    const cv::RenderSettings settings = readRenderSettings();
    cv::RenderOptions options = cv::thumbnailOptions(call.cx, settings);
    options.sizeListener = call.prepared;
    // The lane's thread adds a share of the bands when a processor is free for it.
    options.secondThread = true;
    options.laneThread = call.lane;
    cv::RgbImage image;
    cv::RenderReport report;
    const cv::ReadStatus status =
        cv::renderImage(*call.source, data, options, budget, image, &report);
    if (const HRESULT rendered = hresultFromReadStatus(status); FAILED(rendered)) return rendered;
    // The settings read once: a change made meanwhile cannot give the label other settings than the
    // picture.
    if (settings.labelFormat) drawFormatLabel(image, data.kind, settings.labelCorner);
    *call.bitmap = call.prepared->take(image);
    return *call.bitmap != nullptr ? S_OK : E_FAIL;
}

IFACEMETHODIMP ThumbnailProvider::GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) {
    if (bitmap == nullptr || alpha == nullptr) return E_POINTER;
    *bitmap = nullptr;
    *alpha = WTSAT_ARGB;
    if (!initialized_) return E_UNEXPECTED;
    ThrottleSlot slot;
    source_.observeBlockingCalls(&slot);
    // The caller waits on this call: until it returns, the stream is this object's alone.
    source_.assumeSoleUse(true);
    // Outside the guarded call: their workers are waited for even after a fault.
    PreparedBitmap prepared;
    ReadAheadLane lane(processorSpare);
    lane.yieldTo(&prepared);
    source_.readAheadThrough(&lane);
    PipelineCall call{&source_, cx, &prepared, &lane, bitmap};
    const HRESULT result = runGuarded(&ThumbnailProvider::runPipeline, &call);
    source_.readAheadThrough(nullptr);
    source_.assumeSoleUse(false);
    source_.observeBlockingCalls(nullptr);
    if (FAILED(result)) {
        if (*bitmap != nullptr) DeleteObject(*bitmap);
        *bitmap = nullptr;
        return result;
    }
    return S_OK;
}

}  // namespace cvwin
