#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "core/read_status.h"

namespace cv {

// One range of a batch of reads.
struct ReadRequest {
    std::uint64_t offset;
    void* destination;
    std::uint64_t count;
};

// A random-access, read-only byte source of known size. Nothing buffers:
// every read goes to the underlying stream or memory, exactly as requested.
class Reader {
public:
    virtual ~Reader() = default;
    virtual std::uint64_t size() const = 0;
    // True only when all `count` bytes from `offset` were delivered; after a
    // failure the destination's contents are unspecified.
    virtual bool read(std::uint64_t offset, void* destination, std::uint64_t count) = 0;
    // Reads every request; true only when all were delivered. Sources where a
    // call costs more than the bytes it moves serve a batch in fewer calls;
    // the others read the requests one by one, in order.
    virtual bool readRanges(std::span<const ReadRequest> requests);
    // Whether readRanges serves a batch in fewer calls than it has ranges;
    // callers then hand it whole batches rather than range by range.
    virtual bool servesBatches() const;
    // Starts reading `requests` on another thread, for collectAhead() to
    // finish before any other read of this source; the requests and their
    // destinations must stay untouched until then. False where the source
    // cannot, or sees no gain (the default): the caller then reads them.
    virtual bool readAhead(std::span<const ReadRequest> requests);
    // Whether readAhead may start reads now: callers then keep a second
    // destination to read ahead into.
    virtual bool readsAhead() const;
    // Waits for the reads the last readAhead started; true only when all were
    // delivered.
    virtual bool collectAhead();
    // Waits for the reads the last readAhead started, whose bytes are no
    // longer wanted: none is made again where the others failed.
    virtual void dropAhead();
    // The bytes [offset, offset + count) in place, for sources that hold them
    // in memory; null when the source cannot lend them (callers then read).
    virtual const std::uint8_t* view(std::uint64_t offset, std::uint64_t count) const;
    // Another reader of the same bytes, which a second thread may use while
    // this one is in use; it must not outlive this one. Null where the source
    // cannot serve two threads: callers then read with this one alone.
    virtual std::unique_ptr<Reader> twin();
    // Why the last read that returned false failed: ReadFailed, unless the
    // source decodes what it serves and can tell a damaged input apart.
    virtual ReadStatus failure() const;
};

// Calls read(offset, destination, count) once per run of requests that
// follow one another in the source and in memory, in order, and stops at the
// first that returns false: a run of rows costs one call to a slow stream.
// Returns the requests delivered, counted from the first.
template <typename Read>
std::size_t readInRuns(std::span<const ReadRequest> requests, Read&& read) {
    std::size_t delivered = 0;
    while (delivered < requests.size()) {
        const ReadRequest& first = requests[delivered];
        std::size_t end = delivered + 1;
        std::uint64_t bytes = first.count;
        while (end < requests.size() && requests[end].offset == first.offset + bytes &&
               requests[end].destination == static_cast<std::uint8_t*>(first.destination) + bytes) {
            bytes += requests[end].count;
            ++end;
        }
        if (!read(first.offset, first.destination, bytes)) break;
        delivered = end;
    }
    return delivered;
}

// A window [start, start + length) of another reader, which must outlive it.
class SliceReader final : public Reader {
public:
    SliceReader(Reader& underlying, std::uint64_t start, std::uint64_t length);
    std::uint64_t size() const override;
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override;
    const std::uint8_t* view(std::uint64_t offset, std::uint64_t count) const override;

private:
    Reader* underlying_;
    std::uint64_t start_;
    std::uint64_t length_;
};

// A reader over bytes owned by someone else; the buffer must outlive it.
class MemoryReader final : public Reader {
public:
    MemoryReader(const void* data, std::uint64_t length);
    std::uint64_t size() const override;
    bool read(std::uint64_t offset, void* destination, std::uint64_t count) override;
    const std::uint8_t* view(std::uint64_t offset, std::uint64_t count) const override;

private:
    const std::uint8_t* data_;
    std::uint64_t length_;
};

// The bytes [offset, offset + length) lie within the first `size` bytes (no
// overflow on the way).
bool rangeWithin(std::uint64_t offset, std::uint64_t length, std::uint64_t size);

// A read that tells a range past the end (Truncated) from a failing source
// (the source's failure()); an overflowing range is Malformed.
[[nodiscard]] ReadStatus readExact(Reader& reader, std::uint64_t offset, void* destination,
                                   std::uint64_t count);

}  // namespace cv
