#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/reader.h"

namespace cv {

struct SequenceImage {
    std::int32_t fileNumber = 0;
    bool selected = true;
    bool registered = false;
    double fwhm = 0.0;
    double weightedFwhm = 0.0;
    double roundness = 0.0;
    double background = 0.0;
    std::int32_t stars = 0;
    bool hasMedian = false;
    double median = 0.0;
    bool hasNoise = false;
    double noise = 0.0;
};

constexpr std::int32_t kNoRegistrationLayer = -1;
constexpr std::int32_t kOldRegistrationFormat = -2;

// What a Siril .seq file says about its frames.
struct SequenceInfo {
    std::string name;
    std::int32_t declaredFrames = 0;
    std::int32_t selectedFrames = 0;
    std::int32_t version = 0;
    char typeLetter = 0;  // 'A' film, 'F' FITS cube, 'S' SER video; 0 FITS files
    std::int32_t layerCount = 0;
    std::vector<SequenceImage> images;
    std::int32_t registrationLayer = kNoRegistrationLayer;
    bool truncated = false;  // more I lines than the image limit
};

// Reads at most the first 4 KiB: a "#Siril sequence file" comment, or a
// first non-comment line that is an S line.
bool isSirilSequence(Reader& reader);

// Reads the whole file (at most 16 MiB); `info` is empty on any failure.
[[nodiscard]] ReadStatus parseSequence(Reader& reader, SequenceInfo& info);

std::uint32_t frameCount(const SequenceInfo& info);
bool isRegistered(const SequenceInfo& info);
std::optional<double> medianFwhm(const SequenceInfo& info);
const char* sequenceTypeName(const SequenceInfo& info);
// The median of some figures (the mean of the middle two for an even count); not empty.
double medianOf(std::vector<double> values);

}  // namespace cv
