#include "formats/siril_sequence.h"

#include <algorithm>
#include <array>
#include <limits>
#include <new>
#include <string_view>

#include "core/text_utils.h"

namespace cv {

namespace {

constexpr std::uint64_t kMinSequenceSize = 4;          // bytes
constexpr std::uint64_t kRecognitionWindow = 4096;     // bytes read to recognise a file
constexpr std::uint64_t kMaxSequenceFile = 0x1000000;  // 16 MiB
constexpr std::size_t kMaxLineLength = 65536;          // bytes; longer lines are skipped
constexpr std::size_t kMaxTokens = 32;                 // per line
constexpr std::size_t kMaxImages = 100000;
constexpr std::size_t kMaxRegistrationEntries = 100000;  // per layer
constexpr std::int64_t kMaxStatisticsIndex = 100000;     // exclusive
constexpr std::size_t kMinStatisticsTokens = 15;
constexpr double kAbsentStatistic = -999998.0;   // Siril writes -999999 for "not computed"
constexpr int kLayers = 4;                       // 0, 1, 2, and '*' as 3
constexpr std::int32_t kFirstMergedVersion = 4;  // older R lines are in another layout

struct RegistrationEntry {
    double fwhm = 0.0;
    double weightedFwhm = 0.0;
    double roundness = 0.0;
    double quality = 0.0;
    double background = 0.0;
    std::int32_t stars = 0;

    bool hasStars() const { return fwhm > 0.0 || stars >= 1; }
};

struct StatisticsEntry {
    bool hasMedian = false;
    double median = 0.0;
    bool hasNoise = false;
    double noise = 0.0;
};

struct Tokens {
    std::array<std::string_view, kMaxTokens> items;
    std::size_t count = 0;
    std::string_view operator[](std::size_t i) const {
        return i < count ? items[i] : std::string_view{};
    }
};

Tokens tokenize(std::string_view line) {
    Tokens tokens;
    std::size_t i = 0;
    while (i < line.size() && tokens.count < kMaxTokens) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i > start) tokens.items[tokens.count++] = line.substr(start, i - start);
    }
    return tokens;
}

std::optional<std::int32_t> int32Of(std::string_view text) {
    const auto value = parseSigned64(text);
    if (!value || *value < std::numeric_limits<std::int32_t>::min() ||
        *value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(*value);
}

// Calls `visit` for each line (without its line feed and one carriage
// return before it); stops when `visit` returns false.
template <typename Visit>
void forEachLine(std::string_view text, Visit visit) {
    text = withoutByteOrderMark(text);
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        const bool last = newline == std::string_view::npos;
        if (!last && line.ends_with('\r')) line.remove_suffix(1);
        if (!visit(line, last)) return;
        if (last) return;
        text.remove_prefix(newline + 1);
    }
}

bool looksLikeSequence(std::string_view text) {
    bool sequence = false;
    forEachLine(text, [&](std::string_view line, bool) {
        if (line.empty() || line.size() > kMaxLineLength) return true;
        if (line.starts_with("#Siril sequence file")) {
            sequence = true;
            return false;
        }
        if (line.front() == '#') return true;
        sequence = line.size() >= 3 && line.starts_with("S '");
        return false;
    });
    return sequence;
}

int layerOf(char c) {
    if (c >= '0' && c <= '2') return c - '0';
    return c == '*' ? 3 : -1;
}

class SequenceParser {
public:
    explicit SequenceParser(SequenceInfo& info) : info_(info) {}
    void readLine(std::string_view line);
    bool sawHeader() const { return sawHeader_; }
    void finish();

private:
    void readHeader(std::string_view line);
    void readImage(std::string_view line);
    void readRegistration(std::string_view line, int layer);
    void readStatistics(std::string_view line, int layer);
    int chooseRegistrationLayer() const;

    SequenceInfo& info_;
    bool sawHeader_ = false;
    bool oldRegistration_ = false;
    std::array<std::vector<RegistrationEntry>, kLayers> registration_;
    std::array<std::vector<StatisticsEntry>, kLayers> statistics_;
};

void SequenceParser::readLine(std::string_view line) {
    if (line.empty() || line.front() == '#') return;
    switch (line.front()) {
        case 'S':
            if (line.starts_with("S '")) readHeader(line);
            break;
        case 'T':
            if (line.size() >= 2 && (line[1] == 'A' || line[1] == 'F' || line[1] == 'S'))
                info_.typeLetter = line[1];
            break;
        case 'L': {
            const Tokens tokens = tokenize(line);
            if (tokens.count >= 2) {
                if (const auto layers = int32Of(tokens[1])) info_.layerCount = *layers;
            }
            break;
        }
        case 'I':
            readImage(line);
            break;
        case 'R':
            if (line.size() >= 2 && layerOf(line[1]) >= 0) readRegistration(line, layerOf(line[1]));
            break;
        case 'M':
            if (line.size() >= 4 && layerOf(line[1]) >= 0 && line[2] == '-')
                readStatistics(line.substr(3), layerOf(line[1]));
            break;
        default:
            break;
    }
}

void SequenceParser::readHeader(std::string_view line) {
    const std::string_view afterQuote = line.substr(3);
    const std::size_t close = afterQuote.find('\'');
    if (close == std::string_view::npos) return;
    info_.name = std::string(afterQuote.substr(0, close));
    const Tokens tokens = tokenize(afterQuote.substr(close + 1));
    auto integer = [&](std::size_t i) { return int32Of(tokens[i]).value_or(0); };
    info_.declaredFrames = std::max(integer(1), 0);
    info_.selectedFrames = std::max(integer(2), 0);
    info_.version = integer(5);
    sawHeader_ = true;
}

void SequenceParser::readImage(std::string_view line) {
    if (info_.images.size() >= kMaxImages) {
        info_.truncated = true;
        return;
    }
    const Tokens tokens = tokenize(line);
    SequenceImage image;
    image.fileNumber = int32Of(tokens[1]).value_or(0);
    if (tokens.count >= 3) {
        const auto selected = int32Of(tokens[2]);
        image.selected = !selected || *selected != 0;
    }
    info_.images.push_back(image);
}

void SequenceParser::readRegistration(std::string_view line, int layer) {
    if (info_.version < kFirstMergedVersion) {
        oldRegistration_ = true;
        return;
    }
    auto& entries = registration_[static_cast<std::size_t>(layer)];
    if (entries.size() >= kMaxRegistrationEntries) return;
    const Tokens tokens = tokenize(line);
    RegistrationEntry entry;
    std::array<double, 6> values{};
    bool complete = tokens.count >= 7;
    for (std::size_t i = 0; complete && i < values.size(); ++i) {
        const auto value = parseFiniteDouble(tokens[i + 1]);
        complete = value.has_value();
        if (value) values[i] = *value;
    }
    if (complete) {
        entry = {values[0], values[1], values[2], values[3], values[4], 0};
        if (values[5] > 0.0 && values[5] < 1e9) entry.stars = static_cast<std::int32_t>(values[5]);
    }
    entries.push_back(entry);  // zeros keep the entries in step with the images
}

void SequenceParser::readStatistics(std::string_view text, int layer) {
    const Tokens tokens = tokenize(text);
    if (tokens.count < kMinStatisticsTokens) return;
    const auto index = int32Of(tokens[0]);
    if (!index || *index < 0 || *index >= kMaxStatisticsIndex) return;
    auto& entries = statistics_[static_cast<std::size_t>(layer)];
    if (entries.size() <= static_cast<std::size_t>(*index))
        entries.resize(static_cast<std::size_t>(*index) + 1);
    StatisticsEntry& entry = entries[static_cast<std::size_t>(*index)];
    if (const auto median = parseFiniteDouble(tokens[4]); median && *median > kAbsentStatistic) {
        entry.hasMedian = true;
        entry.median = *median;
    }
    if (const auto noise = parseFiniteDouble(tokens[14]); noise && *noise > kAbsentStatistic) {
        entry.hasNoise = true;
        entry.noise = *noise;
    }
}

int SequenceParser::chooseRegistrationLayer() const {
    int best = kNoRegistrationLayer;
    std::size_t bestCount = 0;
    for (int layer = 0; layer < kLayers; ++layer) {
        const auto& entries = registration_[static_cast<std::size_t>(layer)];
        const auto count = static_cast<std::size_t>(
            std::count_if(entries.begin(), entries.end(),
                          [](const RegistrationEntry& e) { return e.hasStars(); }));
        if (count > bestCount) {
            best = layer;
            bestCount = count;
        }
    }
    return best;
}

void SequenceParser::finish() {
    info_.registrationLayer = chooseRegistrationLayer();
    if (info_.registrationLayer >= 0) {
        const auto& entries = registration_[static_cast<std::size_t>(info_.registrationLayer)];
        for (std::size_t i = 0; i < std::min(entries.size(), info_.images.size()); ++i) {
            const RegistrationEntry& entry = entries[i];
            if (!entry.hasStars()) continue;
            SequenceImage& image = info_.images[i];
            image.registered = true;
            image.fwhm = entry.fwhm;
            image.weightedFwhm = entry.weightedFwhm;
            image.roundness = entry.roundness;
            image.background = entry.background;
            image.stars = entry.stars;
        }
    }
    const std::vector<StatisticsEntry>* statistics = nullptr;
    if (info_.registrationLayer >= 0 &&
        !statistics_[static_cast<std::size_t>(info_.registrationLayer)].empty()) {
        statistics = &statistics_[static_cast<std::size_t>(info_.registrationLayer)];
    }
    for (int layer = 0; statistics == nullptr && layer < kLayers; ++layer) {
        if (!statistics_[static_cast<std::size_t>(layer)].empty())
            statistics = &statistics_[static_cast<std::size_t>(layer)];
    }
    if (statistics != nullptr) {
        for (std::size_t i = 0; i < std::min(statistics->size(), info_.images.size()); ++i) {
            const StatisticsEntry& entry = (*statistics)[i];
            SequenceImage& image = info_.images[i];
            image.hasMedian = entry.hasMedian;
            image.median = entry.median;
            image.hasNoise = entry.hasNoise;
            image.noise = entry.noise;
        }
    }
    if (oldRegistration_) info_.registrationLayer = kOldRegistrationFormat;
}

}  // namespace

bool isSirilSequence(Reader& reader) {
    if (reader.size() < kMinSequenceSize) return false;
    std::string head(static_cast<std::size_t>(std::min(reader.size(), kRecognitionWindow)), '\0');
    return reader.read(0, head.data(), head.size()) && looksLikeSequence(head);
}

ReadStatus parseSequence(Reader& reader, SequenceInfo& info) {
    info = SequenceInfo{};
    const std::uint64_t size = reader.size();
    if (size == 0) return ReadStatus::NotRecognized;
    if (size > kMaxSequenceFile) return ReadStatus::TooLarge;
    try {
        std::string text(static_cast<std::size_t>(size), '\0');
        if (!reader.read(0, text.data(), size)) return ReadStatus::ReadFailed;
        if (!looksLikeSequence(text)) return ReadStatus::NotRecognized;
        SequenceParser parser(info);
        forEachLine(text, [&](std::string_view line, bool) {
            if (line.size() <= kMaxLineLength) parser.readLine(line);
            return true;
        });
        if (!parser.sawHeader()) {
            info = SequenceInfo{};
            return ReadStatus::Malformed;
        }
        parser.finish();
        return ReadStatus::Ok;
    } catch (const std::bad_alloc&) {
        info = SequenceInfo{};
        return ReadStatus::TooLarge;
    }
}

double medianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

std::uint32_t frameCount(const SequenceInfo& info) {
    return info.declaredFrames != 0 ? static_cast<std::uint32_t>(info.declaredFrames)
                                    : static_cast<std::uint32_t>(info.images.size());
}

bool isRegistered(const SequenceInfo& info) {
    return info.registrationLayer >= 0 &&
           std::any_of(info.images.begin(), info.images.end(),
                       [](const auto& image) { return image.registered; });
}

std::optional<double> medianFwhm(const SequenceInfo& info) {
    std::vector<double> values;
    for (const auto& image : info.images) {
        if (image.selected && image.registered && image.fwhm > 0.0) values.push_back(image.fwhm);
    }
    if (values.empty()) return std::nullopt;
    return medianOf(values);
}

const char* sequenceTypeName(const SequenceInfo& info) {
    switch (info.typeLetter) {
        case 'A':
            return "film";
        case 'F':
            return "FITS cube";
        case 'S':
            return "SER video";
        default:
            return "FITS files";
    }
}

}  // namespace cv
