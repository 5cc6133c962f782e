#include "shell/thumbnail_provider_win.h"

#include <propsys.h>
#include <thumbcache.h>

#include "render/clocked_reader.h"
#include "render/render_profiles.h"
#include "shell/com_object_win.h"
#include "shell/dib_win.h"
#include "shell/fault_guard_win.h"
#include "shell/format_label_win.h"
#include "shell/read_status_hresult_win.h"
#include "shell/registry_settings_win.h"
#include "shell/stream_adapter_win.h"
#include "shell/thumbnail_throttle_win.h"

namespace cvwin {

namespace {

struct PipelineCall {
    StreamAdapter* source;
    UINT cx;
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

HBITMAP createThumbnailBitmap(const cv::RgbImage& image) {
    if (image.empty() || image.width > cv::kMaxThumbnailSide ||
        image.height > cv::kMaxThumbnailSide)
        return nullptr;
    const BITMAPINFO info = topDownBitmapInfo(image.width, image.height, 32);
    void* bits = nullptr;
    HBITMAP bitmap = nullptr;
    {
        const ForeignCall call;
        bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        if (bitmap == nullptr) return nullptr;
        if (bits == nullptr) {
            DeleteObject(bitmap);
            return nullptr;
        }
    }
    auto* out = static_cast<std::uint8_t*>(bits);
    const std::size_t pixels = static_cast<std::size_t>(image.width) * image.height;
    for (std::size_t i = 0; i < pixels; ++i, out += 4) {
        const std::uint8_t* in = image.pixels.data() + i * 3;
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        out[3] = 255;
    }
    return bitmap;
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
    cv::RgbImage image;
    cv::RenderReport report;
    const cv::ReadStatus status = cv::renderImage(
        *call.source, data, cv::thumbnailOptions(call.cx, settings), budget, image, &report);
    if (const HRESULT rendered = hresultFromReadStatus(status); FAILED(rendered)) return rendered;
    // The settings read once: a change made meanwhile cannot give the label other settings than the
    // picture.
    if (settings.labelFormat) drawFormatLabel(image, data.kind, settings.labelCorner);
    *call.bitmap = createThumbnailBitmap(image);
    return *call.bitmap != nullptr ? S_OK : E_FAIL;
}

IFACEMETHODIMP ThumbnailProvider::GetThumbnail(UINT cx, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) {
    if (bitmap == nullptr || alpha == nullptr) return E_POINTER;
    *bitmap = nullptr;
    *alpha = WTSAT_ARGB;
    if (!initialized_) return E_UNEXPECTED;
    ThrottleSlot slot;
    source_.observeBlockingCalls(&slot);
    PipelineCall call{&source_, cx, bitmap};
    const HRESULT result = runGuarded(&ThumbnailProvider::runPipeline, &call);
    source_.observeBlockingCalls(nullptr);
    if (FAILED(result)) {
        if (*bitmap != nullptr) DeleteObject(*bitmap);
        *bitmap = nullptr;
        return result;
    }
    return S_OK;
}

}  // namespace cvwin
