#include "core/read_status.h"

#include <array>

namespace cv {

const char* readStatusName(ReadStatus status) {
    static constexpr std::array<const char*, 10> kNames = {
        "Ok",        "NotRecognized", "Malformed", "Unsupported", "TooLarge",
        "Truncated", "ReadFailed",    "Cancelled", "Partial",     "TimedOut"};
    const auto index = static_cast<std::uint32_t>(status);
    return index < kNames.size() ? kNames[index] : "Unknown";
}

}  // namespace cv
