#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/compressed_tiles.h"
#include "core/image_data.h"
#include "core/read_status.h"
#include "formats/fits_card.h"

namespace cv {

// The cards of a binary table's header that say whether it holds a
// compressed image and how (Z..., TFIELDS, TTYPEn, TFORMn, THEAP), kept as
// the header is read.
class TableCards {
public:
    void take(const FitsCard& card);
    bool holdsImage() const;  // ZIMAGE = T
    const std::string* find(std::string_view name) const;

private:
    std::unordered_map<std::string, std::string> cards_;
};

// The table's own geometry, from its standard cards.
struct TableGeometry {
    std::uint64_t rowBytes = 0;   // NAXIS1
    std::uint64_t rowCount = 0;   // NAXIS2
    std::uint64_t dataBytes = 0;  // rows and heap
};

struct CompressedImage {
    std::int32_t bitpix = 0;  // ZBITPIX
    std::uint32_t naxis = 0;
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t planes = 1;
    CompressedTiles tiles;
};

// The image a table holds, from its cards: Unsupported for a kind or
// parameter this reader does not decode, Malformed for cards that
// contradict each other or the table.
[[nodiscard]] ReadStatus describeCompressedImage(const TableCards& cards,
                                                 const TableGeometry& table,
                                                 CompressedImage& image);

// The image's own keywords from the table's: the table's structure and the
// compression's cards left out, ZSIMPLE, ZBITPIX, ZNAXISn and the like named
// as the image itself names them.
std::vector<KeywordRecord> imageKeywords(const std::vector<KeywordRecord>& table,
                                         std::int32_t zbitpix);

// "Rice, 641 x 1 tiles".
std::string describeTiles(const CompressedTiles& tiles);

}  // namespace cv
