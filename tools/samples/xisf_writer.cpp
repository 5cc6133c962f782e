#include "samples/xisf_writer.h"

#include <lz4.h>
#include <lz4hc.h>
#include <zlib.h>
#include <zstd.h>

#include <bit>
#include <cstring>
#include <stdexcept>

namespace cvsamples {

namespace {

constexpr std::size_t kBlockAlignment = 4096;  // bytes, as PixInsight aligns attachments

std::string shuffle(const std::string& bytes, std::size_t itemSize) {
    std::string out(bytes);
    const std::size_t items = bytes.size() / itemSize;
    for (std::size_t j = 0; j < itemSize; ++j) {
        for (std::size_t i = 0; i < items; ++i) out[j * items + i] = bytes[i * itemSize + j];
    }
    return out;
}

std::string compressZstdFrames(const std::string& bytes, int frames) {
    std::string out;
    const std::size_t step =
        (bytes.size() + static_cast<std::size_t>(frames) - 1) / static_cast<std::size_t>(frames);
    for (std::size_t start = 0; start < bytes.size(); start += step) {
        const std::size_t length = std::min(step, bytes.size() - start);
        std::string frame(ZSTD_compressBound(length), '\0');
        frame.resize(ZSTD_compress(frame.data(), frame.size(), bytes.data() + start, length, 3));
        out += frame;
    }
    return out;
}

std::string compress(const std::string& codec, const std::string& bytes, int zstdFrames) {
    if (codec == "zlib") {
        const auto size = static_cast<uLong>(bytes.size());  // samples stay far below 4 GiB
        uLongf length = compressBound(size);
        std::string out(length, '\0');
        compress2(reinterpret_cast<Bytef*>(out.data()), &length,
                  reinterpret_cast<const Bytef*>(bytes.data()), size, 6);
        out.resize(length);
        return out;
    }
    if (codec == "lz4" || codec == "lz4hc") {
        std::string out(static_cast<std::size_t>(LZ4_compressBound(static_cast<int>(bytes.size()))),
                        '\0');
        const int length =
            codec == "lz4"
                ? LZ4_compress_default(bytes.data(), out.data(), static_cast<int>(bytes.size()),
                                       static_cast<int>(out.size()))
                : LZ4_compress_HC(bytes.data(), out.data(), static_cast<int>(bytes.size()),
                                  static_cast<int>(out.size()), LZ4HC_CLEVEL_DEFAULT);
        out.resize(static_cast<std::size_t>(length));
        return out;
    }
    if (codec == "zstd") return compressZstdFrames(bytes, zstdFrames);
    throw std::invalid_argument("unknown codec " + codec);
}

// Appended piece by piece: GCC 12 at -O3 sees a false overlap in
// "literal" + std::string (its -Wrestrict).
std::string compressionValue(const XisfBlock& block) {
    std::string value = block.codec;
    if (block.shuffleItemSize > 1) value += "+sh";
    value += ':';
    value += std::to_string(block.samples.size());
    if (block.shuffleItemSize > 1) {
        value += ':';
        value += std::to_string(block.shuffleItemSize);
    }
    return value;
}

std::string placeholder(std::size_t index) {
    return "@POSITION" + std::to_string(index) + "@";
}

std::size_t roundUp(std::size_t value) {
    return (value + kBlockAlignment - 1) / kBlockAlignment * kBlockAlignment;
}

template <typename T>
std::string orderedBytes(const std::vector<T>& samples, bool bigEndian) {
    std::string out(samples.size() * sizeof(T), '\0');
    std::memcpy(out.data(), samples.data(), out.size());
    if (bigEndian == (std::endian::native == std::endian::little)) {
        for (std::size_t i = 0; i < out.size(); i += sizeof(T)) {
            for (std::size_t a = 0, b = sizeof(T) - 1; a < b; ++a, --b)
                std::swap(out[i + a], out[i + b]);
        }
    }
    return out;
}

}  // namespace

std::string encodeBlock(const XisfBlock& block) {
    if (block.codec.empty()) return block.samples;
    const std::string input =
        block.shuffleItemSize > 1 ? shuffle(block.samples, block.shuffleItemSize) : block.samples;
    return compress(block.codec, input, block.zstdFrames);
}

std::string encodeBase64(const std::string& bytes) {
    static const char* alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i])) << 16;
        if (i + 1 < bytes.size())
            group |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size()) group |= static_cast<std::uint8_t>(bytes[i + 2]);
        out += alphabet[(group >> 18) & 63];
        out += alphabet[(group >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(group >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? alphabet[group & 63] : '=';
    }
    return out;
}

std::string XisfWriter::blockElement(const char* element, const XisfBlock& block,
                                     const std::string& children) {
    std::string xml = std::string("<") + element + " geometry=\"" + std::to_string(block.width) +
                      ":" + std::to_string(block.height) + ":" + std::to_string(block.channels) +
                      "\" sampleFormat=\"" + block.sampleFormat + "\" colorSpace=\"" +
                      block.colorSpace + "\"";
    if (block.bigEndian) xml += " byteOrder=\"big\"";
    const std::string stored = encodeBlock(block);
    const bool compressed = !block.codec.empty();
    if (compressed &&
        !(block.placement == XisfBlock::Placement::Embedded && block.compressionOnData)) {
        xml += " compression=\"" + compressionValue(block) + "\"";
    }
    std::string inner = children;
    switch (block.placement) {
        case XisfBlock::Placement::Attachment:
            xml += " location=\"attachment:" + placeholder(attachments_.size()) + ":" +
                   std::to_string(stored.size()) + "\"";
            attachments_.push_back(stored);
            break;
        case XisfBlock::Placement::Embedded:
            xml += " location=\"embedded\"";
            inner = std::string("<Data encoding=\"base64\"") +
                    (compressed && block.compressionOnData
                         ? " compression=\"" + compressionValue(block) + "\""
                         : "") +
                    ">" + encodeBase64(stored) + "</Data>" + inner;
            break;
        case XisfBlock::Placement::Inline:
            xml += " location=\"inline:base64\"";
            inner = encodeBase64(stored) + inner;
            break;
    }
    return xml + (inner.empty() ? "/>" : ">" + inner + "</" + element + ">");
}

void XisfWriter::addImage(const XisfBlock& image, const std::string& children,
                          const XisfBlock* thumbnail) {
    std::string inner = children;
    if (thumbnail != nullptr) inner += blockElement("Thumbnail", *thumbnail, {});
    body_ += blockElement("Image", image, inner);
}

std::string XisfWriter::bytes() const {
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- written by Corvane's sample generator -->"
        "<xisf version=\"1.0\" xmlns=\"http://www.pixinsight.com/xisf\">" +
        body_ + trailer_ + "</xisf>";
    // Positions depend on the header length and the header on the positions'
    // digits: grow the data start until the header fits before it.
    std::size_t dataStart = kBlockAlignment;
    std::string header;
    for (;;) {
        header = xml;
        std::size_t position = dataStart;
        for (std::size_t i = 0; i < attachments_.size(); ++i) {
            const std::string token = placeholder(i);
            header.replace(header.find(token), token.size(), std::to_string(position));
            position += roundUp(attachments_[i].size());
        }
        if (16 + header.size() <= dataStart) break;
        dataStart = roundUp(16 + header.size());
    }
    std::string file = "XISF0100";
    const auto length = static_cast<std::uint32_t>(header.size());
    for (int shift = 0; shift < 32; shift += 8) file += static_cast<char>((length >> shift) & 0xFF);
    file += std::string(4, '\0') + header;
    file.resize(dataStart, '\0');
    for (const auto& attachment : attachments_) {
        file += attachment;
        file.resize(roundUp(file.size()), '\0');
    }
    return file;
}

std::string littleEndianBytes(const std::vector<std::uint16_t>& samples, bool bigEndian) {
    return orderedBytes(samples, bigEndian);
}

std::string littleEndianBytes(const std::vector<float>& samples, bool bigEndian) {
    return orderedBytes(samples, bigEndian);
}

std::string buildProject(const std::string& keyValueText, const std::vector<std::string>& entries) {
    auto le32 = [](std::size_t value) {
        std::string out;
        for (int shift = 0; shift < 32; shift += 8)
            out += static_cast<char>((value >> shift) & 0xFF);
        return out;
    };
    std::string file = "VMPROJ01" + le32(keyValueText.size()) + keyValueText;
    const std::string section1 = "history";
    file += le32(section1.size()) + section1 + le32(0);  // two sections the reader skips
    file += le32(entries.size());
    for (const auto& entry : entries) file += le32(entry.size()) + entry;
    return file;
}

}  // namespace cvsamples
