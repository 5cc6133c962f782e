#include "preview/sequence_listing.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "core/display_text.h"

namespace cv {

namespace {

constexpr std::size_t kMaxTableRows = 5000;
constexpr std::size_t kMaxListedExclusions = 30;
constexpr std::size_t kMaxFormattedPiece = 255;  // bytes per formatted piece of the report

// printf into a piece of at most 255 bytes.
std::string piece(const char* format, ...) {
    char buffer[kMaxFormattedPiece + 1];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

void appendQualityLines(const SequenceInfo& info, std::string& report) {
    std::vector<const SequenceImage*> measured;
    std::vector<double> stars;
    for (const auto& image : info.images) {
        if (!image.selected || !image.registered) continue;
        stars.push_back(image.stars);
        if (image.fwhm > 0.0) measured.push_back(&image);
    }
    if (!measured.empty()) {
        std::vector<double> values;
        const SequenceImage* best = measured.front();
        const SequenceImage* worst = measured.front();
        for (const SequenceImage* image : measured) {
            values.push_back(image->fwhm);
            if (image->fwhm < best->fwhm) best = image;
            if (image->fwhm > worst->fwhm) worst = image;
        }
        report +=
            piece(
                "FWHM of selected frames: median %.2f, best %.2f (frame %d), worst %.2f (frame %d)",
                medianOf(values), best->fwhm, best->fileNumber, worst->fwhm, worst->fileNumber) +
            "\r\n";
    }
    if (!stars.empty())
        report += piece("Stars in selected frames: median %.0f", medianOf(stars)) + "\r\n";
}

void appendExclusions(const SequenceInfo& info, std::string& report) {
    std::vector<std::int32_t> excluded;
    std::size_t total = 0;
    for (const auto& image : info.images) {
        if (image.selected) continue;
        if (excluded.size() < kMaxListedExclusions) excluded.push_back(image.fileNumber);
        ++total;
    }
    if (total == 0) return;
    report += total == 1 ? "Excluded frame: " : "Excluded frames: ";
    for (std::size_t i = 0; i < excluded.size(); ++i) {
        if (i > 0) report += ", ";
        report += std::to_string(excluded[i]);
    }
    if (total > kMaxListedExclusions)
        report += ", and " + std::to_string(total - kMaxListedExclusions) + " more";
    report += "\r\n";
}

void appendTable(const SequenceInfo& info, std::string& report) {
    const bool registered = isRegistered(info);
    const bool medians = std::any_of(info.images.begin(), info.images.end(),
                                     [](const auto& i) { return i.hasMedian; });
    const bool noise = std::any_of(info.images.begin(), info.images.end(),
                                   [](const auto& i) { return i.hasNoise; });
    report += "Frame  Used";
    if (registered) report += "    FWHM   wFWHM   Round   Stars   Background";
    if (medians) report += "      Median";
    if (noise) report += "       Noise";
    report += "\r\n";
    const std::size_t rows = std::min(info.images.size(), kMaxTableRows);
    for (std::size_t i = 0; i < rows; ++i) {
        const SequenceImage& image = info.images[i];
        report += piece("%5d  %4s", image.fileNumber, image.selected ? "yes" : "no");
        if (registered) {
            report +=
                image.registered
                    ? piece("  %6.2f  %6.2f  %6.2f  %6d  %11.5g", image.fwhm, image.weightedFwhm,
                            image.roundness, image.stars, image.background)
                    : piece("  %6s  %6s  %6s  %6s  %11s", "-", "-", "-", "-", "-");
        }
        if (medians)
            report += image.hasMedian ? piece("  %10.5g", image.median) : piece("  %10s", "-");
        if (noise) report += image.hasNoise ? piece("  %10.5g", image.noise) : piece("  %10s", "-");
        report += "\r\n";
    }
    if (info.images.size() > kMaxTableRows) {
        report += piece("... and %zu more frames", info.images.size() - kMaxTableRows) + "\r\n";
    }
}

}  // namespace

std::string sequenceReport(const SequenceInfo& info) {
    std::string report;
    if (isRegistered(info)) {
        appendQualityLines(info, report);
    } else if (info.registrationLayer == kOldRegistrationFormat) {
        report += "Registration data is in an older Siril format and is not shown.\r\n";
    }
    appendExclusions(info, report);
    if (!report.empty()) report += "\r\n";
    appendTable(info, report);
    if (info.truncated)
        report += "The file is larger than can be shown in full; the listing stops here.\r\n";
    return report;
}

std::optional<PreviewListing> buildSequenceListing(Reader& reader) {
    SequenceInfo info;
    if (parseSequence(reader, info) != ReadStatus::Ok) return std::nullopt;
    return sequenceListing(info);
}

PreviewListing sequenceListing(const SequenceInfo& info) {
    const std::uint32_t frames = frameCount(info);
    PreviewListing listing;
    listing.title = displayText(piece("%u frame%s, %u selected", frames, frames == 1 ? "" : "s",
                                      static_cast<std::uint32_t>(info.selectedFrames)));
    std::string subtitle = sequenceTypeName(info);
    if (info.layerCount == 1)
        subtitle += ", mono";
    else if (info.layerCount == 3)
        subtitle += ", color";
    const auto median = medianFwhm(info);
    // %.2f of a hostile median can run to hundreds of digits; the piece is cut to 255 bytes.
    if (isRegistered(info) && median)
        subtitle += piece(", registered, median FWHM %.2f", *median);
    else if (isRegistered(info))
        subtitle += ", registered";
    else
        subtitle += ", not registered";
    listing.subtitle = displayText(subtitle);
    std::string note = piece("Siril sequence, format version %d", info.version);
    if (!info.name.empty()) note += ": " + info.name;
    if (info.truncated) note += ". Only part of this file could be read.";
    listing.note = displayText(note);
    listing.body = displayText(sequenceReport(info), TextLines::Many);
    listing.wrapLines = false;
    return listing;
}

}  // namespace cv
