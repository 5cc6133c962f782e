#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/read_status.h"
#include "core/reader.h"

namespace cv {

// Where the stored rows of a block lie: row r of plane p starts at
// start + p * planeBytes + r * rowBytes.
struct RowLayout {
    std::uint64_t start = 0;
    std::uint64_t rowBytes = 0;
    std::uint64_t planeBytes = 0;
    std::uint32_t planes = 1;
};

// The stored rows of one block, as they are asked for: read from a file in
// batches, or lent from memory; a source of rows decoded from compressed
// tiles can stand beside these two.
class RowSource {
public:
    virtual ~RowSource() = default;

    // Makes `rows` of the planes [plane, plane + planes) ready, plane by
    // plane, in slots numbered in that order. TimedOut when the budget's
    // time ran out part-way: the first ready() slots then hold their rows.
    [[nodiscard]] virtual ReadStatus fetch(const std::vector<std::uint64_t>& rows,
                                           std::uint32_t plane, std::uint32_t planes) = 0;
    // Starts fetching `rows` on another thread where the reader can (see
    // Reader::readAhead); the fetch of the same rows that must follow then
    // waits for them instead of reading. False when nothing was started.
    virtual bool fetchAhead(const std::vector<std::uint64_t>& rows, std::uint32_t plane,
                            std::uint32_t planes);
    // Slots the last fetch filled, counted from the first.
    virtual std::size_t ready() const = 0;
    // The stored bytes of `row` of `plane`, which the last fetch put in `slot`.
    virtual const std::uint8_t* row(std::uint32_t plane, std::uint64_t row,
                                    std::size_t slot) const = 0;
    // Every row is in memory: a fetch costs nothing and slots do not matter.
    virtual bool resident() const = 0;
    // Starts loading a row about to be converted, where that can help.
    virtual void prefetch(std::uint32_t plane, std::uint64_t row) const;
    // The same rows for another thread, fetching up to `slots` rows at once;
    // null when the source cannot serve two threads. Throws std::bad_alloc.
    virtual std::unique_ptr<RowSource> twin(std::size_t slots) const = 0;
    // `slots` of its own over the same reader, for one thread to fetch ahead
    // into while this one's rows are converted; the two are never fetched
    // into at once. Null where the reader does not read ahead. Throws
    // std::bad_alloc.
    virtual std::unique_ptr<RowSource> sibling(std::size_t slots) const;
    // The same rows through the same reader, fetching up to `slots` rows at
    // once; null where the source cannot (the default). Throws std::bad_alloc.
    virtual std::unique_ptr<RowSource> widened(std::size_t slots) const;
};

// Rows lent by `samples` when it holds every plane in memory, else read
// through it, up to `slots` rows per fetch: a batch in one call to a source
// that serves batches, else a call per run of rows that follow one another.
// Throws std::bad_alloc.
std::unique_ptr<RowSource> makeRowSource(Reader& samples, const RowLayout& layout,
                                         std::size_t slots);

}  // namespace cv
