#include "formats/fits_card.h"

#include "core/text_utils.h"

namespace cv {

namespace {

constexpr std::size_t kNameLength = 8;   // bytes 0 to 7
constexpr std::size_t kValueStart = 10;  // after "= "

// Position of the slash that starts the comment, or the card size; a slash
// inside a quoted string does not count, and '' inside a string is a quote.
std::size_t findCommentStart(std::string_view card) {
    bool insideString = false;
    for (std::size_t i = kValueStart; i < kFitsCardSize; ++i) {
        const char c = card[i];
        if (!insideString) {
            if (c == '\'')
                insideString = true;
            else if (c == '/')
                return i;
        } else if (c == '\'') {
            if (i + 1 < kFitsCardSize && card[i + 1] == '\'')
                ++i;
            else
                insideString = false;
        }
    }
    return kFitsCardSize;
}

}  // namespace

std::optional<FitsCard> parseFitsCard(std::string_view card) {
    if (card.size() != kFitsCardSize) return std::nullopt;
    std::string_view name = card.substr(0, kNameLength);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    if (name.empty()) return std::nullopt;
    if (card[8] != '=' || card[9] != ' ') return std::nullopt;

    const std::size_t commentStart = findCommentStart(card);
    FitsCard parsed;
    parsed.name = name;
    parsed.value = trim(card.substr(kValueStart, commentStart - kValueStart));
    if (commentStart + 1 < kFitsCardSize) parsed.comment = trim(card.substr(commentStart + 1));
    return parsed;
}

bool isEndCard(std::string_view card) {
    return card.substr(0, kNameLength) == "END     ";
}

}  // namespace cv
