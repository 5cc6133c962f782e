#include "preview/listing.h"

#include <string>

#include "core/display_text.h"
#include "formats/file_class.h"
#include "formats/siril_sequence.h"
#include "preview/sequence_listing.h"

namespace cv {

namespace {

constexpr std::size_t kSubtitleSummaryLength = 1024;  // bytes of the class summary

std::string countText(std::size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

PreviewListing buildXpsmListing(const XpsmDocument& document) {
    PreviewListing listing;
    const bool onlyInstances = document.icons.empty() && !document.instances.empty();
    listing.title =
        displayText(onlyInstances ? countText(document.instances.size(), "process instance")
                                  : countText(document.icons.size(), "process icon"));
    listing.subtitle = displayText(xpsmClassSummary(document, kSubtitleSummaryLength));
    std::string note = document.creator.empty() ? std::string() : "Saved by " + document.creator;
    if (document.partial)
        note += std::string(note.empty() ? "" : ". ") + "Only part of this file could be read.";
    listing.note = displayText(note);
    listing.body = displayText(xpsmListing(document), TextLines::Many);
    listing.wrapLines = true;
    return listing;
}

ListingResult buildListing(Reader& reader) {
    ListingResult result;
    const FileClass kind = classifyFile(reader);
    if (kind == FileClass::SirilSequence) {
        SequenceInfo info;
        result.status = parseSequence(reader, info);
        result.outcome =
            result.status == ReadStatus::Ok ? ListingOutcome::Built : ListingOutcome::Failed;
        if (result.status == ReadStatus::Ok) result.listing = sequenceListing(info);
        return result;
    }
    if (kind != FileClass::ProcessIcons) return result;
    XpsmDocument document;
    result.status = readXpsm(reader, document);
    result.outcome =
        result.status == ReadStatus::Ok ? ListingOutcome::Built : ListingOutcome::Failed;
    if (result.status == ReadStatus::Ok) result.listing = buildXpsmListing(document);
    return result;
}

}  // namespace cv
