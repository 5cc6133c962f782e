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

}  // namespace cvtest
