#include "cli/report_json.h"

namespace corvane_cli {

namespace {

template <typename T>
nlohmann::ordered_json firstN(const T& values, std::uint32_t n) {
    nlohmann::ordered_json array = nlohmann::ordered_json::array();
    for (std::uint32_t i = 0; i < n && i < values.size(); ++i) array.push_back(values[i]);
    return array;
}

nlohmann::ordered_json statisticsJson(const cv::ChannelStatistics& statistics) {
    return {
        {"channels", statistics.channels},
        {"channelValid", firstN(statistics.channelValid, statistics.channels)},
        {"median", firstN(statistics.median, statistics.channels)},
        {"mad", firstN(statistics.mad, statistics.channels)},
        {"sigma", firstN(statistics.sigma, statistics.channels)},
        {"low", statistics.low},
        {"high", statistics.high},
        {"dataLow", statistics.dataLow},
        {"dataHigh", statistics.dataHigh},
        {"valid", statistics.valid},
    };
}

nlohmann::ordered_json stretchJson(const cv::StretchParameters& stretch) {
    return {
        {"shadows", stretch.shadows},
        {"midtones", stretch.midtones},
        {"highlights", stretch.highlights},
        {"linked", stretch.linked},
        {"identity", stretch.identity},
        {"low", stretch.low},
        {"high", stretch.high},
    };
}

}  // namespace

nlohmann::ordered_json reportJson(cv::ReadStatus status, const cv::RgbImage& image,
                                  const cv::RenderReport& report) {
    return {
        {"status", cv::readStatusName(status)},
        {"width", image.width},
        {"height", image.height},
        {"sourceWidth", report.sourceWidth},
        {"sourceHeight", report.sourceHeight},
        {"sourceChannels", report.sourceChannels},
        {"bytesReadHere", report.bytesReadHere},
        {"rowsRead", report.rowsRead},
        {"elapsedMs", report.elapsedMs},
        {"rowsSubsampled", report.rowsSubsampled},
        {"budgetExhausted", report.budgetExhausted},
        {"firstPassRows", report.firstPassRows},
        {"largestSkip", report.largestSkip},
        {"setupMs", report.setupMs},
        {"smoothed", report.smoothed},
        {"usedEmbeddedThumbnail", report.usedEmbeddedThumbnail},
        {"demosaiced", report.demosaiced},
        {"decompressed", report.decompressed},
        {"statistics", statisticsJson(report.statistics)},
        {"stretch", stretchJson(report.stretch)},
        {"peakWeight", report.peakWeight},
    };
}

}  // namespace corvane_cli
