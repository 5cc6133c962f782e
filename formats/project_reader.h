#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/reader.h"

namespace cv {

// Where the XISF file to show lies inside a Vellumar project.
struct ProjectImageRef {
    std::uint64_t dataOffset = 0;  // first byte of the chosen entry's XISF file
    std::uint64_t size = 0;
    std::uint32_t index = 0;
    std::uint32_t imageCount = 0;
};

constexpr std::uint32_t kMaxProjectEntries = 4096;

// The keys that choose the image to show, collected in one pass over the
// key-value text (views into it): the first value of each key.
struct ProjectRoles {
    std::optional<std::string_view> source;
    std::optional<std::string_view> starless;
    std::vector<std::optional<std::string_view>> imageIds;  // by entry number
    std::uint64_t linesVisited = 0;                         // lines with a key
};

// The first 8 bytes read and are "VMPROJ01".
bool isProject(Reader& reader);

// The value of the first "key=value" line whose trimmed key is `key`
// (trailing carriage returns removed from the value); empty when none.
std::string lookupProjectKey(std::string_view text, std::string_view key);

ProjectRoles readProjectRoles(std::string_view text, std::uint32_t entries);

// Picks the source image (else the star-free one, else entry 0) and reports
// where its XISF file lies. Reads only lengths up to the chosen entry.
[[nodiscard]] ReadStatus locateProjectImage(Reader& reader, ProjectImageRef& ref);

}  // namespace cv
