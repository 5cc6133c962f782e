#pragma once

#include <nlohmann/json.hpp>

#include "metadata/metadata.h"
#include "metadata/property_list.h"

namespace corvane_cli {

// The metadata fields that are present, with the four display texts.
nlohmann::ordered_json metadataJson(const cv::ImageMetadata& metadata);
// The ordered property list: canonical name, key, type and value.
nlohmann::ordered_json propertyListJson(const cv::PropertyList& list);

}  // namespace corvane_cli
