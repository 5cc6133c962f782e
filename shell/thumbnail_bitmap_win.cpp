#include "shell/thumbnail_bitmap_win.h"

#include <atomic>
#include <new>

#include "render/render_profiles.h"
#include "shell/dib_win.h"
#include "shell/fault_guard_win.h"
#include "shell/own_module_win.h"
#include "shell/srw_lock_win.h"
#include "shell/unique_handle_win.h"

namespace cvwin {

namespace {

constexpr std::uint64_t kMinPreparedBytes = 1 << 20;  // smaller bitmaps cost less than a thread
// Its work is one allocation, at most the picture the working memory allows,
// and a write per page: tens of milliseconds even where pages come slowly.
constexpr DWORD kPreparationWaitMs = 2000;
constexpr std::size_t kPageBytes = 4096;
constexpr WORD kBitsPerPixel = 32;
constexpr std::uint32_t kBytesPerPixel = kBitsPerPixel / 8;

bool fitsThumbnail(std::uint32_t width, std::uint32_t height) {
    return width > 0 && height > 0 && width <= cv::kMaxThumbnailSide &&
           height <= cv::kMaxThumbnailSide;
}

HBITMAP createBitmap(std::uint32_t width, std::uint32_t height, void*& bits) {
    const BITMAPINFO info = topDownBitmapInfo(width, height, kBitsPerPixel);
    bits = nullptr;
    const ForeignCall call;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr && bits == nullptr) {
        DeleteObject(bitmap);
        return nullptr;
    }
    return bitmap;
}

void copyPicture(const cv::RgbImage& image, void* bits) {
    auto* out = static_cast<std::uint8_t*>(bits);
    const std::size_t pixels = static_cast<std::size_t>(image.width) * image.height;
    for (std::size_t i = 0; i < pixels; ++i, out += kBytesPerPixel) {
        const std::uint8_t* in = image.pixels.data() + i * 3;
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        out[3] = 255;
    }
}

}  // namespace

// Shared by the owner and the worker; the last to let go frees it, and with
// it a bitmap nobody took.
struct BitmapPreparation {
    std::atomic<int> shares{2};
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    HMODULE module = nullptr;  // the worker's reference to this library
    GdiBitmap bitmap;
    void* bits = nullptr;
    bool faulted = false;  // the worker's work raised a processor fault or threw
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE ended = CONDITION_VARIABLE_INIT;
    bool done = false;  // under the lock: the fields above are the worker's last word
    std::atomic<bool> finished{false};  // done, for a look without the lock
};

namespace {

void letGo(BitmapPreparation* preparation) {
    if (preparation->shares.fetch_sub(1, std::memory_order_acq_rel) == 1) delete preparation;
}

HRESULT makeReady(void* context) {
    auto& preparation = *static_cast<BitmapPreparation*>(context);
    void* bits = nullptr;
    preparation.bitmap.reset(createBitmap(preparation.width, preparation.height, bits));
    if (!preparation.bitmap) return E_OUTOFMEMORY;
    auto* bytes = static_cast<volatile std::uint8_t*>(bits);
    const std::size_t size =
        static_cast<std::size_t>(preparation.width) * preparation.height * kBytesPerPixel;
    // Made resident in one call where the process may lock that much memory (under Wine up to its
    // locking limit, on Windows seldom past the working set's small minimum): a third cheaper than
    // a fault a page. Still written page by page: the first write to a page costs on its own.
    if (VirtualLock(bits, size)) VirtualUnlock(bits, size);
    for (std::size_t at = 0; at < size; at += kPageBytes) bytes[at] = 0;
    preparation.bits = bits;
    return S_OK;
}

void CALLBACK prepareOnWorker(PTP_CALLBACK_INSTANCE instance, void* context) {
    auto* preparation = static_cast<BitmapPreparation*>(context);
    // The guard reports a fault (or an exception) as E_FAIL, which makeReady itself never returns.
    const bool faulted = runGuardedOnOwnThread(makeReady, preparation) == E_FAIL;
    {
        const ExclusiveLock locked(preparation->lock);
        preparation->faulted = faulted;
        preparation->done = true;
    }
    preparation->finished.store(true, std::memory_order_release);
    WakeAllConditionVariable(&preparation->ended);
    const HMODULE module = preparation->module;
    letGo(preparation);
    FreeLibraryWhenCallbackReturns(instance, module);
}

// Whether the worker ended within the wait.
bool waitForWorker(BitmapPreparation& preparation) {
    const ULONGLONG deadline = GetTickCount64() + kPreparationWaitMs;
    const ExclusiveLock locked(preparation.lock);
    while (!preparation.done) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        SleepConditionVariableSRW(&preparation.ended, &preparation.lock,
                                  static_cast<DWORD>(deadline - now), 0);
    }
    return true;
}

}  // namespace

HBITMAP createThumbnailBitmap(const cv::RgbImage& image) {
    if (image.empty() || !fitsThumbnail(image.width, image.height)) return nullptr;
    void* bits = nullptr;
    HBITMAP bitmap = createBitmap(image.width, image.height, bits);
    if (bitmap != nullptr) copyPicture(image, bits);
    return bitmap;
}

PreparedBitmap::~PreparedBitmap() {
    if (preparation_ == nullptr) return;
    if (waiting_) static_cast<void>(waitForWorker(*preparation_));
    letGo(preparation_);
}

void PreparedBitmap::outputSized(std::uint32_t width, std::uint32_t height) noexcept {
    if (preparation_ != nullptr || !fitsThumbnail(width, height) ||
        static_cast<std::uint64_t>(width) * height * kBytesPerPixel < kMinPreparedBytes)
        return;
    auto* preparation = new (std::nothrow) BitmapPreparation;
    if (preparation == nullptr) return;
    preparation->width = width;
    preparation->height = height;
    preparation->module = referenceOwnModule();
    // Without its own reference the worker could return into an unloaded library. A pool thread:
    // under Wine a new thread starts running only milliseconds after it is made.
    if (preparation->module == nullptr ||
        !TrySubmitThreadpoolCallback(prepareOnWorker, preparation, nullptr)) {
        if (preparation->module != nullptr) FreeLibrary(preparation->module);
        delete preparation;
        return;
    }
    preparation_ = preparation;
    waiting_ = true;
}

bool PreparedBitmap::running() const {
    return waiting_ && !preparation_->finished.load(std::memory_order_acquire);
}

HBITMAP PreparedBitmap::take(const cv::RgbImage& image) {
    // A bitmap of another size is of no use: the destructor waits for its worker.
    if (!waiting_ || preparation_->width != image.width || preparation_->height != image.height)
        return createThumbnailBitmap(image);
    const bool ended = waitForWorker(*preparation_);
    waiting_ = false;
    // Still running after the wait: it keeps its share and the library, and a new bitmap is made.
    if (!ended) return createThumbnailBitmap(image);
    BitmapPreparation& preparation = *preparation_;
    // A fault in this library's own work fails the thumbnail, wherever it was raised.
    if (preparation.faulted) return nullptr;
    if (!preparation.bitmap) return createThumbnailBitmap(image);
    copyPicture(image, preparation.bits);
    return preparation.bitmap.release();
}

}  // namespace cvwin
