#include "formats/file_class.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "samples/text_samples.h"
#include "support/generated_samples.h"
#include "support/test_readers.h"

namespace {

// Every generated sample is the kind its extension names; other bytes are none.
TEST(ClassifyFile, TellsEveryKindByItsBytes) {
    const std::pair<const char*, cv::FileClass> byExtension[] = {
        {".xisf", cv::FileClass::Xisf},         {".fits", cv::FileClass::Fits},
        {".vmproj", cv::FileClass::Project},    {".seq", cv::FileClass::SirilSequence},
        {".xpsm", cv::FileClass::ProcessIcons},
    };
    auto samples = cvtest::generatedSamples();
    for (auto& sample : cvsamples::textSamples()) samples.push_back(std::move(sample));
    for (const auto& sample : samples) {
        const std::string extension = std::filesystem::path(sample.name).extension().string();
        for (const auto& [name, kind] : byExtension) {
            if (extension != name) continue;
            cvtest::BytesReader reader(sample.build());
            EXPECT_EQ(cv::classifyFile(reader), kind) << sample.name;
        }
    }
    cvtest::BytesReader text(std::string("just some text\n"));
    EXPECT_EQ(cv::classifyFile(text), cv::FileClass::Unknown);
}

}  // namespace
