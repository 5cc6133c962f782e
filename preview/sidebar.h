#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "metadata/metadata.h"

namespace cv {

// One label and value of the details beside the preview's picture.
struct SidebarRow {
    std::u16string label;
    std::u16string value;
};

// The rows for the values the metadata has, in the sidebar's fixed order.
std::vector<SidebarRow> sidebarRows(const ImageMetadata& metadata);

// `value` with `decimals` places and the unit appended, at most
// kSidebarNumberCapacity characters: a value too large for that in fixed
// point (a hostile header can hold 1e300) is written in exponent form.
constexpr std::size_t kSidebarNumberCapacity = 63;
std::u16string sidebarNumber(double value, int decimals, std::string_view unit);

}  // namespace cv
