#include "cli/image_json.h"

#include <cstdio>
#include <string_view>

#include "core/display_text.h"
#include "core/utf16.h"

namespace corvane_cli {

nlohmann::ordered_json imageBlockJson(const cv::ImageBlock& block) {
    return {
        {"width", block.width},
        {"height", block.height},
        {"channels", block.channels},
        {"sampleFormat", cv::sampleFormatName(block.sampleFormat)},
        {"colorSpace", cv::colorSpaceName(block.colorSpace)},
        {"bigEndian", block.bigEndian},
        {"location", cv::dataLocationName(block.location)},
        {"position", block.position},
        {"size", block.size},
        {"codec", cv::codecName(block.codec)},
        {"byteShuffled", block.byteShuffled},
        {"uncompressedSize", block.uncompressedSize},
        {"shuffleItemSize", block.shuffleItemSize},
        {"scale", block.scale},
        {"offset", block.offset},
    };
}

nlohmann::ordered_json imageDataJson(cv::ReadStatus status, const cv::ImageData& data) {
    nlohmann::ordered_json json;
    json["status"] = cv::readStatusName(status);
    json["kind"] = cv::fileKindName(data.kind);
    json["image"] = imageBlockJson(data.image);
    json["hasThumbnail"] = data.hasThumbnail;
    if (data.hasThumbnail) json["thumbnail"] = imageBlockJson(data.thumbnail);
    json["cfaPattern"] = data.cfaPattern;
    json["cfaWidth"] = data.cfaWidth;
    json["cfaHeight"] = data.cfaHeight;
    json["imageCount"] = data.imageCount;
    json["headerLength"] = data.headerLength;
    auto& keywords = json["keywords"] = nlohmann::ordered_json::array();
    for (const auto& keyword : data.keywords) {
        keywords.push_back(
            {{"name", keyword.name}, {"value", keyword.value}, {"comment", keyword.comment}});
    }
    auto& properties = json["properties"] = nlohmann::ordered_json::array();
    for (const auto& property : data.properties) {
        properties.push_back(
            {{"id", property.id}, {"type", property.type}, {"value", property.value}});
    }
    return json;
}

namespace {

// DEL, the C1 controls (C0 ones the dump escapes itself, and writes line
// breaks of its own) and the bidirectional controls, which a terminal would
// obey or which would reorder the lines after them, as \u escapes: they can
// only stand inside strings, so the document and its values stay the same.
std::string withTerminalControlsEscaped(std::string_view utf8) {
    std::u16string escaped;
    for (const char16_t c : cv::utf16FromUtf8(utf8)) {
        if ((c < 0x7F || !cv::isControl(c)) && !cv::isBidiControl(c)) {
            escaped += c;
            continue;
        }
        char code[8];
        std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(c));
        escaped.append(code, code + 6);
    }
    return cv::utf8FromUtf16(escaped);
}

}  // namespace

std::string dumpJson(const nlohmann::ordered_json& json) {
    return withTerminalControlsEscaped(
        json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}

}  // namespace corvane_cli
