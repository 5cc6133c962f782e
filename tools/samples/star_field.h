#pragma once

#include <cstdint>
#include <vector>

namespace cvsamples {

// A linear sky as a camera records it: a dim background with a gradient,
// read and shot noise, and Gaussian stars whose brightness follows a power
// law, so most are faint and a few saturate. Deterministic for a seed.
struct StarFieldOptions {
    std::uint32_t width = 640;
    std::uint32_t height = 480;
    std::uint32_t channels = 1;  // 1 mono, 3 colour planes
    std::uint64_t seed = 1;
    double background = 0.02;  // of full scale: a dark sky a little above the bias
    double gradient = 0.01;    // extra background across the frame (light pollution)
    double noise = 0.0012;     // standard deviation, of full scale
    double starsPerMegapixel = 120;
    double nebula = 0.0;  // peak of broad glowing clouds filling the field, of full scale
};

// Planes of width * height values in 0..1, channel 0 first.
std::vector<float> renderStarField(const StarFieldOptions& options);
// The same with the default sky for a size, plane count and seed.
std::vector<float> starField(std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                             std::uint64_t seed);

// One plane in which each pixel takes the channel its Bayer cell names
// ("RGGB", "GRBG", ...) from three colour planes.
std::vector<float> mosaicBayer(const std::vector<float>& planes, std::uint32_t width,
                               std::uint32_t height, const char* pattern);

// A small deterministic generator (splitmix64), so samples never depend on
// the standard library's distributions.
class SampleRandom {
public:
    explicit SampleRandom(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next();
    double uniform();   // [0, 1)
    double gaussian();  // mean 0, deviation 1 (approximate)

private:
    std::uint64_t state_;
};

}  // namespace cvsamples
