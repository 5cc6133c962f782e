#include "cli/metadata_json.h"

namespace corvane_cli {

namespace {

template <typename T>
void putIfPresent(nlohmann::ordered_json& json, const char* name, const std::optional<T>& value) {
    if (value) json[name] = *value;
}

void putIfNotEmpty(nlohmann::ordered_json& json, const char* name, const std::string& value) {
    if (!value.empty()) json[name] = value;
}

const char* typeName(cv::PropertyType type) {
    switch (type) {
        case cv::PropertyType::Text:
            return "text";
        case cv::PropertyType::UInt32:
            return "uint32";
        case cv::PropertyType::Double:
            return "double";
    }
    return "unknown";
}

}  // namespace

nlohmann::ordered_json metadataJson(const cv::ImageMetadata& m) {
    nlohmann::ordered_json json = nlohmann::ordered_json::object();
    putIfPresent(json, "objectName", m.objectName);
    putIfPresent(json, "imageType", m.imageType);
    putIfPresent(json, "filter", m.filter);
    putIfPresent(json, "telescope", m.telescope);
    putIfPresent(json, "camera", m.camera);
    putIfPresent(json, "observer", m.observer);
    putIfPresent(json, "authors", m.authors);
    putIfPresent(json, "observationStart", m.observationStart);
    putIfPresent(json, "nightDate", m.nightDate);
    putIfPresent(json, "bayerPattern", m.bayerPattern);
    putIfPresent(json, "exposureTime", m.exposureTime);
    putIfPresent(json, "sensorTemperature", m.sensorTemperature);
    putIfPresent(json, "setTemperature", m.setTemperature);
    putIfPresent(json, "gain", m.gain);
    putIfPresent(json, "isoSpeed", m.isoSpeed);
    putIfPresent(json, "pixelSizeX", m.pixelSizeX);
    putIfPresent(json, "pixelSizeY", m.pixelSizeY);
    putIfPresent(json, "focalLength", m.focalLength);
    putIfPresent(json, "aperture", m.aperture);
    putIfPresent(json, "imageScale", m.imageScale);
    putIfPresent(json, "binningX", m.binningX);
    putIfPresent(json, "binningY", m.binningY);
    putIfPresent(json, "offset", m.offset);
    putIfPresent(json, "rightAscension", m.rightAscension);
    putIfPresent(json, "declination", m.declination);
    putIfPresent(json, "airmass", m.airmass);
    putIfPresent(json, "hfr", m.hfr);
    putIfPresent(json, "fwhm", m.fwhm);
    putIfPresent(json, "rmsError", m.rmsError);
    json["width"] = m.width;
    json["height"] = m.height;
    json["channels"] = m.channels;
    json["bitsPerSample"] = m.bitsPerSample;
    json["sampleFormat"] = m.sampleFormat;
    json["colorSpace"] = m.colorSpace;
    json["compression"] = m.compression;
    json["formatName"] = m.formatName;
    json["imageCount"] = m.imageCount;
    putIfNotEmpty(json, "dimensionsText", cv::formatDimensions(m));
    putIfNotEmpty(json, "binningText", cv::formatBinning(m));
    putIfNotEmpty(json, "rightAscensionText", cv::formatRightAscension(m));
    putIfNotEmpty(json, "declinationText", cv::formatDeclination(m));
    return json;
}

nlohmann::ordered_json propertyListJson(const cv::PropertyList& list) {
    nlohmann::ordered_json json = nlohmann::ordered_json::array();
    for (const auto& entry : list) {
        nlohmann::ordered_json item;
        item["name"] = entry.key->canonicalName;
        item["key"] =
            std::string(entry.key->formatId) + " " + std::to_string(entry.key->propertyId);
        item["type"] = typeName(entry.key->type);
        switch (entry.key->type) {
            case cv::PropertyType::Text:
                item["value"] = entry.text;
                break;
            case cv::PropertyType::UInt32:
                item["value"] = entry.number;
                break;
            case cv::PropertyType::Double:
                item["value"] = entry.real;
                break;
        }
        json.push_back(std::move(item));
    }
    return json;
}

}  // namespace corvane_cli
