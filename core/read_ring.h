#pragma once

#include <liburing.h>

#include <cstddef>
#include <memory>
#include <span>

#include "core/reader.h"

namespace cv {

// A kernel submission ring that reads many ranges of one file in one system
// call. Only a speed-up: where the kernel or a sandbox refuses rings, or a
// ring read fails or comes back short, plain reads take over.
class ReadRing {
public:
    // Null when the kernel or a sandbox refuses to set up a ring.
    static std::unique_ptr<ReadRing> create();
    ~ReadRing();
    ReadRing(const ReadRing&) = delete;
    ReadRing& operator=(const ReadRing&) = delete;

    // Reads every request from `descriptor`; each one the ring did not fill is
    // asked of `plain` instead. True only when all were delivered.
    bool readAll(int descriptor, std::span<const ReadRequest> requests, Reader& plain);

private:
    ReadRing() = default;
    void submitAndWait(int descriptor, std::span<const ReadRequest> requests, bool* delivered);

    io_uring ring_{};
    bool broken_ = false;
};

}  // namespace cv
