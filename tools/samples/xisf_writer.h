#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cvsamples {

// One data block of an XISF image or thumbnail, as a writer stores it.
struct XisfBlock {
    enum class Placement { Attachment, Embedded, Inline };

    std::string samples;  // planar samples, already in the block's byte order
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint32_t channels = 1;
    std::string sampleFormat = "UInt16";
    std::string colorSpace = "Gray";
    bool bigEndian = false;
    std::string codec;                  // "", "zlib", "lz4", "lz4hc" or "zstd"
    std::uint32_t shuffleItemSize = 0;  // 0: not shuffled
    int zstdFrames = 1;                 // zstd only: the block split into this many frames
    Placement placement = Placement::Attachment;
    bool compressionOnData =
        false;  // embedded: `compression` on the Data child, as PixInsight writes it
};

// Builds an XISF file: the XML header, then attachments aligned to 4096 bytes.
class XisfWriter {
public:
    // `children` is extra XML inside the Image element (FITSKeyword,
    // Property, ColorFilterArray, ...); a thumbnail block becomes a Thumbnail child.
    void addImage(const XisfBlock& image, const std::string& children = {},
                  const XisfBlock* thumbnail = nullptr);
    // XML after the images, inside the root element (Metadata, say).
    void addTrailer(const std::string& xml) { trailer_ += xml; }
    std::string bytes() const;

private:
    std::string blockElement(const char* element, const XisfBlock& block,
                             const std::string& children);

    std::string body_;
    std::string trailer_;
    std::vector<std::string> attachments_;
};

// The bytes a codec stores for `raw` (shuffled first when asked).
std::string encodeBlock(const XisfBlock& block);
std::string encodeBase64(const std::string& bytes);

// Samples in little- or big-endian order.
std::string littleEndianBytes(const std::vector<std::uint16_t>& samples, bool bigEndian = false);
std::string littleEndianBytes(const std::vector<float>& samples, bool bigEndian = false);

// A Vellumar project: the key-value text and complete XISF files as entries.
std::string buildProject(const std::string& keyValueText, const std::vector<std::string>& entries);

}  // namespace cvsamples
