#include "cli/listing_command.h"

#include <cstdio>
#include <new>

#include "core/file_reader.h"
#include "core/utf16.h"
#include "preview/listing.h"

namespace corvane_cli {

int runListing(const std::string& path) {
    auto reader = cv::FileReader::open(path);
    if (!reader) {
        std::fprintf(stderr, "%s: cannot open the file (ReadFailed)\n", path.c_str());
        return 1;
    }
    cv::ListingResult result;
    try {
        result = cv::buildListing(*reader);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", path.c_str());
        return 1;
    }
    if (result.outcome == cv::ListingOutcome::NotTextKind) {
        std::fprintf(stderr, "%s: neither a Siril sequence nor a process-icon file\n",
                     path.c_str());
        return 1;
    }
    if (result.outcome == cv::ListingOutcome::Failed) {
        std::fprintf(stderr, "%s: cannot read (%s)\n", path.c_str(),
                     cv::readStatusName(result.status));
        return 1;
    }
    const cv::PreviewListing& listing = result.listing;
    std::printf("%s\n%s\n%s\n\n%s", cv::utf8FromUtf16(listing.title).c_str(),
                cv::utf8FromUtf16(listing.subtitle).c_str(),
                cv::utf8FromUtf16(listing.note).c_str(), cv::utf8FromUtf16(listing.body).c_str());
    return 0;
}

}  // namespace corvane_cli
