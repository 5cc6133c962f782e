#include "formats/xisf_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "core/byte_order.h"
#include "core/text_utils.h"
#include "formats/base64.h"
#include "formats/data_block.h"
#include "formats/xml_parser.h"

namespace cv {

namespace {

constexpr std::uint64_t kMaxHeaderLength = 16 * 1024 * 1024;  // bytes
constexpr std::uint64_t kKeywordTextBudget = 256 * 1024;      // bytes of stored text per file
constexpr std::size_t kMaxRecords = 512;                      // keywords, and properties
constexpr std::size_t kDecodedCapacity = 4096;  // bytes per decoded attribute, with its zero
constexpr std::uint32_t kMaxChannels = 16;
constexpr std::uint64_t kMaxEmbeddedThumbnailSide = 1024;  // pixels: larger ones are not thumbnails
constexpr std::uint32_t kMaxImageCount = 0xFFFFFFFF;

// Splits "a:b:c" into exactly `count` fields.
bool splitExactly(std::string_view text, std::string_view* fields, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t colon = text.find(':');
        const bool last = i + 1 == count;
        if (last != (colon == std::string_view::npos)) return false;
        fields[i] = text.substr(0, colon);
        if (!last) text.remove_prefix(colon + 1);
    }
    return true;
}

bool parseGeometry(std::string_view text, ImageBlock& block) {
    std::string_view fields[3];
    if (!splitExactly(text, fields, 3)) return false;  // more than two dimensions are rejected too
    const auto width = parseUnsigned64(fields[0]);
    const auto height = parseUnsigned64(fields[1]);
    const auto channels = parseUnsigned32(fields[2]);
    if (!width || !height || !channels) return false;
    if (*width == 0 || *height == 0 || *channels == 0) return false;
    if (*width > kMaxImageSide || *height > kMaxImageSide || *channels > kMaxChannels) return false;
    block.width = *width;
    block.height = *height;
    block.channels = *channels;
    return true;
}

bool parseColorSpace(std::optional<std::string_view> text, ImageBlock& block) {
    if (!text || *text == "Gray")
        block.colorSpace = ColorSpace::Gray;
    else if (*text == "RGB")
        block.colorSpace = ColorSpace::RGB;
    else if (*text == "CIELab")
        block.colorSpace = ColorSpace::CIELab;
    else
        return false;
    return true;
}

bool parseByteOrder(std::optional<std::string_view> text, ImageBlock& block) {
    if (!text || *text == "little")
        block.bigEndian = false;
    else if (*text == "big")
        block.bigEndian = true;
    else
        return false;
    return true;
}

void resetLocation(ImageBlock& block) {
    block.location = DataLocation::None;
    block.position = 0;
    block.size = 0;
    block.inlineData.clear();
    block.codec = Codec::None;
    block.byteShuffled = false;
    block.uncompressedSize = 0;
    block.shuffleItemSize = 1;
}

// The attributes of an Image or Thumbnail element.
bool parseImageAttributes(const XmlParser& parser, ImageBlock& block) {
    const auto geometry = parser.attribute("geometry");
    const auto format = parser.attribute("sampleFormat");
    const auto location = parser.attribute("location");
    if (!geometry || !format || !location) return false;
    if (!parseGeometry(*geometry, block)) return false;
    block.sampleFormat = sampleFormatFromName(*format);
    if (block.sampleFormat == SampleFormat::None) return false;
    const Normalization normalization = defaultNormalization(block.sampleFormat);
    block.scale = normalization.scale;
    block.offset = normalization.offset;
    if (!parseColorSpace(parser.attribute("colorSpace"), block)) return false;
    if (!parseByteOrder(parser.attribute("byteOrder"), block)) return false;
    resetLocation(block);
    if (!parseLocation(*location, block)) return false;
    const auto compression = parser.attribute("compression");
    return !compression || parseCompression(*compression, block);
}

bool inMemory(const ImageBlock& block) {
    return block.location == DataLocation::Inline || block.location == DataLocation::Embedded;
}

// A stored block against the byte count its geometry and format need.
bool sizesAgree(const ImageBlock& block, std::uint64_t expected) {
    if (block.codec != Codec::None) return block.uncompressedSize == expected;
    if (block.location == DataLocation::Attachment) return block.size >= expected;
    return true;
}

// Bytes a block holds: its attachment's stored size, or its loaded payload.
std::uint64_t storedSize(const ImageBlock& block) {
    return block.location == DataLocation::Attachment ? block.size : block.inlineData.size();
}

bool attachmentWithin(const ImageBlock& block, std::uint64_t sourceSize) {
    return rangeWithin(block.position, block.size, sourceSize);
}

struct Choice {
    std::uint32_t index = 0;
    std::uint64_t bytes = 0;
    std::uint64_t stored = 0;
};

// The payload of one Image or Thumbnail element while its children are read.
struct Payload {
    Payload(ImageBlock& target, const XmlParser& parser)
        : block(target),
          level(parser.level()),
          ownTextIsBase64(hasBase64Field(parser.attribute("location"))) {}

    // Plain "inline" names no encoding, so its text is not taken as base64.
    static bool hasBase64Field(std::optional<std::string_view> location) {
        return location && location->starts_with("inline:") && location->substr(7, 6) == "base64" &&
               (location->size() == 13 || (*location)[13] == ':');
    }

    // Base64 text collected for the block into its inlineData; no text leaves
    // the block without samples.
    bool decode() {
        if (!ok) return false;
        return text.empty() || decodeBase64(text, block.inlineData, kMaxHeaderLength);
    }

    ImageBlock& block;
    int level;
    bool ownTextIsBase64;
    std::string text;
    bool ok = true;
};

// The state of the second pass over the header.
class ChosenImageReader {
public:
    ChosenImageReader(XmlParser& parser, ImageData& data) : parser_(parser), data_(data) {}
    ReadStatus read();

private:
    std::string decodedAttribute(std::string_view name);
    void readKeyword();
    void readProperty();
    void readThumbnail();
    void readColorFilterArray();
    bool readDataElement(ImageBlock& block, std::string& text);
    bool takePayloadEvent(XmlEvent event, Payload& payload);

    XmlParser& parser_;
    ImageData& data_;
    std::uint64_t budget_ = kKeywordTextBudget;
    std::array<char, kDecodedCapacity> buffer_{};
};

std::string ChosenImageReader::decodedAttribute(std::string_view name) {
    std::size_t length = 0;
    parser_.attributeDecoded(name, buffer_.data(), buffer_.size(), &length);
    return std::string(buffer_.data(), length);
}

void ChosenImageReader::readKeyword() {
    if (data_.keywords.size() >= kMaxRecords || budget_ == 0) return;
    KeywordRecord record;
    record.name = takeWithinBudget(decodedAttribute("name"), budget_);
    record.value = takeWithinBudget(decodedAttribute("value"), budget_);
    record.comment = takeWithinBudget(decodedAttribute("comment"), budget_);
    if (!record.name.empty()) data_.keywords.push_back(std::move(record));
}

void ChosenImageReader::readProperty() {
    if (data_.properties.size() >= kMaxRecords || budget_ == 0) return;
    PropertyRecord record;
    record.id = takeWithinBudget(decodedAttribute("id"), budget_);
    record.type = takeWithinBudget(decodedAttribute("type"), budget_);
    record.value = takeWithinBudget(decodedAttribute("value"), budget_);
    if (record.id.empty()) return;
    if (record.value.empty()) {
        // The value is the element's text; the last text run wins.
        forEachEventInside(parser_, [&](XmlEvent event) {
            if (event != XmlEvent::Text) return;
            const std::size_t length =
                decodeEntities(trim(parser_.text()), buffer_.data(), buffer_.size());
            record.value = takeWithinBudget(std::string_view(buffer_.data(), length), budget_);
        });
    }
    data_.properties.push_back(std::move(record));
}

// At a Data start tag of an embedded block: applies its `compression` when
// the element itself has none, and collects its base64 text up to its end.
bool ChosenImageReader::readDataElement(ImageBlock& block, std::string& text) {
    bool ok = true;
    if (const auto compression = parser_.attribute("compression");
        compression && block.codec == Codec::None && !parseCompression(*compression, block)) {
        ok = false;
    }
    if (const auto encoding = parser_.attribute("encoding"); encoding && *encoding != "base64")
        ok = false;
    const int level = parser_.level();
    forEachEventInside(parser_, [&](XmlEvent event) {
        if (event == XmlEvent::Text && parser_.depth() == level + 1) text.append(parser_.text());
    });
    return ok;
}

// Whether the event carries the payload of a block stored in the header: the
// element's own text (inline:base64) or its Data child (embedded).
bool ChosenImageReader::takePayloadEvent(XmlEvent event, Payload& payload) {
    ImageBlock& block = payload.block;
    if (event == XmlEvent::Text && payload.ownTextIsBase64 &&
        parser_.depth() == payload.level + 1) {
        payload.text.append(parser_.text());
        return true;
    }
    if (event == XmlEvent::StartElement && block.location == DataLocation::Embedded &&
        parser_.level() == payload.level + 1 && parser_.name() == "Data") {
        payload.ok = readDataElement(block, payload.text) && payload.ok;
        return true;
    }
    return false;
}

void ChosenImageReader::readThumbnail() {
    ImageBlock candidate;
    const bool parsed = parseImageAttributes(parser_, candidate);
    Payload payload(candidate, parser_);
    forEachEventInside(parser_, [&](XmlEvent event) {
        if (parsed) takePayloadEvent(event, payload);
    });
    if (!parsed || !payload.decode()) return;
    if (candidate.width > kMaxEmbeddedThumbnailSide || candidate.height > kMaxEmbeddedThumbnailSide)
        return;
    if (candidate.sampleFormat != SampleFormat::UInt8 &&
        candidate.sampleFormat != SampleFormat::UInt16)
        return;
    data_.thumbnail = std::move(candidate);
    data_.hasThumbnail = true;
}

void ChosenImageReader::readColorFilterArray() {
    std::size_t length = 0;
    if (parser_.attributeDecoded("pattern", buffer_.data(), buffer_.size(), &length)) {
        data_.cfaPattern.assign(buffer_.data(), length);
    }
    if (const auto width = parser_.attribute("width")) {
        if (const auto value = parseUnsigned32(*width)) data_.cfaWidth = *value;
    }
    if (const auto height = parser_.attribute("height")) {
        if (const auto value = parseUnsigned32(*height)) data_.cfaHeight = *value;
    }
}

ReadStatus ChosenImageReader::read() {
    if (!parseImageAttributes(parser_, data_.image)) return ReadStatus::Malformed;
    const int imageLevel = parser_.level();
    Payload payload(data_.image, parser_);
    forEachEventInside(parser_, [&](XmlEvent event) {
        if (takePayloadEvent(event, payload)) return;
        if (event != XmlEvent::StartElement || parser_.level() != imageLevel + 1) return;
        const std::string_view child = parser_.name();
        if (child == "FITSKeyword")
            readKeyword();
        else if (child == "Property")
            readProperty();
        else if (child == "Thumbnail")
            readThumbnail();
        else if (child == "ColorFilterArray")
            readColorFilterArray();
    });
    // A main image whose payload does not decode cannot be shown at all.
    return payload.decode() ? ReadStatus::Ok : ReadStatus::Malformed;
}

// First pass: which Image element to read.
std::optional<Choice> chooseImage(XmlParser& parser, std::int32_t imageIndex, ImageData& data) {
    std::optional<Choice> choice;
    std::uint32_t index = 0;
    forEachEvent(parser, [&](XmlEvent event) {
        if (event != XmlEvent::StartElement || parser.name() != "Image") return true;
        const std::uint32_t current = index;
        if (index < kMaxImageCount) ++index;
        if (data.imageCount < kMaxImageCount) ++data.imageCount;
        ImageBlock scratch;
        if (!parseImageAttributes(parser, scratch)) return true;
        const auto bytes = blockByteSize(scratch);
        if (!bytes) return true;
        const Choice candidate{current, *bytes, storedSize(scratch)};
        if (imageIndex < 0) {
            if (!choice || candidate.bytes > choice->bytes ||
                (candidate.bytes == choice->bytes && candidate.stored > choice->stored)) {
                choice = candidate;
            }
        } else if (current == static_cast<std::uint32_t>(imageIndex)) {
            choice = candidate;
        }
        return true;
    });
    return choice;
}

ReadStatus readChosenImage(XmlParser& parser, std::uint32_t chosen, ImageData& data) {
    std::uint32_t index = 0;
    // Malformed unless found: the first pass found it, so only a changed document misses it.
    ReadStatus status = ReadStatus::Malformed;
    forEachEvent(parser, [&](XmlEvent event) {
        if (event != XmlEvent::StartElement || parser.name() != "Image" || index++ != chosen)
            return true;
        status = ChosenImageReader(parser, data).read();
        return false;
    });
    return status;
}

ReadStatus checkImage(const ImageBlock& image, std::uint64_t sourceSize) {
    if (!isUsable(image)) return ReadStatus::Malformed;
    const auto expected = blockByteSize(image);
    if (!expected) return ReadStatus::TooLarge;
    if (image.location == DataLocation::Attachment) {
        if (!attachmentWithin(image, sourceSize)) return ReadStatus::Truncated;
        if (image.size == 0 || !sizesAgree(image, *expected)) return ReadStatus::Malformed;
    } else if (inMemory(image) && !sizesAgree(image, *expected)) {
        return ReadStatus::Malformed;
    }
    return ReadStatus::Ok;
}

// A thumbnail is a shortcut: one whose stored bytes (attached or loaded from
// the header) cannot hold its samples is dropped, and the main image is drawn.
bool thumbnailUsable(const ImageBlock& thumbnail, std::uint64_t sourceSize) {
    const auto expected = blockByteSize(thumbnail);
    if (!expected) return false;
    if (thumbnail.location == DataLocation::Attachment && !attachmentWithin(thumbnail, sourceSize))
        return false;
    const std::uint64_t stored = storedSize(thumbnail);
    if (stored == 0) return false;
    return thumbnail.codec != Codec::None ? thumbnail.uncompressedSize == *expected
                                          : stored >= *expected;
}

ReadStatus readHeaderBuffer(Reader& reader, ImageData& data, std::int32_t imageIndex,
                            std::uint64_t length) {
    std::vector<char> header(static_cast<std::size_t>(length), '\0');
    if (!reader.read(kXisfPrefixSize, header.data(), length)) return ReadStatus::ReadFailed;
    data.headerLength = length;
    const char* begin = header.data();
    const char* end = begin + header.size();

    XmlParser parser;
    parser.init(begin, end);
    const auto choice = chooseImage(parser, imageIndex, data);
    if (!choice)
        return parser.next() == XmlEvent::Error ? ReadStatus::Malformed : ReadStatus::Unsupported;

    parser.init(begin, end);
    const ReadStatus status = readChosenImage(parser, choice->index, data);
    if (status != ReadStatus::Ok) return status;

    const std::uint64_t sourceSize = reader.size();
    const ReadStatus imageStatus = checkImage(data.image, sourceSize);
    if (imageStatus != ReadStatus::Ok) return imageStatus;
    if (data.hasThumbnail && !thumbnailUsable(data.thumbnail, sourceSize)) {
        data.hasThumbnail = false;
        data.thumbnail = ImageBlock{};
    }
    return ReadStatus::Ok;
}

}  // namespace

bool isXisf(Reader& reader) {
    if (reader.size() < kXisfPrefixSize) return false;
    char signature[8];
    return reader.read(0, signature, sizeof signature) &&
           std::memcmp(signature, "XISF0100", 8) == 0;
}

ReadStatus readXisf(Reader& reader, ImageData& data, std::int32_t imageIndex) {
    data.reset();
    data.kind = FileKind::Xisf;
    if (reader.size() < kXisfPrefixSize) return ReadStatus::NotRecognized;
    std::uint8_t prefix[kXisfPrefixSize];
    if (!reader.read(0, prefix, sizeof prefix)) return ReadStatus::ReadFailed;
    if (std::memcmp(prefix, "XISF0100", 8) != 0) return ReadStatus::NotRecognized;
    const std::uint64_t length = littleEndian32(prefix + 8);
    if (length == 0) return ReadStatus::Malformed;
    if (length > kMaxHeaderLength) return ReadStatus::TooLarge;
    if (kXisfPrefixSize + length > reader.size()) return ReadStatus::Truncated;
    try {
        return readHeaderBuffer(reader, data, imageIndex, length);
    } catch (const std::bad_alloc&) {
        return ReadStatus::TooLarge;
    }
}

}  // namespace cv
