#include "samples/fits_samples.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "samples/fits_writer.h"
#include "samples/star_field.h"

namespace cvsamples {

namespace {

constexpr double kTwoTo63 = 9223372036854775808.0;

// The keywords a capture program writes beside a light frame.
FitsHeader& addObservation(FitsHeader& header, const char* object, const char* filter) {
    return header.text("OBJECT", object, "target")
        .text("IMAGETYP", "Light Frame", "type of image")
        .text("FILTER", filter, "filter in the light path")
        .real("EXPTIME", 300.0, "exposure time in seconds")
        .text("DATE-OBS", "2026-03-14T22:41:07.125", "UTC start of exposure")
        .text("INSTRUME", "ZWO ASI2600MM Pro", "camera")
        .text("TELESCOP", "Askar 107PHQ", "telescope")
        .real("FOCALLEN", 749.0, "focal length in mm")
        .real("XPIXSZ", 3.76, "pixel width in microns")
        .real("YPIXSZ", 3.76, "pixel height in microns")
        .integer("XBINNING", 1)
        .integer("YBINNING", 1)
        .real("CCD-TEMP", -10.0, "sensor temperature in C")
        .integer("GAIN", 100)
        .text("RA", "05 35 17.3", "right ascension of the centre")
        .text("DEC", "-05 23 28", "declination of the centre");
}

template <typename Out, typename Convert>
std::vector<Out> quantize(const std::vector<float>& values, Convert convert) {
    std::vector<Out> out;
    out.reserve(values.size());
    for (float value : values) out.push_back(convert(static_cast<double>(value)));
    return out;
}

std::vector<std::int16_t> unsigned16(const std::vector<float>& values) {
    return quantize<std::int16_t>(values, [](double v) {
        return static_cast<std::int16_t>(std::lround(v * 65535.0) - 32768);
    });
}

std::string image(FitsHeader header, const std::string& data) {
    return header.bytes() + padData(data);
}

std::string uint16Image(std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                        std::uint64_t seed) {
    std::vector<std::uint64_t> axes = {width, height};
    if (channels > 1) axes.push_back(channels);
    FitsHeader header = primaryImageHeader(16, axes);
    header.real("BZERO", 32768.0, "offset data range to that of unsigned short")
        .real("BSCALE", 1.0, "default scaling factor");
    addObservation(header, "M 42", "L");
    return image(header, bigEndianBytes(unsigned16(starField(width, height, channels, seed))));
}

// A 16-bit light frame of a sky as `options` shape it.
std::string uint16Sky(const StarFieldOptions& options, const char* object) {
    FitsHeader header = primaryImageHeader(16, {options.width, options.height});
    header.real("BZERO", 32768.0).real("BSCALE", 1.0);
    addObservation(header, object, "L");
    return image(header, bigEndianBytes(unsigned16(renderStarField(options))));
}

// The sky sits on a camera offset and strong light pollution, and its noise
// is wide: linear, though far from black.
std::string pedestalSky() {
    StarFieldOptions options;
    options.seed = 81;
    options.background = 0.08;
    options.gradient = 0.05;
    options.noise = 0.004;
    return uint16Sky(options, "M 101");
}

// A bright nebula fills the frame: a linear frame whose histogram is wide.
std::string nebulaFilledSky() {
    StarFieldOptions options;
    options.seed = 82;
    options.nebula = 0.06;
    return uint16Sky(options, "IC 1396");
}

std::string float32Image(std::uint32_t width, std::uint32_t height, std::uint64_t seed) {
    FitsHeader header = primaryImageHeader(-32, {width, height});
    addObservation(header, "NGC 7000", "Ha");
    return image(header, bigEndianBytes(starField(width, height, 1, seed)));
}

std::string bayerImage(std::uint32_t width, std::uint32_t height, std::uint64_t seed) {
    const auto colour = starField(width, height, 3, seed);
    FitsHeader header = primaryImageHeader(16, {width, height});
    header.real("BZERO", 32768.0).real("BSCALE", 1.0);
    addObservation(header, "M 31", "");
    header.text("BAYERPAT", "RGGB", "Bayer colour pattern")
        .integer("XBAYROFF", 0)
        .integer("YBAYROFF", 0)
        .text("ROWORDER", "TOP-DOWN");
    return image(header, bigEndianBytes(unsigned16(mosaicBayer(colour, width, height, "RGGB"))));
}

std::string bitpix8() {
    FitsHeader header = primaryImageHeader(8, {320, 240});
    addObservation(header, "M 13", "L");
    // 8-bit cameras run with high gain: a brighter floor and noise of a few ADU.
    StarFieldOptions options;
    options.width = 320;
    options.height = 240;
    options.seed = 8;
    options.background = 0.06;
    options.noise = 0.008;
    const auto values = quantize<std::uint8_t>(renderStarField(options), [](double v) {
        return static_cast<std::uint8_t>(std::lround(v * 255.0));
    });
    return image(header, bigEndianBytes(values));
}

// A 320 x 240 star field stored as signed integers T: (sky - pedestal) * gain,
// rounded, under `header`'s scaling cards.
template <typename T>
std::string signedStarField(FitsHeader header, std::uint64_t seed, double gain,
                            double pedestal = 0.0) {
    addObservation(header, "M 13", "L");
    const auto values = quantize<T>(starField(320, 240, 1, seed), [&](double v) {
        return static_cast<T>(std::llround((v - pedestal) * gain));
    });
    return image(header, bigEndianBytes(values));
}

std::string bitpix16Signed() {
    return signedStarField<std::int16_t>(primaryImageHeader(16, {320, 240}), 16, 32767.0);
}

std::string bitpix16Scaled() {
    FitsHeader header = primaryImageHeader(16, {320, 240});
    header.real("BZERO", 0.0).real("BSCALE", 2.0, "physical = 2 * stored");
    return signedStarField<std::int16_t>(header, 17, 32767.0);
}

// A dark-subtracted frame: the sky sits near zero, so its noise goes negative.
std::string bitpix16BiasSubtracted() {
    return signedStarField<std::int16_t>(primaryImageHeader(16, {320, 240}), 18, 32767.0, 0.024);
}

// Camera values in the hundreds to tens of thousands, scaled and offset.
std::string bitpix32Scaled() {
    FitsHeader header = primaryImageHeader(32, {320, 240});
    header.real("BZERO", 100.0).real("BSCALE", 2.0, "physical = 100 + 2 * stored");
    return signedStarField<std::int32_t>(header, 34, 16000.0);
}

// 16-bit camera values in a 64-bit integer array, as Python's astronomy
// library writes integer arrays by default (no BZERO).
std::string bitpix64Signed() {
    return signedStarField<std::int64_t>(primaryImageHeader(64, {320, 240}), 66, 65535.0);
}

std::string bitpix32() {
    FitsHeader header = primaryImageHeader(32, {320, 240});
    header.real("BZERO", 2147483648.0).real("BSCALE", 1.0);
    addObservation(header, "M 13", "L");
    const auto values = quantize<std::int32_t>(starField(320, 240, 1, 32), [](double v) {
        return static_cast<std::int32_t>(std::llround(v * 4294967295.0) - 2147483648LL);
    });
    return image(header, bigEndianBytes(values));
}

std::string bitpix64() {
    FitsHeader header = primaryImageHeader(64, {320, 240});
    header.value("BZERO", "9223372036854775808", "unsigned 64-bit convention").real("BSCALE", 1.0);
    addObservation(header, "M 13", "L");
    const auto values = quantize<std::int64_t>(starField(320, 240, 1, 64), [](double v) {
        const double stored = (v - 0.5) * 2.0 * kTwoTo63;
        return stored >= kTwoTo63 ? std::numeric_limits<std::int64_t>::max()
                                  : static_cast<std::int64_t>(stored);
    });
    return image(header, bigEndianBytes(values));
}

std::string bitpixMinus64() {
    FitsHeader header = primaryImageHeader(-64, {320, 240});
    addObservation(header, "M 13", "L");
    const auto values = quantize<double>(starField(320, 240, 1, 65), [](double v) { return v; });
    return image(header, bigEndianBytes(values));
}

// An empty primary holding the observation, the image in an extension that
// inherits it, as space-telescope archives write them.
std::string extensionImage() {
    FitsHeader primary = primaryImageHeader(16, {});
    primary.logical("EXTEND", true).integer("NEXTEND", 1);
    addObservation(primary, "NGC 1300", "F814W");
    FitsHeader extension;
    extension.text("XTENSION", "IMAGE", "image extension")
        .integer("BITPIX", -32)
        .integer("NAXIS", 2)
        .integer("NAXIS1", 400)
        .integer("NAXIS2", 300)
        .integer("PCOUNT", 0)
        .integer("GCOUNT", 1)
        .logical("INHERIT", true, "inherit the primary header")
        .text("EXTNAME", "SCI");
    return primary.bytes() + image(extension, bigEndianBytes(starField(400, 300, 1, 300)));
}

std::string imageAndTable() {
    constexpr std::uint64_t kRowBytes = 24;
    constexpr std::uint64_t kRows = 10;
    FitsHeader table;
    table.text("XTENSION", "BINTABLE", "binary table extension")
        .integer("BITPIX", 8)
        .integer("NAXIS", 2)
        .unsignedInteger("NAXIS1", kRowBytes)
        .unsignedInteger("NAXIS2", kRows)
        .integer("PCOUNT", 0)
        .integer("GCOUNT", 1)
        .integer("TFIELDS", 3)
        .text("TTYPE1", "X")
        .text("TFORM1", "1D")
        .text("TTYPE2", "Y")
        .text("TFORM2", "1D")
        .text("TTYPE3", "FLUX")
        .text("TFORM3", "1D");
    return uint16Image(400, 300, 1, 401) + image(table, std::string(kRowBytes * kRows, '\x01'));
}

std::string longHeader() {
    FitsHeader header = primaryImageHeader(16, {320, 240});
    header.real("BZERO", 32768.0).real("BSCALE", 1.0);
    addObservation(header, "IC 434", "Ha");
    for (int i = 0; i < 120; ++i) {
        header.raw("HISTORY step " + std::to_string(i) + " of a long calibration record");
    }
    header.text("COMMENT1", "a value card after many history cards");
    return image(header, bigEndianBytes(unsigned16(starField(320, 240, 1, 120))));
}

}  // namespace

std::vector<SampleFile> fitsSamples(bool large) {
    std::vector<SampleFile> samples = {
        {"bitpix8.fits", bitpix8},
        {"bitpix16.fits", [] { return uint16Image(320, 240, 1, 15); }},
        {"bitpix16-signed.fits", bitpix16Signed},
        {"bitpix16-bscale.fits", bitpix16Scaled},
        {"bitpix16-bias-subtracted.fits", bitpix16BiasSubtracted},
        {"bitpix32-bscale-bzero.fits", bitpix32Scaled},
        {"bitpix64-signed.fits", bitpix64Signed},
        {"bitpix32.fits", bitpix32},
        {"bitpix64.fits", bitpix64},
        {"bitpix-32.fits", [] { return float32Image(320, 240, 33); }},
        {"bitpix-64.fits", bitpixMinus64},
        {"rgb-cube.fits", [] { return uint16Image(480, 320, 3, 3); }},
        {"rggb-mosaic.fits", [] { return bayerImage(640, 480, 4); }},
        {"extension-image.fits", extensionImage},
        {"image-and-bintable.fits", imageAndTable},
        {"long-header.fits", longHeader},
        {"starfield-1024x768.fits", [] { return uint16Image(1024, 768, 1, 1024); }},
        {"starfield-1920x1280.fits", [] { return uint16Image(1920, 1280, 1, 1920); }},
        {"sky-on-pedestal.fits", pedestalSky},
        {"sky-filled-by-nebula.fits", nebulaFilledSky},
    };
    if (large) {
        samples.push_back(
            {"starfield-6000x4000-u16.fits", [] { return uint16Image(6000, 4000, 1, 6000); }});
        samples.push_back(
            {"starfield-6000x4000-f32.fits", [] { return float32Image(6000, 4000, 6001); }});
        samples.push_back({"rggb-6000x4000-u16.fits", [] { return bayerImage(6000, 4000, 6002); }});
        samples.push_back(
            {"rgb-cube-3000x2000-u16.fits", [] { return uint16Image(3000, 2000, 3, 3000); }});
    }
    return samples;
}

}  // namespace cvsamples
