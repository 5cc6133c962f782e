#include "cli/image_json.h"

#include <cstdio>
#include <string_view>

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

// The length of the UTF-8 sequence at `at` if it is DEL, a C1 control or a
// bidirectional embedding, override or isolate, which a terminal would obey
// or which would reorder the lines shown after it; 0 otherwise.
size_t terminalControlLength(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const size_t left = text.size() - at;
    if (byte(0) == 0x7F) return 1;
    if (left >= 2 && byte(0) == 0xC2 && byte(1) >= 0x80 && byte(1) <= 0x9F) return 2;
    if (left >= 3 && byte(0) == 0xE2) {
        if (byte(1) == 0x80 && byte(2) >= 0xAA && byte(2) <= 0xAE) return 3;
        if (byte(1) == 0x81 && byte(2) >= 0xA6 && byte(2) <= 0xA9) return 3;
    }
    return 0;
}

char32_t decodedUtf8(std::string_view sequence) {
    if (sequence.size() == 1) return static_cast<unsigned char>(sequence[0]);
    char32_t point = static_cast<unsigned char>(sequence[0]) & (sequence.size() == 2 ? 0x1F : 0x0F);
    for (size_t i = 1; i < sequence.size(); ++i) {
        point = (point << 6) | (static_cast<unsigned char>(sequence[i]) & 0x3F);
    }
    return point;
}

// Such characters can only stand inside JSON strings, so writing them as
// \u escapes keeps the document and its values the same.
std::string withTerminalControlsEscaped(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t length = terminalControlLength(text, at);
        if (length == 0) {
            escaped += text[at++];
            continue;
        }
        char code[8];
        std::snprintf(code, sizeof code, "\\u%04x",
                      static_cast<unsigned>(decodedUtf8(text.substr(at, length))));
        escaped += code;
        at += length;
    }
    return escaped;
}

}  // namespace

std::string dumpJson(const nlohmann::ordered_json& json) {
    return withTerminalControlsEscaped(
        json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
}

}  // namespace corvane_cli
