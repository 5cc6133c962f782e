#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace cv {

enum class PropertyType : std::uint32_t { Text, UInt32, Double };

// One key the shell can ask for: its format identifier, property
// identifier, canonical name and the variant type the store writes.
struct PropertyKeyInfo {
    std::string_view formatId;  // "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
    std::uint32_t propertyId;
    std::string_view canonicalName;
    PropertyType type;
};

// Every key the server publishes, system keys first, then its own
// identifiers 2 to 32 in order. The property schema is written from this table.
std::span<const PropertyKeyInfo> allPropertyKeys();

// Null when the name is not in the table.
const PropertyKeyInfo* propertyKey(std::string_view canonicalName);
// The own key with this identifier (2 to 32), or null.
const PropertyKeyInfo* ownPropertyKey(std::uint32_t propertyId);

constexpr std::string_view kOwnFormatId = "{14CEF43D-8BD7-45A5-A95E-A119BFC8956D}";

}  // namespace cv
