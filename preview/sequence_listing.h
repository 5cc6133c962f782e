#pragma once

#include <optional>
#include <string>

#include "core/reader.h"
#include "formats/siril_sequence.h"
#include "preview/preview_listing.h"

namespace cv {

// The preview's text: quality figures, excluded frames and a table; CR LF line ends.
std::string sequenceReport(const SequenceInfo& info);

// Title, subtitle, note and report of a sequence.
PreviewListing sequenceListing(const SequenceInfo& info);
// The same, read from a file; nothing when it cannot be read.
std::optional<PreviewListing> buildSequenceListing(Reader& reader);

}  // namespace cv
