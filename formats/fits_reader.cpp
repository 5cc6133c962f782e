#include "formats/fits_reader.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/text_utils.h"
#include "formats/compressed_image.h"
#include "formats/fits_bitpix.h"
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
constexpr std::string_view kXtensionName = "XTENSION";  // the first card of every extension

struct HduInfo {
    std::int32_t bitpix = 0;
    std::uint32_t naxis = 0;
    std::uint64_t naxis1 = 0;
    std::uint64_t naxis2 = 0;
    std::uint64_t naxis3 = 0;
    bool higherAxesUnit = true;  // every axis past the third is 1
    double bzero = 0.0;
    double bscale = 1.0;
    std::shared_ptr<const CompressedTiles> tiles;  // a compressed image's
    std::uint64_t dataOffset = 0;
    std::uint64_t dataSize = 0;
    std::uint64_t headerOffset = 0;
};

struct HduHeader {
    HduInfo info;
    bool simpleSeen = false;
    bool xtensionSeen = false;
    bool xtensionIsImage = false;
    bool xtensionIsTable = false;  // a binary table, which may hold a compressed image
    bool inherit = false;
    bool randomGroups = false;
    std::uint64_t pcount = 0;
    std::uint64_t gcount = 1;
    std::array<std::uint64_t, kMaxNaxis> axes{};  // NAXIS1 first
    TableCards tableCards;
    std::vector<KeywordRecord> keywords;
};

void storeCard(const FitsCard& card, std::vector<KeywordRecord>& keywords, std::uint64_t& budget) {
    if (keywords.size() >= kMaxStoredKeywords || budget == 0) return;
    KeywordRecord record;
    record.name = takeWithinBudget(card.name, budget);
    record.value = takeWithinBudget(card.value, budget);
    record.comment = takeWithinBudget(card.comment, budget);
    keywords.push_back(std::move(record));
}

// n of an NAXISn card, 1 to 999.
std::optional<std::uint32_t> axisNumber(std::string_view name) {
    constexpr std::string_view kPrefix = "NAXIS";
    if (!name.starts_with(kPrefix) || name.size() == kPrefix.size()) return std::nullopt;
    const auto value = parseUnsigned64(name.substr(kPrefix.size()));
    if (!value || *value < 1 || *value > kMaxNaxis || name[kPrefix.size()] == '0')
        return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}

void interpretCard(const FitsCard& card, HduHeader& header) {
    HduInfo& info = header.info;
    const std::string_view name = card.name;
    if (name == "SIMPLE") {
        header.simpleSeen = true;
    } else if (name == kXtensionName) {
        header.xtensionSeen = true;
        header.xtensionIsImage = card.value.size() >= 7 && card.value.substr(0, 6) == "'IMAGE";
        header.xtensionIsTable = card.value.size() >= 10 && card.value.substr(0, 9) == "'BINTABLE";
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
    } else if (const auto axis = axisNumber(name)) {
        if (const auto value = parseUnsigned64(card.value)) header.axes[*axis - 1] = *value;
    } else if (name == "PCOUNT") {
        if (const auto value = parseUnsigned64(card.value)) header.pcount = *value;
    } else if (name == "GCOUNT") {
        if (const auto value = parseUnsigned64(card.value)) header.gcount = *value;
    } else if (name == "GROUPS") {
        header.randomGroups = card.value == "T";
    } else if (name == "BZERO") {
        if (const auto value = parseFiniteDouble(card.value)) info.bzero = *value;
    } else if (name == "BSCALE") {
        if (const auto value = parseFiniteDouble(card.value)) info.bscale = *value;
    } else if (name == "INHERIT") {
        header.inherit = card.value == "T";
    }
    if (header.xtensionIsTable) header.tableCards.take(card);
}

// What may follow the last unit is not an extension (writers leave blocks of
// zeros or blanks there): the first card of every unit after the primary one
// is XTENSION.
bool startsAnExtension(const std::array<char, kBlockSize>& block) {
    return std::string_view(block.data(), kXtensionName.size()) == kXtensionName;
}

// Reads header blocks from `header.info.headerOffset` up to and including the
// one holding END, at most `maxBlocks` of them (counted off `blocksLeft`);
// sets dataOffset to the first byte after that block. NotRecognized when an
// extension was expected and the first block does not start one.
ReadStatus readHeader(Reader& reader, HduHeader& header, std::uint64_t& budget,
                      std::uint32_t maxBlocks, std::uint32_t& blocksLeft, bool extension) {
    std::array<char, kBlockSize> block{};
    std::uint64_t blockOffset = header.info.headerOffset;
    const std::uint64_t sourceSize = reader.size();
    for (std::uint32_t blocksRead = 0;; ++blocksRead) {
        if (blocksRead == maxBlocks) return ReadStatus::TooLarge;
        --blocksLeft;
        if (!reader.read(blockOffset, block.data(), kBlockSize)) return ReadStatus::ReadFailed;
        if (blocksRead == 0 && extension && !startsAnExtension(block))
            return ReadStatus::NotRecognized;
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

// |BITPIX|/8 x GCOUNT x (PCOUNT + NAXIS1 x ... x NAXISn), NAXIS1 left out of
// random groups (where it is 0); nothing when the product overflows.
std::optional<std::uint64_t> computeDataSize(const HduHeader& header) {
    const HduInfo& info = header.info;
    const auto bytes =
        static_cast<std::uint64_t>(std::abs(static_cast<std::int64_t>(info.bitpix)) / 8);
    if (info.naxis == 0 || bytes == 0) return 0;
    const std::uint32_t firstAxis = header.randomGroups && header.axes[0] == 0 ? 1 : 0;
    std::uint64_t elements = 1;
    for (std::uint32_t axis = firstAxis; axis < info.naxis; ++axis) {
        const auto product = safeMultiply(elements, header.axes[axis]);
        if (!product) return std::nullopt;
        elements = *product;
    }
    if (elements > std::numeric_limits<std::uint64_t>::max() - header.pcount) return std::nullopt;
    const auto groups = safeMultiply(elements + header.pcount, header.gcount);
    if (!groups) return std::nullopt;
    return safeMultiply(*groups, bytes);
}

// The axes an image is drawn from: the first three, the third kept only
// while every later axis is 1 (a fourth axis of length 1 is a common
// wrapper around a plain cube).
void takeImageAxes(HduHeader& header) {
    HduInfo& info = header.info;
    info.naxis1 = header.axes[0];
    info.naxis2 = header.axes[1];
    info.naxis3 = header.axes[2];
    for (std::uint32_t axis = 3; axis < info.naxis; ++axis)
        if (header.axes[axis] != 1) info.higherAxesUnit = false;
}

// Read from its header alone; whether the file holds all its data is
// asked later, so that a cut image is told apart from no image.
bool qualifiesAsImage(const HduHeader& header) {
    const HduInfo& info = header.info;
    if (info.dataSize == 0 || header.randomGroups) return false;
    if (info.naxis < 2) return false;
    if (info.naxis1 < 1 || info.naxis1 > kMaxImageSide) return false;
    if (info.naxis2 < 1 || info.naxis2 > kMaxImageSide) return false;
    if (info.naxis >= 3 && info.higherAxesUnit && (info.naxis3 < 1 || info.naxis3 > kMaxPlanes))
        return false;
    if (sampleFormatForBitpix(info.bitpix) == SampleFormat::None) return false;
    if (header.xtensionSeen && !header.xtensionIsImage && !info.tiles) return false;
    return true;
}

// A binary table holding a compressed image becomes that image's unit: its
// geometry and format, while the walk still skips the table's own size.
ReadStatus takeCompressedImage(HduHeader& header) {
    CompressedImage image;
    const TableGeometry table{header.axes[0], header.axes[1], header.info.dataSize};
    const ReadStatus status = describeCompressedImage(header.tableCards, table, image);
    if (status != ReadStatus::Ok) return status;
    HduInfo& info = header.info;
    info.bitpix = image.bitpix;
    info.naxis = image.naxis;
    info.naxis1 = image.width;
    info.naxis2 = image.height;
    info.naxis3 = image.planes;
    info.higherAxesUnit = true;
    info.tiles = std::make_shared<const CompressedTiles>(image.tiles);
    header.keywords = imageKeywords(header.keywords, image.bitpix);
    return ReadStatus::Ok;
}

std::uint32_t drawnPlanes(const HduInfo& info) {
    if (info.naxis < 3 || !info.higherAxesUnit) return 1;
    return static_cast<std::uint32_t>(info.naxis3);
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

// Bytes of the planes an image is drawn from, when they can be counted.
std::optional<std::uint64_t> drawnBytes(const HduInfo& info) {
    const auto area = safeMultiply(info.naxis1, info.naxis2);
    if (!area) return std::nullopt;
    const auto samples = safeMultiply(*area, drawnPlanes(info));
    if (!samples) return std::nullopt;
    return safeMultiply(*samples, static_cast<std::uint64_t>(std::abs(info.bitpix) / 8));
}

bool completeIn(const HduInfo& info, std::uint64_t sourceSize) {
    if (info.tiles) return rangeWithin(info.dataOffset, info.dataSize, sourceSize);
    const auto bytes = drawnBytes(info);
    return bytes && rangeWithin(info.dataOffset, *bytes, sourceSize);
}

// The largest image the file holds whole; a cut one only when no other is
// whole, so that the caller reports it as cut.
const HduInfo& chooseLargestImage(const std::vector<HduInfo>& images, std::uint64_t sourceSize) {
    const HduInfo* best = &images.front();
    std::optional<std::uint64_t> bestArea;
    bool bestComplete = false;
    for (const auto& info : images) {
        const auto area = safeMultiply(info.naxis1, info.naxis2);
        if (!area) continue;
        const bool complete = completeIn(info, sourceSize);
        if (bestComplete && !complete) continue;
        if (!bestArea || *area > *bestArea || (complete && !bestComplete)) {
            best = &info;
            bestArea = area;
            bestComplete = complete;
        }
    }
    return *best;
}

Normalization fitsNormalization(SampleFormat format, double bscale, double bzero) {
    const auto range = integerRange(format);
    if (!range) {  // floating point: the stored values are the working values
        return {static_cast<float>(bscale), static_cast<float>(bzero)};
    }
    const double a = bzero + bscale * range->min;
    const double b = bzero + bscale * range->max;
    const double lo = std::min(a, b);
    const double hi = std::max(a, b);
    if (hi > lo) {
        return {static_cast<float>(bscale / (hi - lo)),
                static_cast<float>((bzero - lo) / (hi - lo))};
    }
    return {static_cast<float>(bscale), static_cast<float>(bzero)};
}

// The standard's unsigned 64-bit integers: signed storage offset by 2^63.
bool isUnsigned64(const HduInfo& info) {
    constexpr double kSignOffset = 9223372036854775808.0;  // 2^63, exact in double
    return info.bitpix == 64 && info.bzero == kSignOffset && info.bscale == 1.0;
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
    image.channels = drawnPlanes(info);
    image.sampleFormat = sampleFormatForBitpix(info.bitpix);
    image.colorSpace = image.channels == 3 ? ColorSpace::RGB : ColorSpace::Gray;
    image.bigEndian = true;
    image.location = DataLocation::Attachment;
    image.position = info.dataOffset;
    image.size = info.dataSize;
    image.codec = Codec::None;
    image.physicalScale = info.bscale;
    image.physicalOffset = info.bzero;
    image.tiles = info.tiles;
    if (info.tiles) image.bigEndian = false;  // decoded into this machine's order
    if (isUnsigned64(info) && !info.tiles) {
        // Read as unsigned with the sign bit flipped: in double precision the
        // offset of 2^63 would take the low 11 bits with it.
        image.sampleFormat = SampleFormat::UInt64;
        image.signBitFlipped = true;
        image.physicalOffset = 0.0;
    }
    const Normalization normalization =
        fitsNormalization(image.sampleFormat, image.physicalScale, image.physicalOffset);
    image.scale = normalization.scale;
    image.offset = normalization.offset;
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
    std::optional<ReadStatus> compressedFailure;  // of a compressed image we could not take
    for (std::uint32_t index = 0; index < kMaxHdus; ++index) {
        HduHeader header;
        header.info.headerOffset = offset;
        const std::uint32_t maxBlocks = std::min(kMaxHeaderBlocks, blocksLeft);
        const ReadStatus status =
            readHeader(reader, header, budget, maxBlocks, blocksLeft, index > 0);
        if (status == ReadStatus::TooLarge && maxBlocks < kMaxHeaderBlocks)
            break;                                       // the file's share is spent
        if (status == ReadStatus::NotRecognized) break;  // the units have ended
        if (status != ReadStatus::Ok) return status;
        if (index == 0 && !header.simpleSeen) return ReadStatus::NotRecognized;

        const auto dataSize = computeDataSize(header);
        if (!dataSize) break;  // no offset for anything after it
        header.info.dataSize = *dataSize;
        takeImageAxes(header);
        if (header.xtensionIsTable && header.tableCards.holdsImage()) {
            const ReadStatus taken = takeCompressedImage(header);
            if (taken != ReadStatus::Ok) compressedFailure = taken;
        }
        const bool image = qualifiesAsImage(header);
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
    if (images.empty()) return compressedFailure.value_or(ReadStatus::Unsupported);

    const HduInfo& chosen = chooseLargestImage(images, sourceSize);
    fillImageBlock(chosen, data.image);
    setPixInsightAlphaColour(data);
    setBayerPattern(data);
    data.headerLength = chosen.dataOffset - chosen.headerOffset;

    if (!isUsable(data.image)) return ReadStatus::Malformed;
    const auto byteCount = blockByteSize(data.image);
    if (!byteCount) return ReadStatus::TooLarge;
    if (!completeIn(chosen, sourceSize)) return ReadStatus::Truncated;
    return ReadStatus::Ok;
}

}  // namespace cv
