#include "shell/preview_job_win.h"

#include <objbase.h>

#include "preview/listing.h"
#include "preview/preview_picture.h"
#include "shell/fault_guard_win.h"
#include "shell/read_ahead_lane_win.h"
#include "shell/registry_settings_win.h"

namespace cvwin {

namespace {

// Refuses every read once the preview is cancelled: a job that outlives
// Unload never touches the stream again, even when the host hands the same
// stream to the next preview.
class CancellableReader final : public cv::Reader {
public:
    CancellableReader(cv::Reader& inner, const std::atomic<bool>& cancel)
        : inner_(inner), cancel_(cancel) {}
    std::uint64_t size() const override { return inner_.size(); }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override {
        return !cancel_.load() && inner_.read(offset, destination, count);
    }
    bool readsAhead() const override { return inner_.readsAhead(); }
    bool readAhead(std::span<const cv::ReadRequest> requests) override {
        return !cancel_.load() && inner_.readAhead(requests);
    }
    bool collectAhead() override {
        if (!cancel_.load()) return inner_.collectAhead();
        inner_.dropAhead();
        return false;
    }
    void dropAhead() override { inner_.dropAhead(); }
    std::unique_ptr<cv::Reader> twin() override {
        std::unique_ptr<cv::Reader> inner = inner_.twin();
        if (!inner) return nullptr;
        return std::unique_ptr<cv::Reader>(new CancellableReader(std::move(inner), cancel_));
    }

private:
    CancellableReader(std::unique_ptr<cv::Reader> owned, const std::atomic<bool>& cancel)
        : inner_(*owned), owned_(std::move(owned)), cancel_(cancel) {}

    cv::Reader& inner_;
    std::unique_ptr<cv::Reader> owned_;  // a twin this one reads through, or null
    const std::atomic<bool>& cancel_;
};

void showListing(PreviewContent& content, cv::PreviewListing&& listing) {
    content.wrapLines = listing.wrapLines;
    content.listing = std::move(listing);
    content.listingMode = true;
    content.listingChanged = true;
}

struct LoadCall {
    PreviewJob* job;
    ReadAheadLane* lane;
};

// Text kinds first, then the picture. The content is filled only at the
// end, so a fault part-way leaves it untouched.
HRESULT loadContent(void* context) {
    const auto& call = *static_cast<LoadCall*>(context);
    auto& job = *call.job;
    CancellableReader source(job.source, *job.cancel);
    PreviewContent content;
    cv::ListingResult listing = cv::buildListing(source);
    if (listing.outcome == cv::ListingOutcome::Built) {
        showListing(content, std::move(listing.listing));
    } else if (listing.outcome == cv::ListingOutcome::Failed) {
        content.statusText = kUnreadableText;
    } else {
        cv::PreviewPicture loaded;
        if (cv::loadPreviewPicture(source, readRenderSettings(), job.cancel.get(), loaded,
                                   cv::steadyNowNs, call.lane) == cv::ReadStatus::Ok) {
            setPicture(content, std::move(loaded.picture), loaded.metadata);
        } else if (!job.cancel->load()) {
            content.statusText = kUnreadableText;
        }
    }
    job.content = std::move(content);
    return S_OK;
}

// Drops the job's references to the stream and the owner while COM is still
// initialised here: the owner, freed with the last of them, lets go of the
// host's stream too. The library's reference goes last.
HMODULE endJob(PreviewJob* job) {
    job->source.detach();
    PreviewJobOwner* owner = job->owner;
    const HMODULE module = job->module;
    delete job;
    owner->releaseJobReference();
    return module;
}

void CALLBACK runJob(PTP_CALLBACK_INSTANCE instance, void* context) {
    auto* job = static_cast<PreviewJob*>(context);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    // Outside the guarded call: its thread is waited for even after a fault.
    ReadAheadLane lane(nullptr, job->cancel.get());
    job->source.readAheadThrough(&lane);
    LoadCall call{job, &lane};
    const HRESULT loaded = runGuarded(loadContent, &call);
    job->source.readAheadThrough(nullptr);
    if (FAILED(loaded)) {
        job->content = PreviewContent{};
        try {
            job->content.statusText = kUnreadableText;
        } catch (...) {
            // Out of memory: the window is left empty rather than the callback thrown out of.
        }
    }
    job->owner->publish(job->generation, std::move(job->content));
    const HMODULE module = endJob(job);
    if (SUCCEEDED(com)) CoUninitialize();
    if (module == nullptr) return;
    if (instance != nullptr)
        FreeLibraryWhenCallbackReturns(instance, module);
    else
        FreeLibrary(module);
}

}  // namespace

bool submitPreviewJob(PreviewJob* job) {
    return TrySubmitThreadpoolCallback(runJob, job, nullptr) != FALSE;
}

void runPreviewJobHere(PreviewJob* job) {
    runJob(nullptr, job);
}

}  // namespace cvwin
