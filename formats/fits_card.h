#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace cv {

constexpr std::size_t kFitsCardSize = 80;  // bytes per header card

// A value card's parts, as ranges of the card. The value keeps string quotes
// and doubled quotes exactly as written.
struct FitsCard {
    std::string_view name;
    std::string_view value;
    std::string_view comment;
};

// Nothing when `card` is not an 80-byte value card ("NAME    = ..."):
// COMMENT, HISTORY, blank, CONTINUE and HIERARCH cards all give nothing.
std::optional<FitsCard> parseFitsCard(std::string_view card);

// The card that ends a header: "END" and five spaces.
bool isEndCard(std::string_view card);

}  // namespace cv
