#include "metadata/metadata.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "core/text_utils.h"

namespace cv {

namespace {

constexpr double kMetresToMillimetres = 1000.0;
constexpr double kArcsecondsPerRadianOver1000 = 206.265;  // with micrometres over millimetres
constexpr double kDegreesPerHour = 15.0;
constexpr double kMaxWholeNumber = 4294967295.0;  // exclusive
constexpr double kMaxDisplayedDegrees = 1e6;
constexpr double kMinYear = -999.0;
constexpr double kMaxYear = 9999.0;

using TextField = std::optional<std::string> ImageMetadata::*;
using NumberField = std::optional<double> ImageMetadata::*;
using WholeField = std::optional<std::uint32_t> ImageMetadata::*;

std::optional<std::uint32_t> wholeNumber(std::string_view text) {
    const auto value = parseFiniteDouble(text);
    if (!value || !(*value >= 0.0) || !(*value < kMaxWholeNumber)) return std::nullopt;
    return static_cast<std::uint32_t>(*value + 0.5);
}

bool contains(const std::string& upperText, const char* word) {
    return upperText.find(word) != std::string::npos;
}

// XISF properties: a present, non-empty property sets its field.
struct PropertySource {
    const ImageData& image;
    ImageMetadata& metadata;

    const std::string* value(const char* id) const {
        const PropertyRecord* property = findProperty(image, id);
        return property != nullptr && !property->value.empty() ? &property->value : nullptr;
    }
    void text(const char* id, TextField field) const {
        if (const auto* v = value(id)) metadata.*field = *v;
    }
    void number(const char* id, NumberField field, double factor = 1.0) const {
        if (const auto* v = value(id)) {
            if (const auto n = parseFiniteDouble(*v); n && std::isfinite(*n * factor))
                metadata.*field = *n * factor;
        }
    }
    void whole(const char* id, WholeField field) const {
        if (const auto* v = value(id)) {
            if (const auto n = wholeNumber(*v)) metadata.*field = n;
        }
    }
};

// FITS keywords: a row is tried only while its field is still absent.
struct KeywordSource {
    const ImageData& image;
    ImageMetadata& metadata;

    std::string value(const char* name) const { return keywordValue(image, name); }
    void text(const char* name, TextField field) const {
        if (metadata.*field) return;
        if (std::string v = value(name); !v.empty()) metadata.*field = std::move(v);
    }
    void number(const char* name, NumberField field) const {
        if (metadata.*field) return;
        if (const auto n = parseFiniteDouble(value(name))) metadata.*field = n;
    }
    void whole(const char* name, WholeField field) const {
        if (metadata.*field) return;
        if (const auto n = wholeNumber(value(name))) metadata.*field = n;
    }
    // Degrees, accepted within [low, high]; `hours` multiplies by 15 first.
    void coordinate(const char* name, NumberField field, bool hours, double low,
                    double high) const {
        if (metadata.*field) return;
        const auto parsed = parseSexagesimal(value(name));
        if (!parsed) return;
        const double degrees = hours ? *parsed * kDegreesPerHour : *parsed;
        if (degrees >= low && degrees <= high) metadata.*field = degrees;
    }
    // "RA" is in hours when written with separators, else in degrees.
    void rightAscension() const {
        if (metadata.rightAscension) return;
        const std::string text = value("RA");
        const auto parsed = parseSexagesimal(text);
        if (!parsed) return;
        std::string_view examined = text;
        if (!examined.empty() && (examined.front() == '+' || examined.front() == '-'))
            examined.remove_prefix(1);
        const bool hours = examined.find_first_of(" :") != std::string_view::npos;
        double degrees = hours ? *parsed * kDegreesPerHour : *parsed;
        if (degrees < -360.0 || degrees > 360.0) return;
        if (degrees < 0.0) degrees += 360.0;
        metadata.rightAscension = degrees;
    }
};

void copyGeometry(const ImageData& image, ImageMetadata& metadata) {
    const ImageBlock& block = image.image;
    metadata.width = block.width;
    metadata.height = block.height;
    metadata.channels = block.channels;
    metadata.bitsPerSample = 8 * bytesPerSample(block.sampleFormat);
    metadata.sampleFormat = sampleFormatName(block.sampleFormat);
    metadata.colorSpace = colorSpaceName(block.colorSpace);
    metadata.formatName = fileKindName(image.kind);
    metadata.imageCount = image.imageCount;
    metadata.compression = block.codec == Codec::None ? "none"
                                                      : std::string(codecName(block.codec)) +
                                                            (block.byteShuffled ? "+sh" : "");
}

void readProperties(const PropertySource& p) {
    using M = ImageMetadata;
    p.text("Observation:Object:Name", &M::objectName);
    p.text("Image:Type", &M::imageType);
    p.text("Instrument:Filter:Name", &M::filter);
    p.text("Instrument:Telescope:Name", &M::telescope);
    p.text("Instrument:Camera:Name", &M::camera);
    p.text("Observer:Name", &M::observer);
    p.text("Observation:Authors", &M::authors);
    p.text("Observation:Time:Start", &M::observationStart);
    p.number("Instrument:ExposureTime", &M::exposureTime);
    p.number("Instrument:Sensor:Temperature", &M::sensorTemperature);
    p.number("Instrument:Camera:Gain", &M::gain);
    p.number("Instrument:Camera:ISOSpeed", &M::isoSpeed);
    p.number("Instrument:Sensor:XPixelSize", &M::pixelSizeX);
    p.number("Instrument:Sensor:YPixelSize", &M::pixelSizeY);
    p.number("Instrument:Telescope:FocalLength", &M::focalLength, kMetresToMillimetres);
    p.number("Instrument:Telescope:Aperture", &M::aperture, kMetresToMillimetres);
    p.number("Observation:Center:RA", &M::rightAscension);
    p.number("Observation:Center:Dec", &M::declination);
    p.whole("Instrument:Camera:XBinning", &M::binningX);
    p.whole("Instrument:Camera:YBinning", &M::binningY);
}

void readKeywords(const KeywordSource& k) {
    using M = ImageMetadata;
    k.text("OBJNAME", &M::objectName);
    k.text("IMAGETYP", &M::imageType);
    k.text("FILTER", &M::filter);
    k.text("TELESCOP", &M::telescope);
    k.text("INSTRUME", &M::camera);
    k.text("OBSERVER", &M::observer);
    k.text("AUTHOR", &M::authors);
    k.text("DATE-BEG", &M::observationStart);
    k.number("EXPTIME", &M::exposureTime);
    k.number("CCD-TEMP", &M::sensorTemperature);
    k.number("SET-TEMP", &M::setTemperature);
    k.number("EGAIN", &M::gain);
    k.number("ISOSPEED", &M::isoSpeed);
    k.number("XPIXSZ", &M::pixelSizeX);
    k.number("YPIXSZ", &M::pixelSizeY);
    k.number("FOCALLEN", &M::focalLength);
    k.number("APTDIA", &M::aperture);
    k.number("AIRMASS", &M::airmass);
    k.number("HFR", &M::hfr);
    k.number("FWHM", &M::fwhm);
    k.number("RMSARCSEC", &M::rmsError);
    k.whole("XBINNING", &M::binningX);
    k.whole("YBINNING", &M::binningY);
    k.whole("OFFSET", &M::offset);
    k.rightAscension();
    k.coordinate("DEC", &M::declination, false, -90.0, 90.0);
    k.text("OBJECT", &M::objectName);
    k.text("FRAME", &M::imageType);
    k.text("INSFLNAM", &M::filter);
    k.text("DATE-OBS", &M::observationStart);
    k.number("EXPOSURE", &M::exposureTime);
    k.number("GAIN", &M::gain);
    k.number("PIXSIZE", &M::pixelSizeX);
    k.number("PIXSIZE", &M::pixelSizeY);
    k.whole("CCDBINX", &M::binningX);
    k.whole("CCDBINY", &M::binningY);
    k.whole("BINNING", &M::binningX);
    k.whole("BLKLEVEL", &M::offset);
    k.coordinate("OBJCTRA", &M::rightAscension, true, 0.0, 360.0);
    k.coordinate("OBJCTDEC", &M::declination, false, -90.0, 90.0);
}

bool isLeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned daysInMonth(int year, unsigned month) {
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

std::optional<double> numberAt(std::string_view text, std::size_t start, std::size_t length) {
    return parseFiniteDouble(text.substr(start, length));
}

}  // namespace

std::optional<double> parseSexagesimal(std::string_view text) {
    text = trim(text);
    if (text.empty()) return std::nullopt;
    double sign = 1.0;
    if (text.front() == '-' || text.front() == '+') {
        sign = text.front() == '-' ? -1.0 : 1.0;
        text.remove_prefix(1);
    }
    double components[3] = {0.0, 0.0, 0.0};
    std::size_t count = 0;
    auto isSeparator = [](char c) { return c == ':' || isWhitespace(c); };
    while (!text.empty() && count < 3) {
        while (!text.empty() && isSeparator(text.front())) text.remove_prefix(1);
        if (text.empty()) break;
        std::size_t end = 0;
        while (end < text.size() && !isSeparator(text[end])) ++end;
        const auto value = parseFiniteDouble(text.substr(0, end));
        if (!value) return std::nullopt;
        components[count++] = *value;
        text.remove_prefix(end);
    }
    if (count == 0) return std::nullopt;
    return sign * (components[0] + components[1] / 60.0 + components[2] / 3600.0);
}

std::string normalizeFrameType(std::string_view text) {
    const std::string folded = upperAscii(text);
    if (contains(folded, "DARKFLAT") || contains(folded, "FLATDARK")) return "DarkFlat";
    if (contains(folded, "BIAS") || contains(folded, "ZERO")) return "Bias";
    if (contains(folded, "DARK")) return "Dark";
    if (contains(folded, "FLAT")) return "Flat";
    if (contains(folded, "LIGHT") || contains(folded, "SCIENCE") || contains(folded, "OBJECT"))
        return "Light";
    return std::string(text);
}

std::optional<std::string> nightDateFromTimestamp(std::string_view timestamp) {
    if (timestamp.size() < 10 || timestamp[4] != '-' || timestamp[7] != '-') return std::nullopt;
    const auto year = numberAt(timestamp, 0, 4);
    const auto month = numberAt(timestamp, 5, 2);
    const auto day = numberAt(timestamp, 8, 2);
    if (!year || !month || !day) return std::nullopt;
    // Four characters spell at most -999 to 9999; "9e99" is a number, not a year.
    if (!(*year >= kMinYear && *year < kMaxYear + 1.0)) return std::nullopt;
    int y = static_cast<int>(*year);
    const double monthValue = std::trunc(*month);
    const double dayValue = std::trunc(*day);
    if (monthValue < 1 || monthValue > 12 || dayValue < 1 || dayValue > 31) return std::nullopt;
    auto m = static_cast<unsigned>(monthValue);
    auto d = static_cast<unsigned>(dayValue);
    double hour = 0.0;
    if (timestamp.size() >= 13 && (timestamp[10] == 'T' || timestamp[10] == ' ')) {
        hour = numberAt(timestamp, 11, 2).value_or(0.0);
    }
    // A day past the month's end rolls over into the next month.
    while (d > daysInMonth(y, m)) {
        d -= daysInMonth(y, m);
        if (++m > 12) {
            m = 1;
            ++y;
        }
    }
    if (hour < 12.0) {
        if (--d == 0) {
            if (--m == 0) {
                m = 12;
                --y;
            }
            d = daysInMonth(y, m);
        }
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u", y, m, d);
    return std::string(text);
}

ImageMetadata extractMetadata(const ImageData& image) {
    ImageMetadata metadata;
    copyGeometry(image, metadata);
    readProperties(PropertySource{image, metadata});
    readKeywords(KeywordSource{image, metadata});
    if (metadata.imageType) metadata.imageType = normalizeFrameType(*metadata.imageType);
    if (!image.cfaPattern.empty()) {
        metadata.bayerPattern = image.cfaPattern;
    } else if (const std::string pattern = keywordValue(image, "BAYERPAT"); !pattern.empty()) {
        metadata.bayerPattern = upperAscii(pattern);
    }
    if (metadata.observationStart)
        metadata.nightDate = nightDateFromTimestamp(*metadata.observationStart);
    if (metadata.pixelSizeX && metadata.focalLength && *metadata.focalLength > 0.0) {
        const double binning = metadata.binningX ? *metadata.binningX : 1.0;
        const double scale =
            *metadata.pixelSizeX * kArcsecondsPerRadianOver1000 * binning / *metadata.focalLength;
        if (std::isfinite(scale)) metadata.imageScale = scale;
    }
    return metadata;
}

std::string formatDimensions(const ImageMetadata& metadata) {
    if (metadata.width == 0 || metadata.height == 0) return {};
    char text[64];
    std::snprintf(text, sizeof text, "%llu x %llu", static_cast<unsigned long long>(metadata.width),
                  static_cast<unsigned long long>(metadata.height));
    return text;
}

std::string formatBinning(const ImageMetadata& metadata) {
    if (!metadata.binningX && !metadata.binningY) return {};
    const std::uint32_t x = metadata.binningX.value_or(1);
    const std::uint32_t y = metadata.binningY.value_or(x);
    char text[32];
    std::snprintf(text, sizeof text, "%ux%u", x, y);
    return text;
}

namespace {

// Coordinates from XISF properties are not range-checked; a value no sky
// position can have (or not a number at all) is not shown rather than
// overflowing the integer fields of the text.
bool displayable(double degrees) {
    return std::isfinite(degrees) && std::fabs(degrees) <= kMaxDisplayedDegrees;
}

}  // namespace

std::string formatRightAscension(const ImageMetadata& metadata) {
    if (!metadata.rightAscension || !displayable(*metadata.rightAscension)) return {};
    double h = *metadata.rightAscension / kDegreesPerHour;
    if (h < 0.0) h += 24.0;
    const int hours = static_cast<int>(h);
    const double m = (h - hours) * 60.0;
    const int minutes = static_cast<int>(m);
    const double seconds = (m - minutes) * 60.0;
    char text[48];
    std::snprintf(text, sizeof text, "%02d %02d %05.2f", hours, minutes, seconds);
    return text;
}

std::string formatDeclination(const ImageMetadata& metadata) {
    if (!metadata.declination || !displayable(*metadata.declination)) return {};
    const char sign = *metadata.declination < 0.0 ? '-' : '+';
    const double a = std::fabs(*metadata.declination);
    const int degrees = static_cast<int>(a);
    const double m = (a - degrees) * 60.0;
    const int minutes = static_cast<int>(m);
    const double seconds = (m - minutes) * 60.0;
    char text[48];
    std::snprintf(text, sizeof text, "%c%02d %02d %04.1f", sign, degrees, minutes, seconds);
    return text;
}

}  // namespace cv
