#include "formats/compressed_image.h"

#include <algorithm>
#include <array>
#include <optional>

#include "core/text_utils.h"
#include "formats/fits_bitpix.h"

namespace cv {

namespace {

constexpr std::size_t kMaxTableCards =
    2200;  // per header: TTYPEn and TFORMn of 999 fields, and Z cards
constexpr std::uint64_t kMaxFields = 999;  // TFIELDS
constexpr std::uint64_t kMaxCompressedAxes = 3;
constexpr std::uint64_t kMaxCompressedPlanes = 16;
constexpr std::uint32_t kMaxCompressionParameters = 999;  // ZNAMEi / ZVALi
constexpr std::uint64_t kMaxBlockSize = 1u << 16;         // Rice pixels per block

std::string numbered(std::string_view prefix, std::uint64_t n) {
    return std::string(prefix) + std::to_string(n);
}

std::optional<std::uint64_t> unsignedCard(const TableCards& cards, std::string_view name) {
    const std::string* value = cards.find(name);
    return value ? parseUnsigned64(*value) : std::nullopt;
}

std::optional<std::int64_t> signedCard(const TableCards& cards, std::string_view name) {
    const std::string* value = cards.find(name);
    return value ? parseSigned64(*value) : std::nullopt;
}

std::optional<double> realCard(const TableCards& cards, std::string_view name) {
    const std::string* value = cards.find(name);
    return value ? parseFiniteDouble(*value) : std::nullopt;
}

std::string textCard(const TableCards& cards, std::string_view name) {
    const std::string* value = cards.find(name);
    if (value == nullptr) return {};
    std::string text(trim(unquoteValue(*value)));
    return upperAscii(text);
}

// Bytes of one element of a binary-table type; 0 for none we read.
std::uint64_t elementBytes(char type) {
    switch (type) {
        case 'L':
        case 'B':
        case 'A':
            return 1;
        case 'I':
            return 2;
        case 'J':
        case 'E':
            return 4;
        case 'K':
        case 'D':
        case 'C':
        case 'P':
            return 8;
        case 'M':
        case 'Q':
            return 16;
        default:
            return 0;
    }
}

struct ParsedForm {
    std::uint64_t repeat = 1;
    char type = 0;
    char elementType = 0;
};

// "1PB(51)", "1D", "16A", "J": repeat count, type, and a heap array's element type.
std::optional<ParsedForm> parseForm(std::string_view text) {
    ParsedForm form;
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
    if (digits > 0) {
        const auto repeat = parseUnsigned64(text.substr(0, digits));
        if (!repeat) return std::nullopt;
        form.repeat = *repeat;
    }
    if (digits >= text.size()) return std::nullopt;
    form.type = text[digits];
    if (form.type == 'X') return form;
    if (form.type == 'P' || form.type == 'Q') {
        if (digits + 1 >= text.size()) return std::nullopt;
        form.elementType = text[digits + 1];
        if (elementBytes(form.elementType) == 0) return std::nullopt;
    } else if (elementBytes(form.type) == 0) {
        return std::nullopt;
    }
    return form;
}

std::optional<std::uint64_t> fieldWidth(const ParsedForm& form) {
    if (form.type == 'X') return (form.repeat + 7) / 8;
    return safeMultiply(form.repeat, elementBytes(form.type));
}

// The fields the tiles are read from, by name; Malformed when the row
// layout overflows or exceeds NAXIS1.
ReadStatus locateFields(const TableCards& cards, const TableGeometry& table,
                        CompressedTiles& tiles) {
    const auto fields = unsignedCard(cards, "TFIELDS");
    if (!fields || *fields > kMaxFields) return ReadStatus::Malformed;
    std::uint64_t offset = 0;
    for (std::uint64_t n = 1; n <= *fields; ++n) {
        const std::string* formText = cards.find(numbered("TFORM", n));
        if (formText == nullptr) return ReadStatus::Malformed;
        const auto form = parseForm(trim(unquoteValue(*formText)));
        if (!form) return ReadStatus::Malformed;
        const auto width = fieldWidth(*form);
        if (!width || *width > table.rowBytes - std::min(offset, table.rowBytes))
            return ReadStatus::Malformed;
        const TableField field{offset, form->type, form->elementType};
        const std::string name = textCard(cards, numbered("TTYPE", n));
        const bool heapArray = form->type == 'P' || form->type == 'Q';
        const bool scalar = !heapArray && form->repeat == 1;
        if (name == "COMPRESSED_DATA" && heapArray) tiles.compressed = field;
        if (name == "GZIP_COMPRESSED_DATA" && heapArray) tiles.gzipped = field;
        if (name == "UNCOMPRESSED_DATA" && heapArray) tiles.uncompressed = field;
        if (name == "ZSCALE" && scalar) tiles.scaleField = field;
        if (name == "ZZERO" && scalar) tiles.zeroField = field;
        if (name == "ZBLANK" && scalar) tiles.blankField = field;
        offset += *width;
    }
    if (!tiles.compressed && !tiles.gzipped && !tiles.uncompressed) return ReadStatus::Malformed;
    return ReadStatus::Ok;
}

std::optional<TileAlgorithm> algorithmNamed(const std::string& name) {
    if (name == "RICE_1" || name == "RICE_ONE") return TileAlgorithm::Rice;
    if (name == "GZIP_1") return TileAlgorithm::Gzip1;
    if (name == "GZIP_2") return TileAlgorithm::Gzip2;
    if (name == "PLIO_1") return TileAlgorithm::Plio;
    if (name == "HCOMPRESS_1") return TileAlgorithm::Hcompress;
    if (name == "NOCOMPRESS") return TileAlgorithm::NoCompress;
    return std::nullopt;
}

std::uint32_t defaultBytePix(std::int32_t zbitpix) {
    if (zbitpix == 8) return 1;
    if (zbitpix == 16) return 2;
    return 4;  // 32-bit integers and quantised floating point
}

ReadStatus readParameters(const TableCards& cards, CompressedTiles& tiles) {
    tiles.bytePix = defaultBytePix(tiles.zbitpix);
    for (std::uint32_t i = 1; i <= kMaxCompressionParameters; ++i) {
        const std::string name = textCard(cards, numbered("ZNAME", i));
        if (name.empty()) break;
        const auto value = signedCard(cards, numbered("ZVAL", i));
        if (name == "BLOCKSIZE") {
            if (!value || *value < 1 || static_cast<std::uint64_t>(*value) > kMaxBlockSize)
                return ReadStatus::Unsupported;
            tiles.blockSize = static_cast<std::uint32_t>(*value);
        } else if (name == "BYTEPIX") {
            if (!value || (*value != 1 && *value != 2 && *value != 4))
                return ReadStatus::Unsupported;
            tiles.bytePix = static_cast<std::uint32_t>(*value);
        } else if (name == "SMOOTH") {
            tiles.smooth = value && *value != 0;
        }
    }
    return ReadStatus::Ok;
}

ReadStatus readQuantization(const TableCards& cards, CompressedTiles& tiles) {
    if (const auto scale = realCard(cards, "ZSCALE")) tiles.scale = *scale;
    if (const auto zero = realCard(cards, "ZZERO")) tiles.zero = *zero;
    if (const auto blank = signedCard(cards, "ZBLANK")) tiles.blank = *blank;
    const bool scaled = tiles.scaleField || cards.find("ZSCALE") != nullptr;
    if (tiles.zbitpix > 0 || !scaled) return ReadStatus::Ok;
    const std::string method = textCard(cards, "ZQUANTIZ");
    if (method.empty() || method == "NO_DITHER") {
        tiles.quantization = Quantization::NoDither;
    } else if (method == "SUBTRACTIVE_DITHER_1") {
        tiles.quantization = Quantization::SubtractiveDither1;
    } else if (method == "SUBTRACTIVE_DITHER_2") {
        tiles.quantization = Quantization::SubtractiveDither2;
    } else {
        return ReadStatus::Unsupported;
    }
    if (const auto seed = signedCard(cards, "ZDITHER0")) tiles.ditherSeed = *seed;
    return ReadStatus::Ok;
}

ReadStatus readGeometry(const TableCards& cards, CompressedImage& image) {
    const auto bitpix = signedCard(cards, "ZBITPIX");
    const auto naxis = unsignedCard(cards, "ZNAXIS");
    if (!bitpix || sampleFormatForBitpix(*bitpix) == SampleFormat::None)
        return ReadStatus::Unsupported;
    if (!naxis || *naxis < 2 || *naxis > kMaxCompressedAxes) return ReadStatus::Unsupported;
    image.bitpix = static_cast<std::int32_t>(*bitpix);
    image.naxis = static_cast<std::uint32_t>(*naxis);
    std::array<std::uint64_t, kMaxCompressedAxes> axes{1, 1, 1};
    std::array<std::uint64_t, kMaxCompressedAxes> tile{0, 1, 1};
    for (std::uint32_t n = 0; n < image.naxis; ++n) {
        const auto axis = unsignedCard(cards, numbered("ZNAXIS", n + 1));
        if (!axis || *axis < 1 || *axis > kMaxImageSide) return ReadStatus::Unsupported;
        axes[n] = *axis;
        // A tile may be given larger than the image: it is cut to the image.
        const auto size = unsignedCard(cards, numbered("ZTILE", n + 1));
        tile[n] = std::min(size ? *size : (n == 0 ? axes[0] : 1), axes[n]);
        if (tile[n] == 0) return ReadStatus::Malformed;
    }
    if (axes[2] > kMaxCompressedPlanes) return ReadStatus::Unsupported;
    image.width = axes[0];
    image.height = axes[1];
    image.planes = axes[2];
    image.tiles.zbitpix = image.bitpix;
    image.tiles.tileWidth = tile[0];
    image.tiles.tileHeight = tile[1];
    image.tiles.tilePlanes = tile[2];
    return ReadStatus::Ok;
}

std::uint64_t tilesAlong(std::uint64_t length, std::uint64_t tile) {
    return (length + tile - 1) / tile;
}

ReadStatus placeHeap(const TableCards& cards, const TableGeometry& table, CompressedTiles& tiles) {
    const auto rows = safeMultiply(table.rowBytes, table.rowCount);
    if (!rows || *rows > table.dataBytes) return ReadStatus::Malformed;
    const std::uint64_t heap = unsignedCard(cards, "THEAP").value_or(*rows);
    if (heap < *rows || heap > table.dataBytes) return ReadStatus::Malformed;
    tiles.rowBytes = table.rowBytes;
    tiles.rowCount = table.rowCount;
    tiles.heapOffset = heap;
    tiles.heapBytes = table.dataBytes - heap;
    return ReadStatus::Ok;
}

// Cards the table has for itself, not for the image it holds.
bool isTableCard(std::string_view name, std::string_view value) {
    static constexpr std::array<std::string_view, 12> kExact = {
        "XTENSION", "BITPIX",   "NAXIS",   "PCOUNT", "GCOUNT",   "TFIELDS",
        "THEAP",    "CHECKSUM", "DATASUM", "ZIMAGE", "ZCMPTYPE", "ZQUANTIZ"};
    static constexpr std::array<std::string_view, 9> kNumbered = {
        "NAXIS", "TTYPE", "TFORM", "TDIM", "TUNIT", "TNULL", "TSCAL", "TZERO", "TDISP"};
    static constexpr std::array<std::string_view, 3> kCompressionNumbered = {"ZTILE", "ZNAME",
                                                                             "ZVAL"};
    if (std::find(kExact.begin(), kExact.end(), name) != kExact.end()) return true;
    if (name == "ZDITHER0" || name == "ZMASKCMP" || name == "ZSCALE" || name == "ZZERO")
        return true;
    if (name == "EXTNAME" && trim(unquoteValue(value)) == "COMPRESSED_IMAGE") return true;
    const auto numberedBy = [&](std::string_view prefix) {
        if (!name.starts_with(prefix) || name.size() == prefix.size()) return false;
        return parseUnsigned64(name.substr(prefix.size())).has_value();
    };
    return std::any_of(kNumbered.begin(), kNumbered.end(), numberedBy) ||
           std::any_of(kCompressionNumbered.begin(), kCompressionNumbered.end(), numberedBy);
}

// ZSIMPLE is the image's SIMPLE, ZNAXIS2 its NAXIS2, and so on.
std::optional<std::string> imageNameOf(std::string_view name) {
    static constexpr std::array<std::string_view, 11> kRenamed = {
        "ZSIMPLE", "ZTENSION", "ZBITPIX",  "ZNAXIS", "ZEXTEND", "ZPCOUNT",
        "ZGCOUNT", "ZHECKSUM", "ZDATASUM", "ZBLANK", "ZBLOCKED"};
    if (std::find(kRenamed.begin(), kRenamed.end(), name) != kRenamed.end() ||
        (name.starts_with("ZNAXIS") && parseUnsigned64(name.substr(6)).has_value())) {
        if (name == "ZTENSION") return std::string("XTENSION");
        if (name == "ZHECKSUM") return std::string("CHECKSUM");
        return std::string(name.substr(1));
    }
    return std::nullopt;
}

}  // namespace

void TableCards::take(const FitsCard& card) {
    const std::string_view name = card.name;
    if (name.empty() || (name[0] != 'Z' && name[0] != 'T')) return;
    const auto known = cards_.find(std::string(name));
    if (known != cards_.end()) {
        known->second = card.value;  // a later card wins, as for every other card
        return;
    }
    if (cards_.size() < kMaxTableCards) cards_.emplace(std::string(name), std::string(card.value));
}

bool TableCards::holdsImage() const {
    const std::string* value = find("ZIMAGE");
    return value != nullptr && *value == "T";
}

const std::string* TableCards::find(std::string_view name) const {
    const auto known = cards_.find(std::string(name));
    return known == cards_.end() ? nullptr : &known->second;
}

ReadStatus describeCompressedImage(const TableCards& cards, const TableGeometry& table,
                                   CompressedImage& image) {
    image = CompressedImage{};
    CompressedTiles& tiles = image.tiles;
    const auto algorithm = algorithmNamed(textCard(cards, "ZCMPTYPE"));
    if (!algorithm) return ReadStatus::Unsupported;
    tiles.algorithm = *algorithm;
    ReadStatus status = readGeometry(cards, image);
    if (status == ReadStatus::Ok) status = readParameters(cards, tiles);
    if (status == ReadStatus::Ok) status = locateFields(cards, table, tiles);
    if (status == ReadStatus::Ok) status = readQuantization(cards, tiles);
    if (status == ReadStatus::Ok) status = placeHeap(cards, table, tiles);
    if (status != ReadStatus::Ok) return status;
    const std::uint64_t tileCount = tilesAlong(image.width, tiles.tileWidth) *
                                    tilesAlong(image.height, tiles.tileHeight) *
                                    tilesAlong(image.planes, tiles.tilePlanes);
    if (tileCount != table.rowCount) return ReadStatus::Malformed;
    return ReadStatus::Ok;
}

std::vector<KeywordRecord> imageKeywords(const std::vector<KeywordRecord>& table,
                                         std::int32_t zbitpix) {
    std::vector<KeywordRecord> image;
    for (const auto& record : table) {
        // A quantised float image's ZBLANK marks its NaNs; the image has no BLANK.
        if (record.name == "ZBLANK" && zbitpix < 0) continue;
        if (auto renamed = imageNameOf(record.name)) {
            KeywordRecord copy = record;
            copy.name = std::move(*renamed);
            image.push_back(std::move(copy));
        } else if (!isTableCard(record.name, record.value)) {
            image.push_back(record);
        }
    }
    return image;
}

std::string describeTiles(const CompressedTiles& tiles) {
    static constexpr std::array<const char*, 7> kNames = {
        "", "Rice", "GZIP", "GZIP (shuffled)", "PLIO", "H-compress", "uncompressed"};
    const auto index = static_cast<std::size_t>(tiles.algorithm);
    std::string text = index < kNames.size() ? kNames[index] : "";
    text += ", " + std::to_string(tiles.tileWidth) + " \u00d7 " + std::to_string(tiles.tileHeight);
    if (tiles.tilePlanes > 1) text += " \u00d7 " + std::to_string(tiles.tilePlanes);
    return text + " tiles";
}

}  // namespace cv
