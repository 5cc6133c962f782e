#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/reader.h"

namespace corvane_cli {

// A byte source over a file on disk. The file is mapped read-only when it
// can be, so a row read is a copy rather than a system call; otherwise reads
// go through pread.
class FileReader final : public cv::Reader {
public:
    // Null when the file cannot be opened or is not a regular file.
    static std::unique_ptr<FileReader> open(const std::string& path);
    ~FileReader() override;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;

    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override;
    const std::uint8_t* view(std::uint64_t offset, std::uint64_t count) const override;

private:
    FileReader(int descriptor, std::uint64_t size, const unsigned char* mapping)
        : descriptor_(descriptor), size_(size), mapping_(mapping) {}
    bool readWithPread(std::uint64_t offset, unsigned char* out, std::uint64_t count) const;

    int descriptor_;
    std::uint64_t size_;
    const unsigned char* mapping_;  // null when not mapped
};

}  // namespace corvane_cli
