#include "cli/image_json.h"

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

std::string dumpJson(const nlohmann::ordered_json& json) {
    return json.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace corvane_cli
