#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/reader.h"
#include "formats/xpsm_reader.h"
#include "formats/siril_sequence.h"
#include "metadata/metadata.h"
#include "metadata/property_keys.h"

namespace cv {

// One value the property store publishes, in the type its key declares.
struct PropertyEntry {
    const PropertyKeyInfo* key = nullptr;
    std::string text;  // UTF-8; converted to UTF-16 at the shell
    std::uint32_t number = 0;
    double real = 0.0;
};

using PropertyList = std::vector<PropertyEntry>;

// What Explorer's columns and tooltips show for an image, in the store's order.
PropertyList imagePropertyList(const ImageMetadata& metadata);
PropertyList sequencePropertyList(const SequenceInfo& info);
PropertyList xpsmPropertyList(const XpsmDocument& document);

// The property store's loading: the file as an image, else as a Siril
// sequence, else as a process-icon file. Ok fills `list`; on any other
// status `list` is empty. May throw on exhausted memory (callers guard).
[[nodiscard]] ReadStatus readPropertyList(Reader& reader, PropertyList& list);

}  // namespace cv
