#include "cli/thumbnail_command.h"

#include <cstdio>
#include <new>

#include "core/file_reader.h"
#include "cli/image_json.h"
#include "cli/png_writer.h"
#include "cli/report_json.h"
#include "render/clocked_reader.h"
#include "render/render_profiles.h"

namespace corvane_cli {

namespace {

struct Rendered {
    cv::ReadStatus status = cv::ReadStatus::Ok;
    const char* problem = nullptr;  // a failure that is not a read status
    cv::RgbImage image;
    cv::RenderReport report;
};

Rendered render(cv::Reader& reader, const ThumbnailOptions& options) {
    Rendered result;
    // As the shell does, the header's reads count against the budget.
    const cv::RenderBudget budget =
        options.preview ? cv::previewBudget(false, nullptr) : cv::thumbnailBudget();
    cv::ImageData data;
    result.status = cv::readHeaderWithinBudget(reader, budget, data);
    if (result.status != cv::ReadStatus::Ok) return result;
    cv::RenderOptions renderOptions = options.preview
                                          ? cv::previewOptions(false, options.settings)
                                          : cv::thumbnailOptions(options.size, options.settings);
    renderOptions.secondThread = true;
    result.status =
        cv::renderImage(reader, data, renderOptions, budget, result.image, &result.report);
    if (result.status != cv::ReadStatus::Ok && result.status != cv::ReadStatus::Partial)
        return result;
    if (result.image.empty()) result.problem = "the rendered picture is empty";
    return result;
}

}  // namespace

int runThumbnail(const ThumbnailOptions& options) {
    auto reader = cv::FileReader::open(options.path);
    if (!reader) {
        std::fprintf(stderr, "%s: cannot open the file (ReadFailed)\n", options.path.c_str());
        return 1;
    }
    Rendered result;
    try {
        result = render(*reader, options);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", options.path.c_str());
        return 1;
    }
    const bool rendered =
        result.status == cv::ReadStatus::Ok || result.status == cv::ReadStatus::Partial;
    if (options.report) {
        std::printf("%s\n",
                    dumpJson(reportJson(result.status, result.image, result.report)).c_str());
    }
    if (!rendered || result.problem != nullptr) {
        std::fprintf(
            stderr, "%s: cannot render (%s)\n", options.path.c_str(),
            result.problem != nullptr ? result.problem : cv::readStatusName(result.status));
        return 1;
    }
    if (!writePng(result.image, options.output)) {
        std::fprintf(stderr, "%s: cannot write the PNG\n", options.output.c_str());
        return 1;
    }
    if (!options.report) {
        std::printf("%s: %u x %u, %s, %u ms, %llu bytes read\n", options.output.c_str(),
                    result.image.width, result.image.height, cv::readStatusName(result.status),
                    result.report.elapsedMs,
                    static_cast<unsigned long long>(result.report.bytesReadHere));
    }
    return 0;
}

}  // namespace corvane_cli
