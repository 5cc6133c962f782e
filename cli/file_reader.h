#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "core/reader.h"

namespace corvane_cli {

// A byte source over a file on disk, read with pread-like seeks.
class FileReader final : public cv::Reader {
public:
    // Null when the file cannot be opened or its size cannot be taken.
    static std::unique_ptr<FileReader> open(const std::string& path);
    ~FileReader() override;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override;
    std::uint64_t bytesRead() const { return bytesRead_; }

private:
    FileReader(int descriptor, std::uint64_t size) : descriptor_(descriptor), size_(size) {}
    int descriptor_;
    std::uint64_t size_;
    std::uint64_t bytesRead_ = 0;
};

}  // namespace corvane_cli
