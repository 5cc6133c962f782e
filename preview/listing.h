#pragma once

#include "core/reader.h"
#include "formats/xpsm_reader.h"
#include "preview/preview_listing.h"

namespace cv {

enum class ListingOutcome { NotTextKind, Failed, Built };

struct ListingResult {
    ListingOutcome outcome = ListingOutcome::NotTextKind;
    ReadStatus status = ReadStatus::NotRecognized;  // the reader's status for a text kind
    PreviewListing listing;
};

// The texts of a process-icon file: count, class summary, creator, listing.
PreviewListing buildXpsmListing(const XpsmDocument& document);

// The texts of a Siril sequence or a process-icon file, as classifyFile
// tells them; any other file is not a text kind.
ListingResult buildListing(Reader& reader);

}  // namespace cv
