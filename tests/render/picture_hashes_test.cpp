// Every picture the renderer draws, pinned by a hash: generated samples and
// real files, at thumbnail and preview size. A change of any picture shows
// here; when one is meant, copy the lines from picture_hashes.actual.txt
// (written into the build folder's tests/) into picture_hashes.txt.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "core/file_reader.h"
#include "render/instruction_set.h"
#include "support/generated_samples.h"
#include "support/shell_render.h"
#include "support/test_readers.h"

namespace {

std::uint64_t fnv1a(const cv::RgbImage& image) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    auto mix = [&](std::uint8_t byte) { hash = (hash ^ byte) * 0x100000001b3ull; };
    for (int shift = 0; shift < 32; shift += 8)
        mix(static_cast<std::uint8_t>(image.width >> shift));
    for (std::uint8_t byte : image.pixels) mix(byte);
    return hash;
}

std::string pictureLine(cv::Reader& reader, bool preview) {
    cv::RgbImage image;
    const cv::ReadStatus status = cvtest::renderAsShellDoes(reader, preview, image);
    std::ostringstream line;
    line << cv::readStatusName(status) << ' ' << image.width << 'x' << image.height << ' '
         << std::hex << fnv1a(image);
    return line.str();
}

std::map<std::string, std::string> readTable(const std::string& path) {
    std::map<std::string, std::string> table;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const std::size_t tab = line.find('\t');
        if (tab != std::string::npos) table[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return table;
}

// Pins the pixel loops to one instruction set for the test's length.
class InstructionSetScope {
public:
    explicit InstructionSetScope(cv::InstructionSet set) : previous_(cv::useInstructionSet(set)) {}
    ~InstructionSetScope() { cv::useInstructionSet(previous_); }
    InstructionSetScope(const InstructionSetScope&) = delete;
    InstructionSetScope& operator=(const InstructionSetScope&) = delete;

private:
    cv::InstructionSet previous_;
};

class PictureHashes : public ::testing::TestWithParam<cv::InstructionSet> {};

// Each instruction set draws the same pictures, byte for byte.
TEST_P(PictureHashes, EveryPictureIsTheOneRecorded) {
    if (GetParam() == cv::InstructionSet::Avx2 &&
        cv::bestInstructionSet() != cv::InstructionSet::Avx2) {
        GTEST_SKIP() << "this processor has no AVX2";
    }
    const InstructionSetScope scope(GetParam());
    std::vector<std::pair<std::string, std::string>> actual;
    auto record = [&](const std::string& name, cv::Reader& reader) {
        actual.emplace_back(name + " thumbnail", pictureLine(reader, false));
        actual.emplace_back(name + " preview", pictureLine(reader, true));
    };
    // Every other sample, in turn with the instruction set, through a source
    // that does not lend its bytes: rows then go through the read buffer.
    std::size_t index = static_cast<std::size_t>(GetParam());
    for (const auto& sample : cvtest::generatedSamples()) {
        const std::string bytes = sample.build();
        cv::MemoryReader lending(bytes.data(), bytes.size());
        cvtest::BytesReader copying(bytes);
        record(sample.name, ++index % 2 == 0 ? static_cast<cv::Reader&>(lending) : copying);
    }
    const std::filesystem::path external(CORVANE_EXTERNAL_TESTDATA);
    std::vector<std::filesystem::path> files;
    if (std::filesystem::exists(external)) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(external)) {
            const std::string extension = entry.path().extension().string();
            if (extension == ".fits" || extension == ".fit" || extension == ".fts" ||
                extension == ".xisf") {
                files.push_back(entry.path());
            }
        }
    }
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
        auto reader = cv::FileReader::open(path.string());
        ASSERT_NE(reader, nullptr) << path;
        record(std::filesystem::relative(path, external).generic_string(), *reader);
    }

    std::ofstream written(CORVANE_PICTURE_HASHES_ACTUAL);
    for (const auto& [name, line] : actual) written << name << '\t' << line << '\n';
    const auto expected = readTable(CORVANE_PICTURE_HASHES);
    for (const auto& [name, line] : actual) {
        const auto found = expected.find(name);
        EXPECT_TRUE(found != expected.end() && found->second == line)
            << name << ": drew " << line << ", recorded "
            << (found == expected.end() ? "nothing" : found->second);
    }
}

INSTANTIATE_TEST_SUITE_P(InstructionSets, PictureHashes,
                         ::testing::Values(cv::InstructionSet::Baseline, cv::InstructionSet::Avx2),
                         [](const auto& set) {
                             return set.param == cv::InstructionSet::Avx2 ? "Avx2" : "Baseline";
                         });

}  // namespace
