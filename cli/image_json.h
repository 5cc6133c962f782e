#pragma once

#include <nlohmann/json.hpp>

#include "core/image_data.h"
#include "core/read_status.h"

namespace corvane_cli {

// The decoded header as JSON, with the record's own field names.
nlohmann::ordered_json imageBlockJson(const cv::ImageBlock& block);
nlohmann::ordered_json imageDataJson(cv::ReadStatus status, const cv::ImageData& data);

// Pretty-printed, with bytes that are not UTF-8 replaced rather than fatal
// (header texts come from files, not from us) and the characters a terminal
// would obey written as escapes.
std::string dumpJson(const nlohmann::ordered_json& json);

}  // namespace corvane_cli
