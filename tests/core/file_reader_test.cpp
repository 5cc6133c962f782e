#include "core/file_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

namespace {

constexpr std::uint64_t kFileBytes = 64 * 1024;

std::uint8_t byteAt(std::uint64_t offset) {
    return static_cast<std::uint8_t>(offset * 7 % 251);
}

class FileReaderBatches : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = std::filesystem::temp_directory_path() /
                ("corvane-file-reader-" +
                 std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".bin");
        std::ofstream out(path_, std::ios::binary);
        for (std::uint64_t i = 0; i < kFileBytes; ++i) out.put(static_cast<char>(byteAt(i)));
        out.close();
        reader_ = cv::FileReader::open(path_.string());
        ASSERT_NE(reader_, nullptr);
    }
    void TearDown() override {
        reader_.reset();
        std::filesystem::remove(path_);
    }

    // `count` ranges of `length` bytes, `stride` apart in the file, packed into `buffer`.
    std::vector<cv::ReadRequest> ranges(std::vector<std::uint8_t>& buffer, std::size_t count,
                                        std::uint64_t length, std::uint64_t stride) {
        buffer.assign(count * length, 0);
        std::vector<cv::ReadRequest> requests;
        for (std::size_t i = 0; i < count; ++i)
            requests.push_back({i * stride, buffer.data() + i * length, length});
        return requests;
    }

    std::filesystem::path path_;
    std::unique_ptr<cv::FileReader> reader_;
};

TEST_F(FileReaderBatches, DeliverContiguousAndSeparateRangesAlike) {
    struct Case {
        const char* name;
        std::size_t count;
        std::uint64_t length;
        std::uint64_t stride;
    };
    // 40 separate ranges are more than one submission of the ring holds.
    for (const Case& c :
         {Case{"contiguous", 16, 1000, 1000}, Case{"separate", 40, 300, 1500},
          Case{"one", 1, 5000, 0}, Case{"to the last byte", 2, 32 * 1024, 32 * 1024}}) {
        std::vector<std::uint8_t> buffer;
        const auto requests = ranges(buffer, c.count, c.length, c.stride);
        ASSERT_TRUE(reader_->readRanges(requests)) << c.name;
        for (std::size_t i = 0; i < c.count; ++i) {
            for (std::uint64_t k = 0; k < c.length; ++k) {
                ASSERT_EQ(buffer[i * c.length + k], byteAt(i * c.stride + k))
                    << c.name << ", range " << i;
            }
        }
    }
}

TEST_F(FileReaderBatches, RefuseRangesOutsideTheFileOrWithoutABuffer) {
    std::vector<std::uint8_t> buffer(2000);
    const std::vector<std::vector<cv::ReadRequest>> refused = {
        {{0, buffer.data(), 100}, {kFileBytes - 50, buffer.data() + 1000, 100}},
        {{0, buffer.data(), 100}, {~std::uint64_t{0}, buffer.data() + 1000, 1}},
        {{0, buffer.data(), 100}, {5000, nullptr, 100}},
    };
    for (const auto& requests : refused) EXPECT_FALSE(reader_->readRanges(requests));
    // The reader still serves batches afterwards.
    std::vector<std::uint8_t> again;
    EXPECT_TRUE(reader_->readRanges(ranges(again, 3, 10, 4000)));
}

}  // namespace
