#include "formats/base64.h"

#include <gtest/gtest.h>

namespace {

std::string decoded(const std::string& text, std::uint64_t maxBytes = 100) {
    std::vector<std::uint8_t> out;
    if (!cv::decodeBase64(text, out, maxBytes)) return "<refused>";
    return std::string(out.begin(), out.end());
}

TEST(DecodeBase64, DecodesPaddedGroupsAndIgnoresWhitespace) {
    EXPECT_EQ(decoded("TWFu"), "Man");
    EXPECT_EQ(decoded("TWE="), "Ma");
    EXPECT_EQ(decoded("TQ=="), "M");
    EXPECT_EQ(decoded(" TW\nFu\r\n TQ= = "), "ManM");
    EXPECT_EQ(decoded(""), "");
}

TEST(DecodeBase64, RefusesWhatIsNotBase64) {
    for (const char* bad : {"TWF", "TW=u", "T===", "TQ==TWFu", "TW-u", "TWFu=", "=AAA"}) {
        EXPECT_EQ(decoded(bad), "<refused>") << bad;
    }
}

TEST(DecodeBase64, RefusesOutputBeyondTheLimit) {
    EXPECT_EQ(decoded("TWFuTWFu", 6), "ManMan");
    EXPECT_EQ(decoded("TWFuTWFu", 5), "<refused>");
}

}  // namespace
