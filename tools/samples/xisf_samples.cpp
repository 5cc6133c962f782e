#include "samples/xisf_samples.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "samples/star_field.h"
#include "samples/xisf_writer.h"

namespace cvsamples {

namespace {

using Placement = XisfBlock::Placement;

template <typename T, typename Convert>
std::string encodeAs(const std::vector<float>& values, bool bigEndian, Convert convert) {
    std::string out(values.size() * sizeof(T), '\0');
    for (std::size_t i = 0; i < values.size(); ++i) {
        T sample = convert(static_cast<double>(values[i]));
        if (bigEndian) {
            auto bytes = std::bit_cast<std::array<char, sizeof(T)>>(sample);
            std::reverse(bytes.begin(), bytes.end());
            sample = std::bit_cast<T>(bytes);
        }
        std::memcpy(out.data() + i * sizeof(T), &sample, sizeof(T));
    }
    return out;
}

// Values in 0..1 stored so that the format's default normalisation gives them back.
std::string samplesAs(const std::string& format, const std::vector<float>& values, bool bigEndian) {
    constexpr double kTwo32 = 4294967296.0;
    constexpr double kTwo64 = 18446744073709551616.0;
    auto clampTo = [](double v, double top) { return std::min(std::max(v, 0.0), top); };
    if (format == "UInt8")
        return encodeAs<std::uint8_t>(values, bigEndian, [&](double v) {
            return static_cast<std::uint8_t>(std::lround(clampTo(v * 255, 255)));
        });
    if (format == "Int8")
        return encodeAs<std::int8_t>(values, bigEndian, [&](double v) {
            return static_cast<std::int8_t>(std::lround(clampTo(v * 255, 255)) - 128);
        });
    if (format == "UInt16")
        return encodeAs<std::uint16_t>(values, bigEndian, [&](double v) {
            return static_cast<std::uint16_t>(std::lround(clampTo(v * 65535, 65535)));
        });
    if (format == "Int16")
        return encodeAs<std::int16_t>(values, bigEndian, [&](double v) {
            return static_cast<std::int16_t>(std::lround(clampTo(v * 65535, 65535)) - 32768);
        });
    if (format == "UInt32")
        return encodeAs<std::uint32_t>(values, bigEndian, [&](double v) {
            return static_cast<std::uint32_t>(clampTo(v * kTwo32, kTwo32 - 1));
        });
    if (format == "Int32")
        return encodeAs<std::int32_t>(values, bigEndian, [&](double v) {
            return static_cast<std::int32_t>(clampTo(v * kTwo32, kTwo32 - 1) - 2147483648.0);
        });
    if (format == "UInt64")
        return encodeAs<std::uint64_t>(values, bigEndian, [&](double v) {
            return static_cast<std::uint64_t>(clampTo(v * kTwo64, 1.8446744073709550e19));
        });
    if (format == "Int64")
        return encodeAs<std::int64_t>(values, bigEndian, [&](double v) {
            return static_cast<std::int64_t>(clampTo(v * kTwo64, 1.8446744073709550e19) -
                                             9223372036854775808.0);
        });
    if (format == "Float64") return encodeAs<double>(values, bigEndian, [](double v) { return v; });
    return encodeAs<float>(values, bigEndian, [](double v) { return static_cast<float>(v); });
}

XisfBlock block(std::uint32_t width, std::uint32_t height, std::uint32_t channels,
                const std::string& format, std::uint64_t seed, bool bigEndian = false) {
    XisfBlock b;
    b.width = width;
    b.height = height;
    b.channels = channels;
    b.sampleFormat = format;
    b.colorSpace = channels == 3 ? "RGB" : "Gray";
    b.bigEndian = bigEndian;
    b.samples = samplesAs(format, starField(width, height, channels, seed), bigEndian);
    return b;
}

// The metadata a capture program and PixInsight write beside a light frame,
// with values in attributes, in text content and with entities.
const char* kObservation =
    "<FITSKeyword name=\"OBJECT\" value=\"'M 42'\" comment=\"target\"/>"
    "<FITSKeyword name=\"IMAGETYP\" value=\"'Light Frame'\" comment=\"type of image\"/>"
    "<FITSKeyword name=\"FILTER\" value=\"'Ha'\" comment=\"filter &amp; wheel slot 3\"/>"
    "<FITSKeyword name=\"EXPTIME\" value=\"300.\" comment=\"exposure time in seconds\"/>"
    "<FITSKeyword name=\"DATE-OBS\" value=\"'2026-03-14T22:41:07.125'\" comment=\"UTC start\"/>"
    "<FITSKeyword name=\"INSTRUME\" value=\"'ZWO ASI2600MM Pro'\" comment=\"camera\"/>"
    "<Property id=\"Observation:Object:Name\" type=\"String\">Orion &quot;Great&quot; "
    "Nebula</Property>"
    "<Property id=\"Instrument:ExposureTime\" type=\"Float32\" value=\"300\"/>"
    "<Property id=\"Observation:Location:Name\" type=\"String\"> Les Mar&#xE9;es &#x1F52D; "
    "</Property>";

std::string single(const XisfBlock& image, const std::string& children = kObservation,
                   const XisfBlock* thumbnail = nullptr) {
    XisfWriter writer;
    writer.addImage(image, children, thumbnail);
    writer.addTrailer(
        "<Metadata><Property id=\"XISF:CreatorApplication\" type=\"String\">Corvane "
        "samples</Property></Metadata>");
    return writer.bytes();
}

std::string withCodec(const std::string& codec, std::uint32_t itemSize, int frames = 1) {
    XisfBlock b = block(640, 480, 1, "UInt16", 40);
    b.codec = codec;
    b.shuffleItemSize = itemSize;
    b.zstdFrames = frames;
    return single(b);
}

std::string inHeader(Placement placement, const std::string& codec, bool compressionOnData) {
    XisfBlock b = block(64, 48, 1, "UInt16", 50);
    b.placement = placement;
    b.codec = codec;
    b.shuffleItemSize = codec.empty() ? 0 : 2;
    b.compressionOnData = compressionOnData;
    return single(b);
}

std::string withThumbnail(std::uint32_t thumbWidth, std::uint32_t thumbHeight,
                          const std::string& thumbFormat) {
    const XisfBlock image = block(1200, 900, 1, "UInt16", 60);
    const XisfBlock thumbnail = block(thumbWidth, thumbHeight, 1, thumbFormat, 61);
    return single(image, kObservation, &thumbnail);
}

std::string bayer() {
    XisfBlock b = block(640, 480, 1, "UInt16", 70);
    const auto colour = starField(640, 480, 3, 70);
    std::vector<float> mosaic = mosaicBayer(colour, 640, 480, "RGGB");
    b.samples = samplesAs("UInt16", mosaic, false);
    return single(
        b, std::string(kObservation) +
               "<ColorFilterArray pattern=\"RGGB\" width=\"2\" height=\"2\" name=\"Bayer\"/>");
}

std::string severalImages() {
    XisfWriter writer;
    writer.addImage(block(160, 120, 1, "UInt16", 80),
                    "<FITSKeyword name=\"OBJECT\" value=\"'preview'\" comment=\"\"/>");
    writer.addImage(block(640, 480, 1, "Float32", 81),
                    "<FITSKeyword name=\"OBJECT\" value=\"'main'\" comment=\"\"/>");
    writer.addImage(block(320, 240, 3, "UInt8", 82),
                    "<FITSKeyword name=\"OBJECT\" value=\"'colour'\" comment=\"\"/>");
    return writer.bytes();
}

std::string project(const std::string& keyValueText) {
    std::vector<std::string> entries;
    entries.push_back(single(block(320, 240, 1, "UInt16", 90),
                             "<FITSKeyword name=\"OBJECT\" value=\"'calibrated'\" comment=\"\"/>"));
    entries.push_back(single(block(480, 360, 3, "UInt16", 91),
                             "<FITSKeyword name=\"OBJECT\" value=\"'source'\" comment=\"\"/>"));
    const XisfBlock thumbnail = block(400, 300, 1, "UInt8", 93);
    entries.push_back(single(block(600, 450, 1, "UInt16", 92),
                             "<FITSKeyword name=\"OBJECT\" value=\"'starless'\" comment=\"\"/>",
                             &thumbnail));
    return buildProject(keyValueText, entries);
}

std::string largeFrame(const std::string& codec, std::uint32_t itemSize) {
    XisfBlock b = block(6000, 4000, 1, "UInt16", 6000);
    b.codec = codec;
    b.shuffleItemSize = itemSize;
    return single(b);
}

}  // namespace

std::vector<SampleFile> xisfSamples(bool large) {
    std::vector<SampleFile> samples;
    for (const char* format : {"UInt8", "UInt16", "UInt32", "UInt64", "Int8", "Int16", "Int32",
                               "Int64", "Float32", "Float64"}) {
        const std::string name = format;
        samples.push_back(
            {"format-" + name + ".xisf", [name] { return single(block(320, 240, 1, name, 30)); }});
    }
    samples.push_back({"uint32-16bit-values.xisf", [] {
                           XisfBlock b = block(320, 240, 1, "UInt32", 35);
                           b.samples = encodeAs<std::uint32_t>(
                               starField(320, 240, 1, 35), false, [](double v) {
                                   return static_cast<std::uint32_t>(std::lround(v * 65535.0));
                               });
                           return single(b);
                       }});
    samples.push_back({"format-UInt16-big-endian.xisf",
                       [] { return single(block(320, 240, 1, "UInt16", 31, true)); }});
    samples.push_back({"format-Float32-big-endian.xisf",
                       [] { return single(block(320, 240, 1, "Float32", 32, true)); }});
    samples.push_back({"rgb-uint16.xisf", [] { return single(block(480, 320, 3, "UInt16", 33)); }});
    for (const char* codec : {"zlib", "lz4", "lz4hc", "zstd"}) {
        const std::string name = codec;
        samples.push_back({"codec-" + name + ".xisf", [name] { return withCodec(name, 0); }});
        samples.push_back(
            {"codec-" + name + "-shuffled.xisf", [name] { return withCodec(name, 2); }});
    }
    samples.push_back({"codec-zstd-two-frames.xisf", [] { return withCodec("zstd", 2, 2); }});
    samples.push_back(
        {"embedded-uncompressed.xisf", [] { return inHeader(Placement::Embedded, "", false); }});
    samples.push_back(
        {"embedded-zlib-on-data.xisf", [] { return inHeader(Placement::Embedded, "zlib", true); }});
    samples.push_back(
        {"embedded-lz4.xisf", [] { return inHeader(Placement::Embedded, "lz4", false); }});
    samples.push_back(
        {"inline-base64.xisf", [] { return inHeader(Placement::Inline, "", false); }});
    samples.push_back(
        {"inline-zstd.xisf", [] { return inHeader(Placement::Inline, "zstd", false); }});
    samples.push_back({"thumbnail-400x300.xisf", [] { return withThumbnail(400, 300, "UInt8"); }});
    samples.push_back(
        {"thumbnail-refused-1025-wide.xisf", [] { return withThumbnail(1025, 300, "UInt8"); }});
    samples.push_back(
        {"thumbnail-refused-float32.xisf", [] { return withThumbnail(400, 300, "Float32"); }});
    samples.push_back({"bayer-rggb.xisf", bayer});
    samples.push_back({"several-images.xisf", severalImages});
    samples.push_back(
        {"project-source.vmproj", [] {
             return project(
                 "role.source=src-1\nimage.0.id=cal-0\nimage.1.id=src-1\nimage.2.id=sl-2\n");
         }});
    samples.push_back({"project-starless.vmproj", [] {
                           return project(
                               "title=Orion\r\nrole.starless=sl-2\r\nimage.0.id=cal-0\r\nimage.1."
                               "id=src-1\r\nimage.2.id=sl-2\r\n");
                       }});
    if (large) {
        samples.push_back(
            {"starfield-6000x4000-u16-zstd-sh.xisf", [] { return largeFrame("zstd", 2); }});
        samples.push_back(
            {"starfield-6000x4000-u16-lz4.xisf", [] { return largeFrame("lz4", 0); }});
    }
    return samples;
}

}  // namespace cvsamples
