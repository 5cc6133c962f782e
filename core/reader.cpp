#include "core/reader.h"

#include <cstring>
#include <limits>

namespace cv {

namespace {

bool rangeOverflows(std::uint64_t offset, std::uint64_t count) {
    return count > std::numeric_limits<std::uint64_t>::max() - offset;
}

}  // namespace

bool rangeWithin(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

const std::uint8_t* Reader::view(std::uint64_t, std::uint64_t) const {
    return nullptr;
}

ReadStatus Reader::failure() const {
    return ReadStatus::ReadFailed;
}

std::unique_ptr<Reader> Reader::twin() {
    return nullptr;
}

bool Reader::servesBatches() const {
    return false;
}

bool Reader::readAhead(std::span<const ReadRequest>) {
    return false;
}

bool Reader::readsAhead() const {
    return false;
}

bool Reader::collectAhead() {
    return false;
}

void Reader::dropAhead() {
    static_cast<void>(collectAhead());
}

bool Reader::readRanges(std::span<const ReadRequest> requests) {
    for (const ReadRequest& request : requests) {
        if (!read(request.offset, request.destination, request.count)) return false;
    }
    return true;
}

SliceReader::SliceReader(Reader& underlying, std::uint64_t start, std::uint64_t length)
    : underlying_(&underlying), start_(start), length_(length) {}

std::uint64_t SliceReader::size() const {
    return length_;
}

bool SliceReader::read(std::uint64_t offset, void* destination, std::uint64_t count) {
    if (!rangeWithin(offset, count, length_) || rangeOverflows(start_, offset)) return false;
    return underlying_->read(start_ + offset, destination, count);
}

const std::uint8_t* SliceReader::view(std::uint64_t offset, std::uint64_t count) const {
    if (!rangeWithin(offset, count, length_) || rangeOverflows(start_, offset)) return nullptr;
    return underlying_->view(start_ + offset, count);
}

MemoryReader::MemoryReader(const void* data, std::uint64_t length)
    : data_(static_cast<const std::uint8_t*>(data)), length_(length) {}

std::uint64_t MemoryReader::size() const {
    return length_;
}

const std::uint8_t* MemoryReader::view(std::uint64_t offset, std::uint64_t count) const {
    return rangeWithin(offset, count, length_) ? data_ + offset : nullptr;
}

bool MemoryReader::read(std::uint64_t offset, void* destination, std::uint64_t count) {
    if (destination == nullptr) return false;
    if (count == 0) return true;
    if (rangeOverflows(offset, count) || offset + count > length_) return false;
    std::memmove(destination, data_ + offset, static_cast<std::size_t>(count));
    return true;
}

ReadStatus readExact(Reader& reader, std::uint64_t offset, void* destination, std::uint64_t count) {
    if (count == 0) return ReadStatus::Ok;
    if (rangeOverflows(offset, count)) return ReadStatus::Malformed;
    if (offset + count > reader.size()) return ReadStatus::Truncated;
    return reader.read(offset, destination, count) ? ReadStatus::Ok : reader.failure();
}

}  // namespace cv
