#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/read_ring.h"
#include "core/reader.h"

namespace cv {

// A byte source over a file on disk, read with pread. A mapping would save
// the copy, but each process then pays for building the page tables of every
// page it touches, reads rows cold from memory instead of from the cache the
// copy warmed, and dies of SIGBUS if the file shrinks meanwhile; measured on a
// 48 MB frame it came out no faster.
class FileReader final : public Reader {
public:
    // Null when the file cannot be opened or is not a regular file.
    static std::unique_ptr<FileReader> open(const std::string& path);
    ~FileReader() override;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override;
    // A batch in as few system calls as the kernel allows.
    bool readRanges(std::span<const ReadRequest> requests) override;
    bool servesBatches() const override { return true; }
    // Shares the open file: pread takes its own offset, so two threads may
    // read at once; each twin has its own ring.
    std::unique_ptr<Reader> twin() override;

private:
    FileReader(int descriptor, std::uint64_t size, bool ownsDescriptor)
        : descriptor_(descriptor), size_(size), ownsDescriptor_(ownsDescriptor) {}

    int descriptor_;
    std::uint64_t size_;
    bool ownsDescriptor_;
    std::vector<ReadRequest> runs_;
    std::unique_ptr<ReadRing> ring_;  // made at the first batch of separate ranges
    bool ringRefused_ = false;
};

}  // namespace cv
