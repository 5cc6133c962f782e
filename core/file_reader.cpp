#include "core/file_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace cv {

namespace {

constexpr std::uint64_t kMaxPreadChunk = 1u << 30;  // bytes per pread call

}  // namespace

std::unique_ptr<FileReader> FileReader::open(const std::string& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) return nullptr;
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(descriptor);
        return nullptr;
    }
    return std::unique_ptr<FileReader>(
        new FileReader(descriptor, static_cast<std::uint64_t>(info.st_size), true));
}

FileReader::~FileReader() {
    ring_.reset();
    if (ownsDescriptor_) ::close(descriptor_);
}

std::unique_ptr<Reader> FileReader::twin() {
    return std::unique_ptr<Reader>(new FileReader(descriptor_, size_, false));
}

bool FileReader::read(std::uint64_t offset, void* destination, std::uint64_t count) {
    if (destination == nullptr) return false;
    if (count == 0) return true;
    if (count > size_ || offset > size_ - count) return false;
    auto* out = static_cast<unsigned char*>(destination);
    while (count > 0) {
        const auto chunk = static_cast<std::size_t>(std::min(count, kMaxPreadChunk));
        const ssize_t got = ::pread(descriptor_, out, chunk, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        const auto delivered = static_cast<std::uint64_t>(got);
        out += delivered;
        offset += delivered;
        count -= delivered;
    }
    return true;
}

// Requests that continue one another, in the file and in memory, become one
// run; several runs go to the kernel together through the ring.
bool FileReader::readRanges(std::span<const ReadRequest> requests) {
    runs_.clear();
    for (const ReadRequest& request : requests) {
        if (!runs_.empty()) {
            ReadRequest& run = runs_.back();
            const bool continues =
                run.destination != nullptr && request.offset == run.offset + run.count &&
                request.destination == static_cast<unsigned char*>(run.destination) + run.count;
            if (continues && request.count <= size_ - std::min(size_, run.count)) {
                run.count += request.count;
                continue;
            }
        }
        runs_.push_back(request);
    }
    // The ring takes offsets as given (-1 means the file position): only runs
    // read() would accept go to it.
    const bool runsValid = std::all_of(runs_.begin(), runs_.end(), [this](const ReadRequest& run) {
        return run.destination != nullptr && rangeWithin(run.offset, run.count, size_);
    });
    if (!runsValid) return false;
    if (runs_.size() > 1 && !ringRefused_ && !ring_) {
        ring_ = ReadRing::create();
        ringRefused_ = !ring_;
    }
    if (runs_.size() > 1 && ring_) return ring_->readAll(descriptor_, runs_, *this);
    return Reader::readRanges(runs_);
}

}  // namespace cv
