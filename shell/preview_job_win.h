#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "shell/preview_view_win.h"
#include "shell/stream_adapter_win.h"

namespace cvwin {

// Whom a loading job reports to, and whose reference it holds until its end.
class PreviewJobOwner {
public:
    // The job's result; only the current generation may show it.
    virtual void publish(std::uint64_t generation, PreviewContent&& content) = 0;
    // The job's reference to its owner, dropped on the job's thread as its
    // last use of it: the owner may be freed there and then.
    virtual void releaseJobReference() = 0;

protected:
    ~PreviewJobOwner() = default;
};

// One loading job: its own reference to the stream (a job that outlives
// Unload's wait reads a stream nobody else uses), its own cancel flag (a
// later DoPreview's reset does not revive it) and the generation that alone
// may publish.
struct PreviewJob {
    PreviewJobOwner* owner = nullptr;  // one reference, dropped at the end
    StreamAdapter source;
    std::shared_ptr<std::atomic<bool>> cancel;
    std::uint64_t generation = 0;
    HMODULE module = nullptr;  // a reference to this library, dropped as the job's very last act
    PreviewContent content;
};

// The message shown until a job has published, and when a file cannot be read.
inline constexpr const wchar_t* kLoadingText = L"Loading image...";
inline constexpr const wchar_t* kUnreadableText = L"This file could not be read.";

// Runs the job on the system thread pool, which owns it from then on; false
// when the pool refused it (the job is still the caller's).
bool submitPreviewJob(PreviewJob* job);

// Runs the job to its end on this thread and frees it.
void runPreviewJobHere(PreviewJob* job);

}  // namespace cvwin
