#include "preview/sidebar.h"

#include <cstdio>
#include <optional>

#include "core/display_text.h"

namespace cv {

namespace {

constexpr std::string_view kSeconds = " s";
constexpr std::string_view kDegrees = " C";
constexpr std::string_view kScale = "\"/px";

void addFormatted(std::vector<SidebarRow>& rows, const char16_t* label, const std::string& text) {
    std::u16string shown = displayText(text);
    if (!shown.empty()) rows.push_back({label, std::move(shown)});
}

void addText(std::vector<SidebarRow>& rows, const char16_t* label,
             const std::optional<std::string>& text) {
    if (text) addFormatted(rows, label, *text);
}

void addNumber(std::vector<SidebarRow>& rows, const char16_t* label,
               const std::optional<double>& value, int decimals, std::string_view unit = {}) {
    if (value) rows.push_back({label, sidebarNumber(*value, decimals, unit)});
}

}  // namespace

std::u16string sidebarNumber(double value, int decimals, std::string_view unit) {
    char text[kSidebarNumberCapacity + 1];
    const int width = static_cast<int>(unit.size());
    const char* unitText = unit.empty() ? "" : unit.data();
    int length = std::snprintf(text, sizeof text, "%.*f%.*s", decimals, value, width, unitText);
    if (length < 0 || static_cast<std::size_t>(length) > kSidebarNumberCapacity) {
        length = std::snprintf(text, sizeof text, "%.*e%.*s", decimals, value, width, unitText);
    }
    if (length < 0) return {};
    return displayText(text);
}

std::vector<SidebarRow> sidebarRows(const ImageMetadata& metadata) {
    std::vector<SidebarRow> rows;
    addText(rows, u"Object", metadata.objectName);
    addText(rows, u"Type", metadata.imageType);
    addText(rows, u"Filter", metadata.filter);
    addNumber(rows, u"Exposure", metadata.exposureTime, 1, kSeconds);
    addText(rows, u"Session", metadata.nightDate);
    addText(rows, u"Camera", metadata.camera);
    addText(rows, u"Telescope", metadata.telescope);
    addNumber(rows, u"Sensor", metadata.sensorTemperature, 1, kDegrees);
    addNumber(rows, u"Gain", metadata.gain, 0);
    addFormatted(rows, u"Binning", formatBinning(metadata));
    addNumber(rows, u"Scale", metadata.imageScale, 2, kScale);
    addNumber(rows, u"HFR", metadata.hfr, 2);
    addNumber(rows, u"FWHM", metadata.fwhm, 2);
    addFormatted(rows, u"RA", formatRightAscension(metadata));
    addFormatted(rows, u"Dec", formatDeclination(metadata));
    addFormatted(rows, u"Size", formatDimensions(metadata));
    addFormatted(rows, u"Format", metadata.sampleFormat);
    return rows;
}

}  // namespace cv
