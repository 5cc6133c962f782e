#include "formats/project_reader.h"

#include <cstring>
#include <new>

namespace cv {

namespace {

constexpr std::uint64_t kMaxKeyValueText = 4 * 1024 * 1024;  // bytes
constexpr std::uint32_t kMaxEntries = 4096;
constexpr std::uint64_t kPrefixSize = 12;  // magic and text length

std::string_view trimKey(std::string_view key) {
    auto isKeySpace = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!key.empty() && isKeySpace(key.front())) key.remove_prefix(1);
    while (!key.empty() && isKeySpace(key.back())) key.remove_suffix(1);
    return key;
}

bool readLength(Reader& reader, std::uint64_t offset, std::uint64_t& value) {
    std::uint8_t bytes[4];
    if (readExact(reader, offset, bytes, sizeof bytes) != ReadStatus::Ok) return false;
    value = static_cast<std::uint64_t>(bytes[0]) | static_cast<std::uint64_t>(bytes[1]) << 8 |
            static_cast<std::uint64_t>(bytes[2]) << 16 | static_cast<std::uint64_t>(bytes[3]) << 24;
    return true;
}

// Moves `offset` past a length field and the bytes it counts.
bool skipSection(Reader& reader, std::uint64_t& offset) {
    std::uint64_t length = 0;
    if (!readLength(reader, offset, length)) return false;
    offset += 4;
    if (offset > reader.size() || length > reader.size() - offset) return false;
    offset += length;
    return true;
}

std::uint32_t chooseEntry(const std::string& text, std::uint32_t entries) {
    std::string id = lookupProjectKey(text, "role.source");
    if (id.empty()) id = lookupProjectKey(text, "role.starless");
    if (id.empty()) return 0;
    for (std::uint32_t i = 0; i < entries; ++i) {
        if (lookupProjectKey(text, "image." + std::to_string(i) + ".id") == id) return i;
    }
    return 0;
}

}  // namespace

bool isProject(Reader& reader) {
    char magic[8];
    return readExact(reader, 0, magic, sizeof magic) == ReadStatus::Ok && std::memcmp(magic, "VMPROJ01", 8) == 0;
}

std::string lookupProjectKey(std::string_view text, std::string_view key) {
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || equals == 0) continue;
        if (trimKey(line.substr(0, equals)) != key) continue;
        std::string_view value = line.substr(equals + 1);
        while (!value.empty() && value.back() == '\r') value.remove_suffix(1);
        return std::string(value);
    }
    return {};
}

ReadStatus locateProjectImage(Reader& reader, ProjectImageRef& ref) {
    if (!isProject(reader)) return ReadStatus::Malformed;
    std::uint64_t textLength = 0;
    if (!readLength(reader, 8, textLength)) return ReadStatus::Malformed;
    if (textLength > kMaxKeyValueText) return ReadStatus::TooLarge;
    if (reader.size() < kPrefixSize || textLength > reader.size() - kPrefixSize) return ReadStatus::Malformed;
    std::string text;
    try {
        text.assign(static_cast<std::size_t>(textLength), '\0');
    } catch (const std::bad_alloc&) {
        return ReadStatus::TooLarge;
    }
    if (readExact(reader, kPrefixSize, text.data(), textLength) != ReadStatus::Ok) return ReadStatus::ReadFailed;

    std::uint64_t offset = kPrefixSize + textLength;
    if (!skipSection(reader, offset) || !skipSection(reader, offset)) return ReadStatus::Malformed;
    std::uint64_t entries = 0;
    if (!readLength(reader, offset, entries)) return ReadStatus::Malformed;
    if (entries == 0 || entries > kMaxEntries) return ReadStatus::Malformed;
    offset += 4;

    const std::uint32_t chosen = chooseEntry(text, static_cast<std::uint32_t>(entries));
    for (std::uint32_t i = 0;; ++i) {
        if (i >= entries) return ReadStatus::Malformed;
        std::uint64_t size = 0;
        if (!readLength(reader, offset, size)) return ReadStatus::Malformed;
        if (offset + 4 > reader.size() || size > reader.size() - (offset + 4)) return ReadStatus::Malformed;
        if (i == chosen) {
            if (size == 0) return ReadStatus::Malformed;
            ref = {offset + 4, size, i, static_cast<std::uint32_t>(entries)};
            return ReadStatus::Ok;
        }
        offset += 4 + size;
    }
}

}  // namespace cv
