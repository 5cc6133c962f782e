#include "samples/star_field.h"

#include <algorithm>
#include <cmath>

namespace cvsamples {

namespace {

constexpr double kMaxStarRadius = 4.0;  // in sigmas; the profile is negligible beyond
constexpr int kNebulaClouds = 14;

struct Cloud {
    double x;
    double y;
    double radius;
    double strength;
};

// Overlapping broad clouds, each up to 0.7 of `options.nebula`, some of them
// dark lanes.
std::vector<Cloud> placeClouds(const StarFieldOptions& options, SampleRandom& random) {
    std::vector<Cloud> clouds;
    const double size = std::max(options.width, options.height);
    for (int i = 0; i < kNebulaClouds; ++i) {
        Cloud cloud{};
        cloud.x = random.uniform() * options.width;
        cloud.y = random.uniform() * options.height;
        cloud.radius = size * (0.08 + 0.3 * random.uniform());
        cloud.strength = options.nebula * (i % 5 == 4 ? -0.5 : 0.3 + 0.4 * random.uniform());
        clouds.push_back(cloud);
    }
    return clouds;
}

double nebulaAt(const std::vector<Cloud>& clouds, double x, double y) {
    double glow = 0.0;
    for (const Cloud& cloud : clouds) {
        const double dx = x - cloud.x;
        const double dy = y - cloud.y;
        glow +=
            cloud.strength * std::exp(-(dx * dx + dy * dy) / (2.0 * cloud.radius * cloud.radius));
    }
    return std::max(glow, 0.0);
}

struct Star {
    double x;
    double y;
    double sigma;
    double peak;
    double color[3];
};

std::vector<Star> placeStars(const StarFieldOptions& options, SampleRandom& random) {
    const double megapixels = static_cast<double>(options.width) * options.height / 1e6;
    const auto count = static_cast<std::size_t>(options.starsPerMegapixel * megapixels) + 5;
    std::vector<Star> stars;
    stars.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        Star star{};
        star.x = random.uniform() * options.width;
        star.y = random.uniform() * options.height;
        star.sigma = 0.9 + random.uniform() * 1.4;
        // Power law: many faint stars, a few bright enough to saturate.
        star.peak = 0.02 * std::pow(1.0 - random.uniform(), -1.6);
        const double warmth = random.uniform() - 0.5;  // blue to red
        star.color[0] = 1.0 + 0.5 * warmth;
        star.color[1] = 1.0;
        star.color[2] = 1.0 - 0.5 * warmth;
        stars.push_back(star);
    }
    return stars;
}

void drawStar(const Star& star, const StarFieldOptions& options, std::vector<float>& planes) {
    const double reach = kMaxStarRadius * star.sigma;
    const int x0 = std::max(0, static_cast<int>(star.x - reach));
    const int x1 = std::min(static_cast<int>(options.width) - 1, static_cast<int>(star.x + reach));
    const int y0 = std::max(0, static_cast<int>(star.y - reach));
    const int y1 = std::min(static_cast<int>(options.height) - 1, static_cast<int>(star.y + reach));
    const double twoSigmaSquared = 2.0 * star.sigma * star.sigma;
    const std::size_t planeSize = static_cast<std::size_t>(options.width) * options.height;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const double dx = x + 0.5 - star.x;
            const double dy = y + 0.5 - star.y;
            const double value = star.peak * std::exp(-(dx * dx + dy * dy) / twoSigmaSquared);
            const std::size_t index =
                static_cast<std::size_t>(y) * options.width + static_cast<std::size_t>(x);
            for (std::uint32_t c = 0; c < options.channels; ++c) {
                const double gain = options.channels == 1 ? 1.0 : star.color[c % 3];
                planes[c * planeSize + index] += static_cast<float>(value * gain);
            }
        }
    }
}

}  // namespace

std::uint64_t SampleRandom::next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

double SampleRandom::uniform() {
    return static_cast<double>(next() >> 11) * 0x1.0p-53;
}

double SampleRandom::gaussian() {
    // Sum of four uniforms: cheap, smooth enough for sensor noise.
    const double sum = uniform() + uniform() + uniform() + uniform();
    return (sum - 2.0) * std::sqrt(3.0);
}

std::vector<float> renderStarField(const StarFieldOptions& options) {
    SampleRandom random(options.seed);
    const std::size_t planeSize = static_cast<std::size_t>(options.width) * options.height;
    std::vector<float> planes(planeSize * options.channels);
    const std::vector<Cloud> clouds =
        options.nebula > 0.0 ? placeClouds(options, random) : std::vector<Cloud>{};
    for (std::uint32_t c = 0; c < options.channels; ++c) {
        // Colour channels differ a little in sky brightness, as real skies do.
        const double tint = options.channels == 1 ? 1.0 : 0.85 + 0.15 * c;
        for (std::uint32_t y = 0; y < options.height; ++y) {
            for (std::uint32_t x = 0; x < options.width; ++x) {
                const double across = (static_cast<double>(x) / options.width +
                                       static_cast<double>(y) / options.height) /
                                      2.0;
                const double glow = clouds.empty() ? 0.0 : nebulaAt(clouds, x, y);
                const double sky = (options.background + options.gradient * across + glow) * tint;
                planes[c * planeSize + static_cast<std::size_t>(y) * options.width + x] =
                    static_cast<float>(sky + options.noise * random.gaussian());
            }
        }
    }
    for (const Star& star : placeStars(options, random)) drawStar(star, options, planes);
    for (float& value : planes) value = std::clamp(value, 0.0f, 1.0f);
    return planes;
}

std::vector<float> starField(std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                             std::uint64_t seed) {
    StarFieldOptions options;
    options.width = width;
    options.height = height;
    options.channels = channels;
    options.seed = seed;
    return renderStarField(options);
}

std::vector<float> mosaicBayer(const std::vector<float>& planes, std::uint32_t width,
                               std::uint32_t height, const char* pattern) {
    const std::size_t planeSize = static_cast<std::size_t>(width) * height;
    std::vector<float> mosaic(planeSize);
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const char letter = pattern[(y % 2) * 2 + (x % 2)];
            const std::size_t channel = letter == 'R' ? 0 : letter == 'G' ? 1 : 2;
            const std::size_t index = static_cast<std::size_t>(y) * width + x;
            mosaic[index] = planes[channel * planeSize + index];
        }
    }
    return mosaic;
}

}  // namespace cvsamples
