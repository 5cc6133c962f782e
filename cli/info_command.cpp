#include "cli/info_command.h"

#include <cstdio>
#include <new>

#include "core/display_text.h"
#include "core/file_reader.h"
#include "cli/image_json.h"
#include "cli/metadata_json.h"
#include "formats/compressed_image.h"
#include "formats/file_class.h"
#include "formats/image_header.h"
#include "formats/siril_sequence.h"
#include "formats/xpsm_reader.h"
#include "metadata/property_list.h"

namespace corvane_cli {

namespace {

// 2345 as "2,345".
std::string withThousands(std::uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

// Where the samples lie: an attachment's place in the file, or a block the
// header holds itself ("embedded, zstd+sh, 2,345 bytes").
std::string placementText(const cv::ImageBlock& image) {
    if (image.location != cv::DataLocation::Embedded &&
        image.location != cv::DataLocation::Inline) {
        char text[96];
        std::snprintf(text, sizeof text, "data at %llu (%llu bytes)",
                      static_cast<unsigned long long>(image.position),
                      static_cast<unsigned long long>(image.size));
        if (image.tiles) return std::string(text) + ", " + cv::describeTiles(*image.tiles);
        return text;
    }
    std::string text = cv::dataLocationName(image.location);
    if (image.codec != cv::Codec::None) {
        text += ", ";
        text += cv::codecName(image.codec);
        if (image.byteShuffled) text += "+sh";
    }
    text += ", ";
    text += withThousands(image.inlineData.size());
    text += " bytes";
    return text;
}

std::string summaryLine(const cv::ImageData& data) {
    const cv::ImageBlock& image = data.image;
    char line[512];
    std::snprintf(
        line, sizeof line,
        "%s, %llu x %llu x %u %s %s, %s, scale %.9g offset %.9g, %u image(s), %zu keyword(s)",
        cv::fileKindName(data.kind), static_cast<unsigned long long>(image.width),
        static_cast<unsigned long long>(image.height), image.channels,
        cv::sampleFormatName(image.sampleFormat), cv::colorSpaceName(image.colorSpace),
        placementText(image).c_str(), static_cast<double>(image.scale),
        static_cast<double>(image.offset), data.imageCount, data.keywords.size());
    std::string summary = line;
    // The pattern is the file's own text, printed to a terminal: no escape sequences.
    if (!data.cfaPattern.empty()) summary += ", Bayer " + cv::displayTextUtf8(data.cfaPattern);
    return summary;
}

int report(const InfoOptions& options, cv::ReadStatus status, const cv::ImageData& data) {
    const int exitCode = status == cv::ReadStatus::Ok ? 0 : 1;
    if (options.json) {
        nlohmann::ordered_json json = imageDataJson(status, data);
        if (exitCode == 0) {
            const cv::ImageMetadata metadata = cv::extractMetadata(data);
            json["metadata"] = metadataJson(metadata);
            json["shellProperties"] = propertyListJson(cv::imagePropertyList(metadata));
        }
        std::printf("%s\n", dumpJson(json).c_str());
    } else if (exitCode == 0) {
        std::printf("%s: %s\n", options.path.c_str(), summaryLine(data).c_str());
    } else {
        std::fprintf(stderr, "%s: cannot read (%s)\n", options.path.c_str(),
                     cv::readStatusName(status));
    }
    return exitCode;
}

int reportFailure(const InfoOptions& options, cv::ReadStatus status, const char* reason) {
    if (options.json) {
        nlohmann::ordered_json json = imageDataJson(status, cv::ImageData{});
        json["error"] = reason;
        std::printf("%s\n", dumpJson(json).c_str());
    } else {
        std::fprintf(stderr, "%s: %s (%s)\n", options.path.c_str(), reason,
                     cv::readStatusName(status));
    }
    return 1;
}

}  // namespace

// A file that is not an image: a Siril sequence or a process-icon file, as
// the property store tries them.
int reportTextKind(const InfoOptions& options, const char* kind, cv::ReadStatus status,
                   const cv::PropertyList& properties, const std::string& summary) {
    const int exitCode = status == cv::ReadStatus::Ok ? 0 : 1;
    if (options.json) {
        nlohmann::ordered_json json = imageDataJson(status, cv::ImageData{});
        json["kind"] = kind;
        if (exitCode == 0) json["shellProperties"] = propertyListJson(properties);
        std::printf("%s\n", dumpJson(json).c_str());
    } else if (exitCode == 0) {
        std::printf("%s: %s, %s\n", options.path.c_str(), kind, summary.c_str());
    } else {
        std::fprintf(stderr, "%s: cannot read (%s)\n", options.path.c_str(),
                     cv::readStatusName(status));
    }
    return exitCode;
}

int reportOtherKinds(const InfoOptions& options, cv::Reader& reader,
                     const cv::ImageData& notAnImage) {
    const cv::FileClass kind = cv::classifyFile(reader);
    if (kind == cv::FileClass::SirilSequence) {
        cv::SequenceInfo info;
        const cv::ReadStatus status = cv::parseSequence(reader, info);
        const std::string summary = std::to_string(cv::frameCount(info)) + " frames, " +
                                    std::to_string(info.selectedFrames) + " selected";
        return reportTextKind(options, "Siril sequence", status, cv::sequencePropertyList(info),
                              summary);
    }
    if (kind == cv::FileClass::ProcessIcons) {
        cv::XpsmDocument document;
        const cv::ReadStatus status = cv::readXpsm(reader, document);
        const std::string summary = std::to_string(document.icons.size()) + " icons, " +
                                    std::to_string(document.instances.size()) + " instances";
        return reportTextKind(options, "process icons", status, cv::xpsmPropertyList(document),
                              summary);
    }
    return report(options, cv::ReadStatus::NotRecognized, notAnImage);
}

int runInfo(const InfoOptions& options) {
    auto reader = cv::FileReader::open(options.path);
    if (!reader) return reportFailure(options, cv::ReadStatus::ReadFailed, "cannot open the file");
    try {
        cv::ImageData data;
        const cv::ReadStatus status = cv::readImageHeader(*reader, data);
        if (status == cv::ReadStatus::NotRecognized)
            return reportOtherKinds(options, *reader, data);
        return report(options, status, data);
    } catch (const std::bad_alloc&) {
        return reportFailure(options, cv::ReadStatus::TooLarge, "out of memory");
    }
}

}  // namespace corvane_cli
