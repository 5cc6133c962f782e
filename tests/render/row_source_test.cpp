#include "render/row_source.h"

#include <gtest/gtest.h>

#include "render/row_reader.h"
#include "support/test_readers.h"

namespace {

// Two planes of three 4-byte rows after a 2-byte prefix; byte i holds i.
std::string planarBytes() {
    std::string bytes(2 + 2 * 3 * 4, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i);
    return bytes;
}

constexpr cv::RowLayout kLayout{2, 4, 12, 2};

TEST(RowSource, ReadsOrLendsTheSameRowsPlaneByPlane) {
    const std::string bytes = planarBytes();
    cvtest::BytesReader file(bytes);
    cv::MemoryReader memory(bytes.data(), bytes.size());
    for (cv::Reader* samples :
         {static_cast<cv::Reader*>(&file), static_cast<cv::Reader*>(&memory)}) {
        const auto source = cv::makeRowSource(*samples, kLayout, 4);
        EXPECT_EQ(source->resident(), samples == &memory);
        ASSERT_EQ(source->fetch({2, 0}, 0, 2), cv::ReadStatus::Ok);
        const std::size_t slots[] = {0, 1, 2, 3};  // plane 0 rows 2, 0; plane 1 rows 2, 0
        const std::uint64_t planes[] = {0, 0, 1, 1};
        const std::uint64_t rows[] = {2, 0, 2, 0};
        for (std::size_t i = 0; i < 4; ++i) {
            const std::uint8_t* row =
                source->row(static_cast<std::uint32_t>(planes[i]), rows[i], slots[i]);
            EXPECT_EQ(row[0], 2 + planes[i] * 12 + rows[i] * 4) << i;
        }
    }
    EXPECT_EQ(file.bytesRead, 16u) << "only the rows asked for";
    EXPECT_EQ(cv::makeRowSource(file, kLayout, 2)->twin(2), nullptr) << "the file has no twin";
    EXPECT_NE(cv::makeRowSource(memory, kLayout, 2)->twin(2), nullptr)
        << "lent rows serve any thread";
}

TEST(RowReader, AMosaicCellIsItsPairOfRowsInThreeColours) {
    cv::ImageBlock block;
    block.width = 4;
    block.sampleFormat = cv::SampleFormat::UInt8;
    const std::string bytes = "\x10\x20\x30\x40\x50\x60\x70\x80";  // RG RG / GB GB
    cv::MemoryReader memory(bytes.data(), bytes.size());
    const cv::RowReader reader(block, cv::Normalization{}, cv::parseBayerPattern("RGGB"));
    cv::RowLane lane;
    lane.source = cv::makeRowSource(memory, {0, 4, 8, 1}, 2);
    reader.prepare(lane);
    std::vector<std::vector<float>> channels;
    ASSERT_EQ(reader.add(lane, 0, 0, 0,
                         [&](std::uint32_t, const float* values, std::size_t count) {
                             channels.emplace_back(values, values + count);
                         }),
              cv::ReadStatus::Ok);
    ASSERT_EQ(channels.size(), 3u);
    EXPECT_EQ(channels[0], (std::vector<float>{0x10, 0x30}));
    EXPECT_EQ(channels[2], (std::vector<float>{0x60, 0x80}));
    EXPECT_EQ(lane.bytesRead, 8u);
    EXPECT_EQ(lane.rowsRead, 2u);
}

}  // namespace
