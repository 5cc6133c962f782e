#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/reader.h"

namespace cvtest {

// A memory reader that owns its bytes, for tests that build files in memory;
// it counts the bytes asked for, so tests can bound a reader's work.
class BytesReader final : public cv::Reader {
public:
    explicit BytesReader(std::string bytes)
        : bytes_(std::move(bytes)), memory_(bytes_.data(), bytes_.size()) {}
    std::uint64_t size() const override { return memory_.size(); }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override {
        bytesRead += count;
        return memory_.read(offset, destination, count);
    }
    std::uint64_t bytesRead = 0;

private:
    std::string bytes_;
    cv::MemoryReader memory_;
};

// Claims a size but fails every read that touches bytes at or past
// `failFrom`: a source whose device gives up part-way.
class FailingReader final : public cv::Reader {
public:
    FailingReader(std::string bytes, std::uint64_t failFrom)
        : inner_(std::move(bytes)), failFrom_(failFrom) {}
    std::uint64_t size() const override { return inner_.size(); }
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override {
        if (count > 0 && offset + count > failFrom_) return false;
        return inner_.read(offset, destination, count);
    }

private:
    BytesReader inner_;
    std::uint64_t failFrom_;
};

}  // namespace cvtest
