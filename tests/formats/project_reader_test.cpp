#include "formats/project_reader.h"

#include <gtest/gtest.h>

#include "formats/image_header.h"
#include "samples/xisf_writer.h"
#include "support/test_names.h"
#include "support/test_readers.h"

namespace {

using cv::ReadStatus;

std::string le32(std::uint64_t value) {
    std::string out;
    for (int shift = 0; shift < 32; shift += 8) out += static_cast<char>((value >> shift) & 0xFF);
    return out;
}

// Entries are tagged "E0", "E1", ... so the chosen one is easy to tell.
std::string projectOf(const std::string& text, std::size_t entries) {
    std::vector<std::string> contents;
    for (std::size_t i = 0; i < entries; ++i) contents.push_back(cvtest::numbered("E", i));
    return cvsamples::buildProject(text, contents);
}

struct Located {
    ReadStatus status;
    cv::ProjectImageRef ref;
    std::string entry;
};

Located locate(const std::string& bytes) {
    cvtest::BytesReader reader(bytes);
    Located result;
    result.status = cv::locateProjectImage(reader, result.ref);
    if (result.status == ReadStatus::Ok)
        result.entry = bytes.substr(result.ref.dataOffset, result.ref.size);
    return result;
}

TEST(LookupProjectKey, TrimsKeysButKeepsTheValueAsWritten) {
    const std::string text = "a=1\n  role.source = src \r\n=orphan\nnoequals\nb=x=y\r\r\n";
    EXPECT_EQ(cv::lookupProjectKey(text, "a"), "1");
    EXPECT_EQ(cv::lookupProjectKey(text, "role.source"), " src ") << "spaces after '=' stay";
    EXPECT_EQ(cv::lookupProjectKey(text, "b"), "x=y");
    EXPECT_EQ(cv::lookupProjectKey(text, ""), "") << "a line starting with '=' has no key";
    EXPECT_EQ(cv::lookupProjectKey(text, "missing"), "");
    EXPECT_EQ(cv::lookupProjectKey(text, "A"), "") << "keys are case-sensitive";
}

TEST(LocateProjectImage, PicksTheSourceThenTheStarlessImage) {
    const std::pair<const char*, const char*> cases[] = {
        {"role.source=s\nimage.0.id=a\nimage.1.id=s\nimage.2.id=t\n", "E1"},
        {"role.starless=t\nimage.0.id=a\nimage.1.id=s\nimage.2.id=t\n", "E2"},
        {"role.source=s\r\nrole.starless=t\r\nimage.2.id=s\r\n", "E2"},
        {"role.source=nobody\nimage.1.id=s\n", "E0"},
        {" role.source = s\nimage.1.id=s\nimage.2.id= s\n", "E2"},
        {"", "E0"},
    };
    for (const auto& [text, entry] : cases) {
        const auto result = locate(projectOf(text, 3));
        ASSERT_EQ(result.status, ReadStatus::Ok) << text;
        EXPECT_EQ(result.entry, entry) << text;
        EXPECT_EQ(result.ref.imageCount, 3u);
    }
}

TEST(LocateProjectImage, RefusesBrokenContainers) {
    const std::string good = projectOf("role.source=b\nimage.1.id=b\n", 2);
    EXPECT_EQ(locate(good).status, ReadStatus::Ok);
    EXPECT_EQ(locate("VMPROJ02" + good.substr(8)).status, ReadStatus::Malformed);
    EXPECT_EQ(locate(projectOf("", 0)).status, ReadStatus::Malformed) << "no entries";
    EXPECT_EQ(locate(cvsamples::buildProject("", std::vector<std::string>(4097, "x"))).status,
              ReadStatus::Malformed);
    EXPECT_EQ(locate(cvsamples::buildProject("", {""})).status, ReadStatus::Malformed)
        << "an empty chosen entry";
    std::string tooLong = "VMPROJ01" + le32(4 * 1024 * 1024 + 1);
    tooLong.resize(4 * 1024 * 1024 + 64, 'x');
    EXPECT_EQ(locate(tooLong).status, ReadStatus::TooLarge);
    EXPECT_EQ(locate("VMPROJ01" + le32(100) + "short").status, ReadStatus::Malformed);
    // Entry 0 claims more bytes than the file has; entry 1 is the one chosen.
    std::string lying = good;
    const std::size_t entry0 = lying.size() - (4 + 2) - (4 + 2);
    lying.replace(entry0, 4, le32(1000));
    EXPECT_EQ(locate(lying).status, ReadStatus::Malformed);
    EXPECT_EQ(locate(good.substr(0, good.size() - 1)).status, ReadStatus::Malformed)
        << "the chosen entry is cut";
}

// 4 MiB of text and 4096 entry ids: the text is walked once, however many
// entries there are to match.
TEST(LocateProjectImage, ReadsTheKeyValueTextInOnePass) {
    std::string text = "role.source=wanted\n";
    for (std::uint32_t i = 0; i + 1 < cv::kMaxProjectEntries; ++i)
        text += "image." + std::to_string(i) + ".id=other\n";
    text += "image.4095.id=wanted\nimage.0100.id=wanted\nimage.4096.id=wanted\n";
    const std::size_t keyLines = cv::kMaxProjectEntries + 3;
    text += std::string(4 * 1024 * 1024 - text.size(), '-');
    const cv::ProjectRoles roles = cv::readProjectRoles(text, cv::kMaxProjectEntries);
    EXPECT_EQ(roles.linesVisited, keyLines);
    ASSERT_EQ(roles.imageIds.size(), cv::kMaxProjectEntries) << "image.4096.id names no entry";
    EXPECT_EQ(roles.imageIds[100], "other") << "image.0100.id is not image.100.id";

    const auto result = locate(
        cvsamples::buildProject(text, std::vector<std::string>(cv::kMaxProjectEntries, "x")));
    ASSERT_EQ(result.status, ReadStatus::Ok);
    EXPECT_EQ(result.ref.index, cv::kMaxProjectEntries - 1);
}

TEST(ReadImageHeader, ReadsTheProjectsXisfAndShiftsItsPositions) {
    cvsamples::XisfWriter writer;
    cvsamples::XisfBlock block;
    block.width = 8;
    block.height = 4;
    block.samples.assign(64, '\x01');
    cvsamples::XisfBlock thumbnail = block;
    thumbnail.sampleFormat = "UInt8";
    thumbnail.samples.assign(32, '\x02');
    writer.addImage(block, {}, &thumbnail);
    const std::string xisf = writer.bytes();
    const std::string text(1000 - 12 - 4 - 7 - 4 - 4 - 4,
                           'k');  // the XISF file starts at byte 1000
    const std::string bytes = cvsamples::buildProject(text, {xisf});
    ASSERT_EQ(bytes.substr(1000, 8), "XISF0100");
    cvtest::BytesReader reader(bytes);
    cv::ImageData data;
    ASSERT_EQ(cv::readImageHeader(reader, data), ReadStatus::Ok);
    EXPECT_EQ(data.kind, cv::FileKind::Project);
    // The writer stores the thumbnail's block first.
    EXPECT_EQ(data.image.position, 1000u + 8192u);
    ASSERT_TRUE(data.hasThumbnail);
    EXPECT_EQ(data.thumbnail.position, 1000u + 4096u);
    EXPECT_EQ(data.imageCount, 1u);
}

TEST(ReadImageHeader, PassesOnWhatTheProjectsEntryIs) {
    cvtest::BytesReader reader(cvsamples::buildProject("", {"not an XISF file at all"}));
    cv::ImageData data;
    EXPECT_EQ(cv::readImageHeader(reader, data), ReadStatus::NotRecognized);
}

}  // namespace
