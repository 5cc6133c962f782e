#pragma once

#include <cstdint>

namespace cv {

// Outcome of detection, reading and rendering. The kinds stay apart: the file
// is broken (Malformed, Truncated), we do not handle it (Unsupported), one of
// our own limits was reached (TooLarge), the source failed (ReadFailed), the
// caller stopped us (Cancelled), a budget ran out with a picture drawn
// (Partial), or so far past the time limit that none was (TimedOut).
enum class ReadStatus : std::uint32_t {
    Ok = 0,
    NotRecognized = 1,
    Malformed = 2,
    Unsupported = 3,
    TooLarge = 4,
    Truncated = 5,
    ReadFailed = 6,
    Cancelled = 7,
    Partial = 8,
    TimedOut = 9,
};

// "Ok", "NotRecognized", ...; "Unknown" for a value outside the table.
const char* readStatusName(ReadStatus status);

}  // namespace cv
