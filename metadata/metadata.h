#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/image_data.h"

namespace cv {

// The observation record of an image, from its XISF properties and FITS
// keywords. An absent value is an empty optional.
struct ImageMetadata {
    std::optional<std::string> objectName;
    std::optional<std::string>
        imageType;  // normalised: Light, Dark, Flat, Bias, DarkFlat or as stored
    std::optional<std::string> filter;
    std::optional<std::string> telescope;
    std::optional<std::string> camera;
    std::optional<std::string> observer;
    std::optional<std::string> authors;
    std::optional<std::string> observationStart;  // ISO 8601, as stored
    std::optional<std::string> nightDate;         // YYYY-MM-DD of the evening the night began
    std::optional<std::string> bayerPattern;
    std::optional<double> exposureTime;       // seconds
    std::optional<double> sensorTemperature;  // degrees Celsius
    std::optional<double> setTemperature;     // degrees Celsius
    std::optional<double> gain;
    std::optional<double> isoSpeed;
    std::optional<double> pixelSizeX;  // micrometres, unbinned
    std::optional<double> pixelSizeY;
    std::optional<double> focalLength;  // millimetres
    std::optional<double> aperture;     // millimetres
    std::optional<double> imageScale;   // arcseconds per pixel
    std::optional<std::uint32_t> binningX;
    std::optional<std::uint32_t> binningY;
    std::optional<std::uint32_t> offset;
    std::optional<double> rightAscension;  // degrees
    std::optional<double> declination;     // degrees
    std::optional<double> airmass;
    std::optional<double> hfr;
    std::optional<double> fwhm;
    std::optional<double> rmsError;  // arcseconds
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint32_t channels = 0;
    std::uint32_t bitsPerSample = 0;
    std::string sampleFormat;
    std::string colorSpace;
    std::string compression;  // "none", or the codec name with "+sh" when shuffled
    std::string formatName;
    std::uint32_t imageCount = 0;
};

// Never fails: whatever is absent or does not parse stays absent. An XISF
// property wins over a FITS keyword; among keywords the earlier row wins.
ImageMetadata extractMetadata(const ImageData& image);

// "12 30 00", "12:30:00" or "12.5" give 12.5; a leading sign applies to all.
std::optional<double> parseSexagesimal(std::string_view text);
std::string normalizeFrameType(std::string_view text);
// The date of the observing night: a start before noon belongs to the
// evening before.
std::optional<std::string> nightDateFromTimestamp(std::string_view timestamp);

// Display texts; empty when their values are absent.
std::string formatDimensions(const ImageMetadata& metadata);
std::string formatBinning(const ImageMetadata& metadata);
std::string formatRightAscension(const ImageMetadata& metadata);
std::string formatDeclination(const ImageMetadata& metadata);

}  // namespace cv
