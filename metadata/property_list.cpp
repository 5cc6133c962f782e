#include "metadata/property_list.h"

#include <cmath>
#include <utility>

#include "core/display_text.h"
#include "formats/file_class.h"
#include "formats/image_header.h"

namespace cv {

namespace {

// Appends entries by canonical name; empty texts and absent values add nothing.
class ListBuilder {
public:
    void text(std::string_view name, const std::string& value) {
        if (value.empty()) return;
        // Explorer shows these beside other files' names: nothing in them may spoof or cut that.
        std::string shown = displayTextUtf8(value);
        if (!shown.empty()) list_.push_back({propertyKey(name), std::move(shown), 0, 0.0});
    }
    void text(std::string_view name, const std::optional<std::string>& value) {
        if (value) text(name, *value);
    }
    void number(std::string_view name, std::uint32_t value) {
        list_.push_back({propertyKey(name), {}, value, 0.0});
    }
    void number(std::string_view name, const std::optional<std::uint32_t>& value) {
        if (value) number(name, *value);
    }
    // Derived values (a ratio, a product) can overflow even from finite inputs.
    void real(std::string_view name, const std::optional<double>& value) {
        if (value && std::isfinite(*value)) list_.push_back({propertyKey(name), {}, 0, *value});
    }
    PropertyList take() { return std::move(list_); }

private:
    PropertyList list_;
};

constexpr std::size_t kProcessSummaryLength = 256;  // bytes

}  // namespace

PropertyList imagePropertyList(const ImageMetadata& m) {
    ListBuilder list;
    if (m.width != 0 && m.height != 0) {
        list.number("System.Image.HorizontalSize", static_cast<std::uint32_t>(m.width));
        list.number("System.Image.VerticalSize", static_cast<std::uint32_t>(m.height));
        list.text("System.Image.Dimensions", formatDimensions(m));
    }
    if (m.bitsPerSample != 0) list.number("System.Image.BitDepth", m.bitsPerSample);
    list.text("System.Image.ColorSpace", m.colorSpace);
    list.text("System.Kind", std::string("picture"));
    list.text("System.Title", m.objectName);
    list.text("System.Author", m.authors);
    list.text("System.Photo.CameraModel", m.camera);
    list.real("System.Photo.ExposureTime", m.exposureTime);
    list.real("System.Photo.ISOSpeed", m.isoSpeed);
    list.real("System.Photo.FocalLength", m.focalLength);
    if (m.focalLength && m.aperture && *m.aperture > 0.0) {
        list.real("System.Photo.FNumber", *m.focalLength / *m.aperture);
    }
    list.text("Corvane.ObjectName", m.objectName);
    list.text("Corvane.Filter", m.filter);
    list.text("Corvane.FrameType", m.imageType);
    list.text("Corvane.Telescope", m.telescope);
    list.text("Corvane.Camera", m.camera);
    list.text("Corvane.Observer", m.observer);
    list.text("Corvane.NightDate", m.nightDate);
    list.text("Corvane.BayerPattern", m.bayerPattern);
    list.real("Corvane.ExposureTime", m.exposureTime);
    list.real("Corvane.SensorTemperature", m.sensorTemperature);
    list.real("Corvane.Gain", m.gain);
    list.real("Corvane.PixelSize", m.pixelSizeX);
    list.real("Corvane.ImageScale", m.imageScale);
    list.real("Corvane.Airmass", m.airmass);
    list.real("Corvane.HFR", m.hfr);
    list.real("Corvane.FWHM", m.fwhm);
    list.real("Corvane.GuidingRMS", m.rmsError);
    list.real("Corvane.RightAscension", m.rightAscension);
    list.real("Corvane.Declination", m.declination);
    list.number("Corvane.Offset", m.offset);
    list.text("Corvane.RightAscensionText", formatRightAscension(m));
    list.text("Corvane.DeclinationText", formatDeclination(m));
    list.text("Corvane.Binning", formatBinning(m));
    list.text("Corvane.Compression", m.compression);
    list.text("Corvane.SampleFormat", m.sampleFormat);
    list.text("Corvane.FormatName", m.formatName);
    if (m.imageCount > 1) list.number("Corvane.ImageCount", m.imageCount);
    return list.take();
}

PropertyList sequencePropertyList(const SequenceInfo& info) {
    ListBuilder list;
    list.text("Corvane.FormatName", std::string("SEQ"));
    list.number("Corvane.Frames", frameCount(info));
    list.number("Corvane.SelectedFrames", static_cast<std::uint32_t>(info.selectedFrames));
    if (isRegistered(info)) list.real("Corvane.FWHM", medianFwhm(info));
    return list.take();
}

PropertyList xpsmPropertyList(const XpsmDocument& document) {
    ListBuilder list;
    list.text("Corvane.FormatName", std::string("XPSM"));
    if (!document.icons.empty())
        list.number("Corvane.ProcessIcons", static_cast<std::uint32_t>(document.icons.size()));
    list.text("Corvane.Processes", xpsmClassSummary(document, kProcessSummaryLength));
    return list.take();
}

ReadStatus readPropertyList(Reader& reader, PropertyList& list) {
    list.clear();
    ImageData image;
    ReadStatus status = readImageHeader(reader, image);
    if (status == ReadStatus::Ok) list = imagePropertyList(extractMetadata(image));
    if (status != ReadStatus::NotRecognized) return status;
    const FileClass kind = classifyFile(reader);
    if (kind == FileClass::SirilSequence) {
        SequenceInfo sequence;
        status = parseSequence(reader, sequence);
        if (status == ReadStatus::Ok) list = sequencePropertyList(sequence);
    } else if (kind == FileClass::ProcessIcons) {
        XpsmDocument document;
        status = readXpsm(reader, document);
        if (status == ReadStatus::Ok) list = xpsmPropertyList(document);
    }
    return status;
}

}  // namespace cv
