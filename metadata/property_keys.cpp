#include "metadata/property_keys.h"

#include <array>

namespace cv {

namespace {

constexpr std::string_view kImage = "{6444048F-4C8B-11D1-8B70-080036B11A03}";
constexpr std::string_view kPhoto = "{14B81DA1-0135-4D31-96D9-6CBFC9671A99}";
constexpr std::string_view kSummary = "{F29F85E0-4FF9-1068-AB91-08002B27B3D9}";
constexpr std::string_view kKind = "{1E3EE840-BC2B-476C-8237-2ACD1A839B22}";

constexpr std::array<PropertyKeyInfo, 44> kKeys = {{
    {kImage, 3, "System.Image.HorizontalSize", PropertyType::UInt32},
    {kImage, 4, "System.Image.VerticalSize", PropertyType::UInt32},
    {kImage, 7, "System.Image.BitDepth", PropertyType::UInt32},
    {kImage, 13, "System.Image.Dimensions", PropertyType::Text},
    {kPhoto, 40961, "System.Image.ColorSpace", PropertyType::Text},
    {kPhoto, 272, "System.Photo.CameraModel", PropertyType::Text},
    {kPhoto, 33434, "System.Photo.ExposureTime", PropertyType::Double},
    {kPhoto, 33437, "System.Photo.FNumber", PropertyType::Double},
    {kPhoto, 34855, "System.Photo.ISOSpeed", PropertyType::Double},
    {kPhoto, 37386, "System.Photo.FocalLength", PropertyType::Double},
    {kSummary, 2, "System.Title", PropertyType::Text},
    {kSummary, 4, "System.Author", PropertyType::Text},
    {kKind, 3, "System.Kind", PropertyType::Text},
    {kOwnFormatId, 2, "Corvane.ObjectName", PropertyType::Text},
    {kOwnFormatId, 3, "Corvane.Filter", PropertyType::Text},
    {kOwnFormatId, 4, "Corvane.ExposureTime", PropertyType::Double},
    {kOwnFormatId, 5, "Corvane.FrameType", PropertyType::Text},
    {kOwnFormatId, 6, "Corvane.SensorTemperature", PropertyType::Double},
    {kOwnFormatId, 7, "Corvane.Binning", PropertyType::Text},
    {kOwnFormatId, 8, "Corvane.Gain", PropertyType::Double},
    {kOwnFormatId, 9, "Corvane.Offset", PropertyType::UInt32},
    {kOwnFormatId, 10, "Corvane.Telescope", PropertyType::Text},
    {kOwnFormatId, 11, "Corvane.Camera", PropertyType::Text},
    {kOwnFormatId, 12, "Corvane.PixelSize", PropertyType::Double},
    {kOwnFormatId, 13, "Corvane.ImageScale", PropertyType::Double},
    {kOwnFormatId, 14, "Corvane.RightAscensionText", PropertyType::Text},
    {kOwnFormatId, 15, "Corvane.DeclinationText", PropertyType::Text},
    {kOwnFormatId, 16, "Corvane.RightAscension", PropertyType::Double},
    {kOwnFormatId, 17, "Corvane.Declination", PropertyType::Double},
    {kOwnFormatId, 18, "Corvane.BayerPattern", PropertyType::Text},
    {kOwnFormatId, 19, "Corvane.Airmass", PropertyType::Double},
    {kOwnFormatId, 20, "Corvane.HFR", PropertyType::Double},
    {kOwnFormatId, 21, "Corvane.FWHM", PropertyType::Double},
    {kOwnFormatId, 22, "Corvane.GuidingRMS", PropertyType::Double},
    {kOwnFormatId, 23, "Corvane.NightDate", PropertyType::Text},
    {kOwnFormatId, 24, "Corvane.Compression", PropertyType::Text},
    {kOwnFormatId, 25, "Corvane.SampleFormat", PropertyType::Text},
    {kOwnFormatId, 26, "Corvane.ImageCount", PropertyType::UInt32},
    {kOwnFormatId, 27, "Corvane.Observer", PropertyType::Text},
    {kOwnFormatId, 28, "Corvane.FormatName", PropertyType::Text},
    {kOwnFormatId, 29, "Corvane.ProcessIcons", PropertyType::UInt32},
    {kOwnFormatId, 30, "Corvane.Processes", PropertyType::Text},
    {kOwnFormatId, 31, "Corvane.Frames", PropertyType::UInt32},
    {kOwnFormatId, 32, "Corvane.SelectedFrames", PropertyType::UInt32},
}};

constexpr std::size_t kFirstOwnKey = 13;  // index of own identifier 2

}  // namespace

std::span<const PropertyKeyInfo> allPropertyKeys() {
    return kKeys;
}

const PropertyKeyInfo* propertyKey(std::string_view canonicalName) {
    for (const auto& key : kKeys) {
        if (key.canonicalName == canonicalName) return &key;
    }
    return nullptr;
}

const PropertyKeyInfo* ownPropertyKey(std::uint32_t propertyId) {
    if (propertyId < 2 || propertyId > 32) return nullptr;
    return &kKeys[kFirstOwnKey + propertyId - 2];
}

}  // namespace cv
