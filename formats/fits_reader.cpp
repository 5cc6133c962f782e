#include "formats/fits_reader.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/text_utils.h"
#include "formats/fits_card.h"

namespace cv {

namespace {

constexpr std::uint64_t kBlockSize = 2880;  // bytes per FITS block
constexpr std::size_t kCardsPerBlock = kBlockSize / kFitsCardSize;
constexpr std::uint32_t kMaxHdus = 64;           // per file
constexpr std::uint32_t kMaxHeaderBlocks = 512;  // per HDU
// Per file: 64 long headers would otherwise have a header-only read (all the
// property store does) walk 94 MB; past this the walk keeps what it found.
constexpr std::uint32_t kMaxHeaderBlocksPerFile = 2048;
static_assert(kMaxHeaderBlocksPerFile >= kMaxHeaderBlocks,
              "the first header always gets its full share");
constexpr std::size_t kMaxStoredKeywords = 512;           // per HDU, and per inherited list
constexpr std::uint64_t kKeywordTextBudget = 256 * 1024;  // bytes of stored text per file
constexpr std::uint64_t kMaxNaxis = 999;
constexpr std::uint64_t kMaxPlanes = 16;  // NAXIS3
constexpr std::string_view kPixInsightProgram = "PixInsight";

struct HduInfo {
    std::int32_t bitpix = 0;
    std::uint32_t naxis = 0;
    std::uint64_t naxis1 = 0;
    std::uint64_t naxis2 = 0;
    std::uint64_t naxis3 = 0;
    double bzero = 0.0;
    double bscale = 1.0;
    std::uint64_t dataOffset = 0;
    std::uint64_t dataSize = 0;
    std::uint64_t headerOffset = 0;
};

struct HduHeader {
    HduInfo info;
    bool simpleSeen = false;
    bool xtensionSeen = false;
    bool xtensionIsImage = false;
    bool inherit = false;
    std::vector<KeywordRecord> keywords;
};

SampleFormat sampleFormatForBitpix(std::int32_t bitpix) {
    switch (bitpix) {
        case 8:
            return SampleFormat::UInt8;
        case 16:
            return SampleFormat::Int16;
        case 32:
            return SampleFormat::Int32;
        case 64:
            return SampleFormat::Int64;
        case -32:
            return SampleFormat::Float32;
        case -64:
            return SampleFormat::Float64;
        default:
            return SampleFormat::None;
    }
}

void storeCard(const FitsCard& card, std::vector<KeywordRecord>& keywords, std::uint64_t& budget) {
    if (keywords.size() >= kMaxStoredKeywords || budget == 0) return;
    KeywordRecord record;
    record.name = takeWithinBudget(card.name, budget);
    record.value = takeWithinBudget(card.value, budget);
    record.comment = takeWithinBudget(card.comment, budget);
    keywords.push_back(std::move(record));
}

void interpretCard(const FitsCard& card, HduHeader& header) {
    HduInfo& info = header.info;
    const std::string_view name = card.name;
    if (name == "SIMPLE") {
        header.simpleSeen = true;
    } else if (name == "XTENSION") {
        header.xtensionSeen = true;
        header.xtensionIsImage = card.value.size() >= 7 && card.value.substr(0, 6) == "'IMAGE";
    } else if (name == "BITPIX") {
        // A value beyond 32 bits is no BITPIX at all, not one to wrap around.
        const auto value = parseSigned64(card.value);
        if (value && *value >= std::numeric_limits<std::int32_t>::min() &&
            *value <= std::numeric_limits<std::int32_t>::max()) {
            info.bitpix = static_cast<std::int32_t>(*value);
        }
    } else if (name == "NAXIS") {
        const auto value = parseUnsigned64(card.value);
        if (value && *value <= kMaxNaxis) info.naxis = static_cast<std::uint32_t>(*value);
    } else if (name == "NAXIS1") {
        if (const auto value = parseUnsigned64(card.value)) info.naxis1 = *value;
    } else if (name == "NAXIS2") {
        if (const auto value = parseUnsigned64(card.value)) info.naxis2 = *value;
    } else if (name == "NAXIS3") {
        if (const auto value = parseUnsigned64(card.value)) info.naxis3 = *value;
    } else if (name == "BZERO") {
        if (const auto value = parseFiniteDouble(card.value)) info.bzero = *value;
    } else if (name == "BSCALE") {
        if (const auto value = parseFiniteDouble(card.value)) info.bscale = *value;
    } else if (name == "INHERIT") {
        header.inherit = card.value == "T";
    }
}

// Reads header blocks from `header.info.headerOffset` up to and including the
// one holding END, at most `maxBlocks` of them (counted off `blocksLeft`);
// sets dataOffset to the first byte after that block.
ReadStatus readHeader(Reader& reader, HduHeader& header, std::uint64_t& budget,
                      std::uint32_t maxBlocks, std::uint32_t& blocksLeft) {
    std::array<char, kBlockSize> block{};
    std::uint64_t blockOffset = header.info.headerOffset;
    const std::uint64_t sourceSize = reader.size();
    for (std::uint32_t blocksRead = 0;; ++blocksRead) {
        if (blocksRead == maxBlocks) return ReadStatus::TooLarge;
        --blocksLeft;
        if (!reader.read(blockOffset, block.data(), kBlockSize)) return ReadStatus::ReadFailed;
        bool endSeen = false;
        for (std::size_t i = 0; i < kCardsPerBlock && !endSeen; ++i) {
            const std::string_view card(block.data() + i * kFitsCardSize, kFitsCardSize);
            if (isEndCard(card)) {
                endSeen = true;
                break;
            }
            const auto parsed = parseFitsCard(card);
            if (!parsed) continue;
            interpretCard(*parsed, header);
            storeCard(*parsed, header.keywords, budget);
        }
        blockOffset += kBlockSize;
        if (endSeen) {
            header.info.dataOffset = blockOffset;
            return ReadStatus::Ok;
        }
        if (blockOffset > sourceSize || sourceSize - blockOffset < kBlockSize) {
            return ReadStatus::Malformed;
        }
    }
}

std::uint64_t computeDataSize(const HduInfo& info) {
    const auto bytes =
        static_cast<std::uint64_t>(std::abs(static_cast<std::int64_t>(info.bitpix)) / 8);
    if (info.naxis < 1 || info.naxis > 3 || bytes == 0) return 0;
    const std::array<std::uint64_t, 3> axes = {info.naxis1, info.naxis2, info.naxis3};
    std::uint64_t size = bytes;
    for (std::uint32_t axis = 0; axis < info.naxis; ++axis) {
        if (axes[axis] == 0) return 0;
        const auto product = safeMultiply(size, axes[axis]);
        if (!product) return 0;
        size = *product;
    }
    return size;
}

bool qualifiesAsImage(const HduHeader& header, std::uint64_t sourceSize) {
    const HduInfo& info = header.info;
    if (info.dataSize == 0) return false;
    if (info.naxis != 2 && info.naxis != 3) return false;
    if (info.naxis1 < 1 || info.naxis1 > kMaxImageSide) return false;
    if (info.naxis2 < 1 || info.naxis2 > kMaxImageSide) return false;
    if (info.naxis == 3 && (info.naxis3 < 1 || info.naxis3 > kMaxPlanes)) return false;
    if (sampleFormatForBitpix(info.bitpix) == SampleFormat::None) return false;
    if (header.xtensionSeen && !header.xtensionIsImage) return false;
    return rangeWithin(info.dataOffset, info.dataSize, sourceSize);
}

// The extension's own cards, then the primary cards whose names it lacks.
std::vector<KeywordRecord> inheritKeywords(const std::vector<KeywordRecord>& own,
                                           const std::vector<KeywordRecord>& primary) {
    std::vector<KeywordRecord> merged = own;
    for (const auto& record : primary) {
        if (merged.size() >= kMaxStoredKeywords) break;
        const bool present = std::any_of(own.begin(), own.end(), [&](const KeywordRecord& k) {
            return equalsIgnoreCase(k.name, record.name);
        });
        if (!present) merged.push_back(record);
    }
    return merged;
}

// Offset of the HDU after this one, or nothing when the padded data would
// run past 2^64.
std::optional<std::uint64_t> nextHduOffset(const HduInfo& info) {
    const std::uint64_t remainder = info.dataSize % kBlockSize;
    const std::uint64_t padding = remainder == 0 ? 0 : kBlockSize - remainder;
    if (info.dataSize > std::numeric_limits<std::uint64_t>::max() - padding) return std::nullopt;
    const std::uint64_t padded = info.dataSize + padding;
    if (info.dataOffset > std::numeric_limits<std::uint64_t>::max() - padded) return std::nullopt;
    return info.dataOffset + padded;
}

const HduInfo& chooseLargestImage(const std::vector<HduInfo>& images) {
    const HduInfo* best = &images.front();
    std::optional<std::uint64_t> bestArea;
    for (const auto& info : images) {
        const auto area = safeMultiply(info.naxis1, info.naxis2);
        if (area && (!bestArea || *area > *bestArea)) {
            best = &info;
            bestArea = area;
        }
    }
    return *best;
}

Normalization fitsNormalization(const HduInfo& info) {
    const auto range = integerRange(sampleFormatForBitpix(info.bitpix));
    if (!range) {  // floating point: the stored values are the working values
        return {static_cast<float>(info.bscale), static_cast<float>(info.bzero)};
    }
    const double a = info.bzero + info.bscale * range->min;
    const double b = info.bzero + info.bscale * range->max;
    const double lo = std::min(a, b);
    const double hi = std::max(a, b);
    if (hi > lo) {
        return {static_cast<float>(info.bscale / (hi - lo)),
                static_cast<float>((info.bzero - lo) / (hi - lo))};
    }
    return {static_cast<float>(info.bscale), static_cast<float>(info.bzero)};
}

const KeywordRecord* findKeyword(const std::vector<KeywordRecord>& keywords,
                                 std::string_view name) {
    for (const auto& record : keywords) {
        if (equalsIgnoreCase(record.name, name)) return &record;
    }
    return nullptr;
}

void setBayerPattern(ImageData& data) {
    const KeywordRecord* record = findKeyword(data.keywords, "BAYERPAT");
    if (record == nullptr) record = findKeyword(data.keywords, "COLORTYP");
    if (record == nullptr) return;
    std::string pattern = upperAscii(unquoteValue(record->value));
    if (pattern.size() != 4) return;
    data.cfaPattern = std::move(pattern);
    data.cfaWidth = 2;
    data.cfaHeight = 2;
}

// Three planes are a colour picture; other cubes are stacks of grey planes
// (detector chips, wavelengths), except that PixInsight writes colour with
// an alpha channel as a fourth plane.
void setPixInsightAlphaColour(ImageData& data) {
    if (data.image.channels != 4) return;
    const KeywordRecord* record = findKeyword(data.keywords, "PROGRAM");
    if (record == nullptr) return;
    if (unquoteValue(record->value).starts_with(kPixInsightProgram))
        data.image.colorSpace = ColorSpace::RGB;
}

void fillImageBlock(const HduInfo& info, ImageBlock& image) {
    image.width = info.naxis1;
    image.height = info.naxis2;
    image.channels = info.naxis == 3 ? static_cast<std::uint32_t>(info.naxis3) : 1;
    image.sampleFormat = sampleFormatForBitpix(info.bitpix);
    image.colorSpace = image.channels == 3 ? ColorSpace::RGB : ColorSpace::Gray;
    image.bigEndian = true;
    image.location = DataLocation::Attachment;
    image.position = info.dataOffset;
    image.size = info.dataSize;
    image.codec = Codec::None;
    const Normalization normalization = fitsNormalization(info);
    image.scale = normalization.scale;
    image.offset = normalization.offset;
    image.physicalScale = info.bscale;
    image.physicalOffset = info.bzero;
}

}  // namespace

bool isFits(Reader& reader) {
    if (reader.size() < kBlockSize) return false;
    std::array<char, kFitsCardSize> card{};
    if (!reader.read(0, card.data(), card.size())) return false;
    const std::string_view text(card.data(), card.size());
    if (text.substr(0, 9) != "SIMPLE  =") return false;
    const auto parsed = parseFitsCard(text);
    return parsed && (parsed->value == "T" || parsed->value == "t");
}

ReadStatus readFits(Reader& reader, ImageData& data) {
    data.reset();
    data.kind = FileKind::Fits;
    const std::uint64_t sourceSize = reader.size();
    if (sourceSize < kBlockSize) return ReadStatus::NotRecognized;

    std::uint64_t budget = kKeywordTextBudget;
    std::vector<HduInfo> images;
    std::vector<KeywordRecord> primaryKeywords;
    std::uint64_t offset = 0;
    std::uint32_t blocksLeft = kMaxHeaderBlocksPerFile;
    for (std::uint32_t index = 0; index < kMaxHdus; ++index) {
        HduHeader header;
        header.info.headerOffset = offset;
        const std::uint32_t maxBlocks = std::min(kMaxHeaderBlocks, blocksLeft);
        const ReadStatus status = readHeader(reader, header, budget, maxBlocks, blocksLeft);
        if (status == ReadStatus::TooLarge && maxBlocks < kMaxHeaderBlocks)
            break;  // the file's share is spent
        if (status != ReadStatus::Ok) return status;
        if (index == 0 && !header.simpleSeen) return ReadStatus::NotRecognized;

        header.info.dataSize = computeDataSize(header.info);
        const bool image = qualifiesAsImage(header, sourceSize);
        if (image) {
            if (images.empty()) {
                data.keywords = (index > 0 && header.inherit)
                                    ? inheritKeywords(header.keywords, primaryKeywords)
                                    : header.keywords;
            }
            images.push_back(header.info);
        }
        if (index == 0) primaryKeywords = std::move(header.keywords);

        const auto next = nextHduOffset(header.info);
        if (!next) break;
        if (header.info.dataSize == 0 && !image && index > 0) break;
        if (!rangeWithin(*next, kBlockSize, sourceSize)) break;
        offset = *next;
    }

    data.imageCount = static_cast<std::uint32_t>(images.size());
    if (images.empty()) return ReadStatus::Unsupported;

    const HduInfo& chosen = chooseLargestImage(images);
    fillImageBlock(chosen, data.image);
    setPixInsightAlphaColour(data);
    setBayerPattern(data);
    data.headerLength = chosen.dataOffset - chosen.headerOffset;

    if (!isUsable(data.image)) return ReadStatus::Malformed;
    const auto byteCount = blockByteSize(data.image);
    if (!byteCount) return ReadStatus::TooLarge;
    if (!rangeWithin(chosen.dataOffset, *byteCount, sourceSize)) return ReadStatus::Truncated;
    return ReadStatus::Ok;
}

}  // namespace cv
