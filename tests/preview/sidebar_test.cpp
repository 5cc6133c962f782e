#include "preview/sidebar.h"

#include <gtest/gtest.h>

#include "core/utf16.h"

namespace {

std::string utf8(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

TEST(SidebarNumber, FormatsWithTheRowsDecimalsAndUnits) {
    struct Case {
        double value;
        int decimals;
        const char* unit;
        const char* expected;
    };
    const Case cases[] = {
        {300, 1, " s", "300.0 s"},      {-10, 1, " C", "-10.0 C"},
        {120.6, 0, "", "121"},          {1.2345, 2, "\"/px", "1.23\"/px"},
        {1e300, 1, " s", "1.0e+300 s"}, {-1e300, 2, "\"/px", "-1.00e+300\"/px"},
    };
    for (const Case& c : cases) {
        const std::u16string text = cv::sidebarNumber(c.value, c.decimals, c.unit);
        EXPECT_EQ(utf8(text), c.expected) << c.value;
        EXPECT_LE(text.size(), cv::kSidebarNumberCapacity);
    }
}

TEST(SidebarRows, ShowOnlyWhatTheMetadataHasInTheFixedOrder) {
    cv::ImageMetadata bare;
    bare.width = 640;
    bare.height = 480;
    bare.channels = 1;
    bare.sampleFormat = "UInt16";
    std::vector<std::string> labels;
    for (const auto& row : cv::sidebarRows(bare)) labels.push_back(utf8(row.label));
    EXPECT_EQ(labels, (std::vector<std::string>{"Size", "Format"}));

    cv::ImageMetadata full = bare;
    full.objectName = "M 31";
    full.filter = "";
    full.gain = 120.6;
    full.exposureTime = 300;
    labels.clear();
    std::vector<std::string> values;
    for (const auto& row : cv::sidebarRows(full)) {
        labels.push_back(utf8(row.label));
        values.push_back(utf8(row.value));
    }
    EXPECT_EQ(labels, (std::vector<std::string>{"Object", "Exposure", "Gain", "Size", "Format"}));
    EXPECT_EQ(values[0], "M 31");
    EXPECT_EQ(values[2], "121");
}

}  // namespace
