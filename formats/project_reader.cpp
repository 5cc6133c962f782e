#include "formats/project_reader.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include "core/byte_order.h"
#include "core/text_utils.h"

namespace cv {

namespace {

constexpr std::uint64_t kMaxKeyValueText = 4 * 1024 * 1024;  // bytes
constexpr std::uint64_t kPrefixSize = 12;                    // magic and text length
constexpr std::size_t kMaxIndexDigits = 4;  // entry numbers stay below kMaxProjectEntries
static_assert(kMaxProjectEntries <= 10000, "entry numbers must fit in kMaxIndexDigits digits");

std::string_view trimKey(std::string_view key) {
    auto isKeySpace = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!key.empty() && isKeySpace(key.front())) key.remove_prefix(1);
    while (!key.empty() && isKeySpace(key.back())) key.remove_suffix(1);
    return key;
}

// Calls `visit(key, value)` for each "key=value" line in order until it
// returns false; lines without '=' or without a key are passed over.
template <typename Visit>
void forEachProjectEntry(std::string_view text, Visit visit) {
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text = newline == std::string_view::npos ? std::string_view{} : text.substr(newline + 1);
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || equals == 0) continue;
        std::string_view value = line.substr(equals + 1);
        while (!value.empty() && value.back() == '\r') value.remove_suffix(1);
        if (!visit(trimKey(line.substr(0, equals)), value)) return;
    }
}

bool readLength(Reader& reader, std::uint64_t offset, std::uint64_t& value) {
    std::uint8_t bytes[4];
    if (readExact(reader, offset, bytes, sizeof bytes) != ReadStatus::Ok) return false;
    value = littleEndian32(bytes);
    return true;
}

// Moves `offset` past a length field and the bytes it counts.
bool skipSection(Reader& reader, std::uint64_t& offset) {
    std::uint64_t length = 0;
    if (!readLength(reader, offset, length)) return false;
    offset += 4;
    if (!rangeWithin(offset, length, reader.size())) return false;
    offset += length;
    return true;
}

bool isDecimalIndex(std::string_view digits) {
    if (digits.empty() || digits.size() > kMaxIndexDigits) return false;
    if (digits.size() > 1 && digits.front() == '0')
        return false;  // "%u" never writes a leading zero
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Entry number of an "image.%u.id" key, if the key is one.
std::optional<std::uint32_t> imageIdIndex(std::string_view key) {
    constexpr std::string_view kPrefix = "image.";
    constexpr std::string_view kSuffix = ".id";
    if (key.size() <= kPrefix.size() + kSuffix.size() || !key.starts_with(kPrefix) ||
        !key.ends_with(kSuffix)) {
        return std::nullopt;
    }
    const std::string_view digits =
        key.substr(kPrefix.size(), key.size() - kPrefix.size() - kSuffix.size());
    if (!isDecimalIndex(digits)) return std::nullopt;
    return parseUnsigned32(digits);
}

// The first of each key wins, as a lookup by key would find it.
void keepFirst(std::optional<std::string_view>& slot, std::string_view value) {
    if (!slot) slot = value;
}

std::uint32_t chooseEntry(const ProjectRoles& roles) {
    std::string_view id = roles.source.value_or(std::string_view{});
    if (id.empty()) id = roles.starless.value_or(std::string_view{});
    if (id.empty()) return 0;
    for (std::size_t i = 0; i < roles.imageIds.size(); ++i) {
        if (roles.imageIds[i] == id) return static_cast<std::uint32_t>(i);
    }
    return 0;
}

}  // namespace

bool isProject(Reader& reader) {
    char magic[8];
    return readExact(reader, 0, magic, sizeof magic) == ReadStatus::Ok &&
           std::memcmp(magic, "VMPROJ01", 8) == 0;
}

std::string lookupProjectKey(std::string_view text, std::string_view key) {
    std::optional<std::string_view> found;
    forEachProjectEntry(text, [&](std::string_view lineKey, std::string_view value) {
        if (lineKey != key) return true;
        found = value;
        return false;
    });
    return std::string(found.value_or(std::string_view{}));
}

ProjectRoles readProjectRoles(std::string_view text, std::uint32_t entries) {
    ProjectRoles roles;
    roles.imageIds.resize(std::min(entries, kMaxProjectEntries));
    forEachProjectEntry(text, [&](std::string_view key, std::string_view value) {
        ++roles.linesVisited;
        if (key == "role.source")
            keepFirst(roles.source, value);
        else if (key == "role.starless")
            keepFirst(roles.starless, value);
        else if (const auto index = imageIdIndex(key); index && *index < roles.imageIds.size()) {
            keepFirst(roles.imageIds[*index], value);
        }
        return true;
    });
    return roles;
}

ReadStatus locateProjectImage(Reader& reader, ProjectImageRef& ref) {
    if (!isProject(reader)) return ReadStatus::Malformed;
    std::uint64_t textLength = 0;
    if (!readLength(reader, 8, textLength)) return ReadStatus::Malformed;
    if (textLength > kMaxKeyValueText) return ReadStatus::TooLarge;
    if (reader.size() < kPrefixSize || textLength > reader.size() - kPrefixSize)
        return ReadStatus::Malformed;
    std::string text;
    try {
        text.assign(static_cast<std::size_t>(textLength), '\0');
    } catch (const std::bad_alloc&) {
        return ReadStatus::TooLarge;
    }
    if (readExact(reader, kPrefixSize, text.data(), textLength) != ReadStatus::Ok)
        return ReadStatus::ReadFailed;

    std::uint64_t offset = kPrefixSize + textLength;
    if (!skipSection(reader, offset) || !skipSection(reader, offset)) return ReadStatus::Malformed;
    std::uint64_t entries = 0;
    if (!readLength(reader, offset, entries)) return ReadStatus::Malformed;
    if (entries == 0 || entries > kMaxProjectEntries) return ReadStatus::Malformed;
    offset += 4;

    std::uint32_t chosen = 0;
    try {
        chosen = chooseEntry(readProjectRoles(text, static_cast<std::uint32_t>(entries)));
    } catch (const std::bad_alloc&) {
        return ReadStatus::TooLarge;
    }
    for (std::uint32_t i = 0;; ++i) {
        if (i >= entries) return ReadStatus::Malformed;
        std::uint64_t size = 0;
        if (!readLength(reader, offset, size)) return ReadStatus::Malformed;
        if (offset + 4 > reader.size() || size > reader.size() - (offset + 4))
            return ReadStatus::Malformed;
        if (i == chosen) {
            if (size == 0) return ReadStatus::Malformed;
            ref = {offset + 4, size, i, static_cast<std::uint32_t>(entries)};
            return ReadStatus::Ok;
        }
        offset += 4 + size;
    }
}

}  // namespace cv
