#pragma once

#include <cctype>
#include <string>

namespace cvtest {

// A file name or path as a GoogleTest parameter name: letters and digits
// kept, everything else '_'.
inline std::string testNameOf(std::string text) {
    for (char& c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return text;
}

// "K12" from "K" and 12, appended rather than added: GCC 12 at -O3 warns
// of a false overlap in "literal" + std::to_string(n).
inline std::string numbered(std::string prefix, std::size_t n) {
    prefix += std::to_string(n);
    return prefix;
}

}  // namespace cvtest
