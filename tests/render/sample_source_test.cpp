#include "render/sample_source.h"

#include <gtest/gtest.h>

#include "support/test_readers.h"

namespace {

constexpr std::uint64_t kPiece = 8 * 1024 * 1024;

cv::ImageBlock storedBlock(std::uint64_t position, std::uint64_t size, cv::Codec codec) {
    cv::ImageBlock block;
    block.location = cv::DataLocation::Attachment;
    block.position = position;
    block.size = size;
    block.codec = codec;
    block.uncompressedSize = size;
    return block;
}

TEST(SampleSource, LendsPlainDataFromTheFileAndLoadsOtherBlocksInPieces) {
    cvtest::BytesReader file(std::string(3 * kPiece, '\0'));
    cv::SampleSource plain;
    ASSERT_EQ(plain.load(file, storedBlock(100, 1000, cv::Codec::None), kPiece,
                         [] { return cv::ReadStatus::Ok; }),
              cv::ReadStatus::Ok);
    EXPECT_EQ(&plain.samples(), &file);
    EXPECT_EQ(plain.start(), 100u);
    EXPECT_EQ(file.bytesRead, 0u) << "nothing read ahead";

    int checks = 0;
    auto cancelOnSecond = [&] {
        return ++checks == 2 ? cv::ReadStatus::Cancelled : cv::ReadStatus::Ok;
    };
    cv::SampleSource coded;
    EXPECT_EQ(
        coded.load(file, storedBlock(0, 3 * kPiece, cv::Codec::Zlib), 3 * kPiece, cancelOnSecond),
        cv::ReadStatus::Cancelled);
    EXPECT_EQ(file.bytesRead, 2 * kPiece) << "reading stops at the piece the caller stopped";
    EXPECT_EQ(coded.load(file, storedBlock(0, 3 * kPiece, cv::Codec::Zlib), kPiece, cancelOnSecond),
              cv::ReadStatus::TooLarge);
}

}  // namespace
