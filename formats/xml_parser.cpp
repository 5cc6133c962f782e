#include "formats/xml_parser.h"

#include <cstring>

#include "core/text_utils.h"

namespace cv {

namespace {

constexpr std::size_t kMaxReferenceBody = 10;  // bytes between '&' and ';'
constexpr std::uint64_t kMaxCodePoint = 0x10FFFF;
constexpr std::uint64_t kReplacementCharacter = 0xFFFD;

bool isMarkupSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isNameStart(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || u >= 128;
}

bool isNameByte(char c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

bool isAllWhitespace(std::string_view text) {
    return trim(text).empty();
}

std::optional<std::uint64_t> parseHex(std::string_view digits) {
    if (digits.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0) return std::nullopt;
        if (value > kMaxCodePoint)
            return std::nullopt;  // already out of range; stop before overflowing
        value = value * 16 + static_cast<std::uint64_t>(digit);
    }
    return value;
}

// XML's Char production: what a character reference may stand for.
bool isXmlCharacter(std::uint64_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= kMaxCodePoint);
}

// The character a numeric reference stands for. One that names no XML
// character (NUL, a control, a lone surrogate, past U+10FFFF, no digits)
// stands for U+FFFD, so it can neither cut the text nor show as markup.
// Nothing when the body is not a numeric reference.
std::optional<std::uint64_t> codePointOf(std::string_view body) {
    if (body.empty() || body[0] != '#') return std::nullopt;
    const bool hex = body.size() > 1 && (body[1] == 'x' || body[1] == 'X');
    const auto value = hex ? parseHex(body.substr(2)) : parseUnsigned64(body.substr(1));
    return value && isXmlCharacter(*value) ? *value : kReplacementCharacter;
}

std::size_t encodeUtf8(std::uint64_t codePoint, char* out) {
    auto byte = [](std::uint64_t v) { return static_cast<char>(static_cast<unsigned char>(v)); };
    if (codePoint < 0x80) {
        out[0] = byte(codePoint);
        return 1;
    }
    if (codePoint < 0x800) {
        out[0] = byte(0xC0 | (codePoint >> 6));
        out[1] = byte(0x80 | (codePoint & 0x3F));
        return 2;
    }
    if (codePoint < 0x10000) {
        out[0] = byte(0xE0 | (codePoint >> 12));
        out[1] = byte(0x80 | ((codePoint >> 6) & 0x3F));
        out[2] = byte(0x80 | (codePoint & 0x3F));
        return 3;
    }
    out[0] = byte(0xF0 | (codePoint >> 18));
    out[1] = byte(0x80 | ((codePoint >> 12) & 0x3F));
    out[2] = byte(0x80 | ((codePoint >> 6) & 0x3F));
    out[3] = byte(0x80 | (codePoint & 0x3F));
    return 4;
}

// The character a reference body stands for, as UTF-8 in `out`; 0 when it is
// not a reference this decoder knows.
std::size_t decodeReference(std::string_view body, char* out) {
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& [entity, character] : kNamed) {
        if (body == entity) {
            out[0] = character;
            return 1;
        }
    }
    const auto codePoint = codePointOf(body);
    return codePoint ? encodeUtf8(*codePoint, out) : 0;
}

}  // namespace

void XmlParser::init(const char* begin, const char* end) {
    *this = XmlParser{};
    if (begin == nullptr || end == nullptr || end < begin) {
        event_ = XmlEvent::Error;
        errorMessage_ = "invalid buffer";
        return;
    }
    position_ = begin;
    end_ = end;
}

XmlEvent XmlParser::fail(const char* message) {
    if (errorMessage_ == nullptr) errorMessage_ = message;
    event_ = XmlEvent::Error;
    return event_;
}

std::string_view XmlParser::attributeName(int index) const {
    return index >= 0 && index < attributeCount_ ? attributeNames_[static_cast<std::size_t>(index)]
                                                 : std::string_view{};
}

std::string_view XmlParser::attributeValue(int index) const {
    return index >= 0 && index < attributeCount_ ? attributeValues_[static_cast<std::size_t>(index)]
                                                 : std::string_view{};
}

std::optional<std::string_view> XmlParser::attribute(std::string_view name) const {
    for (int i = 0; i < attributeCount_; ++i) {
        if (attributeNames_[static_cast<std::size_t>(i)] == name)
            return attributeValues_[static_cast<std::size_t>(i)];
    }
    return std::nullopt;
}

bool XmlParser::attributeDecoded(std::string_view name, char* buffer, std::size_t capacity,
                                 std::size_t* outLength) const {
    if (buffer != nullptr && capacity != 0) buffer[0] = '\0';
    if (outLength != nullptr) *outLength = 0;
    const auto value = attribute(name);
    if (!value) return false;
    const std::size_t length = decodeEntities(*value, buffer, capacity);
    if (outLength != nullptr) *outLength = length;
    return true;
}

void XmlParser::skipSpace() {
    while (position_ < end_ && isMarkupSpace(*position_)) ++position_;
}

bool XmlParser::readName(std::string_view& out) {
    if (position_ >= end_ || !isNameStart(*position_)) return false;
    const char* start = position_;
    while (position_ < end_ && isNameByte(*position_)) ++position_;
    const auto length = static_cast<std::size_t>(position_ - start);
    if (length > kMaxXmlNameLength) return false;
    out = std::string_view(start, length);
    return true;
}

bool XmlParser::skipPast(std::string_view terminator) {
    const std::string_view rest(position_, left());
    const std::size_t found = rest.find(terminator);
    if (found == std::string_view::npos) {
        position_ = end_;
        return false;
    }
    position_ += found + terminator.size();
    return true;
}

bool XmlParser::readAttributes() {
    attributeCount_ = 0;
    for (;;) {
        skipSpace();
        if (position_ >= end_) return false;
        if (*position_ == '>' || *position_ == '/') return true;
        std::string_view attributeName;
        if (!readName(attributeName)) return false;
        skipSpace();
        if (position_ >= end_ || *position_ != '=') return false;
        ++position_;
        skipSpace();
        if (position_ >= end_ || (*position_ != '"' && *position_ != '\'')) return false;
        const char quote = *position_++;
        const std::string_view rest(position_, left());
        const std::size_t close = rest.find(quote);
        if (close == std::string_view::npos || close > kMaxXmlAttributeValue) return false;
        if (attributeCount_ < kMaxXmlAttributes) {
            attributeNames_[static_cast<std::size_t>(attributeCount_)] = attributeName;
            attributeValues_[static_cast<std::size_t>(attributeCount_)] = rest.substr(0, close);
            ++attributeCount_;
        }
        position_ += close + 1;
    }
}

XmlEvent XmlParser::readEndTag() {
    position_ += 2;
    std::string_view endName;
    if (!readName(endName)) return fail("bad end tag name");
    skipSpace();
    if (position_ >= end_ || *position_ != '>') return fail("unterminated end tag");
    ++position_;
    if (depth_ == 0) return fail("end tag without matching start tag");
    name_ = endName;
    return closeElement();
}

// An end tag, or the implied end of an empty-element tag.
XmlEvent XmlParser::closeElement() {
    --depth_;
    level_ = depth_;
    attributeCount_ = 0;
    isEmptyElement_ = false;
    pendingEnd_ = false;
    event_ = XmlEvent::EndElement;
    return event_;
}

XmlEvent XmlParser::readStartTag() {
    ++position_;
    std::string_view elementName;
    if (!readName(elementName)) return fail("bad element name");
    if (!readAttributes())
        return fail(position_ >= end_ ? "unterminated start tag" : "bad attribute list");
    if (position_ >= end_) return fail("unterminated start tag");
    bool empty = false;
    if (*position_ == '/') {
        if (left() < 2 || position_[1] != '>') return fail("unterminated empty element");
        empty = true;
        position_ += 2;
    } else if (*position_ == '>') {
        ++position_;
    } else {
        return fail("unterminated start tag");
    }
    if (depth_ >= kMaxXmlDepth) return fail("element nesting too deep");
    name_ = elementName;
    level_ = depth_;
    ++depth_;
    isEmptyElement_ = empty;
    pendingEnd_ = empty;
    event_ = XmlEvent::StartElement;
    return event_;
}

// Returns the event the markup at '<' yields, or None when it was skipped.
XmlEvent XmlParser::readMarkup() {
    if (left() < 2) return fail("truncated markup");
    const std::string_view rest(position_, left());
    if (rest[1] == '?') {
        position_ += 2;
        return skipPast("?>") ? XmlEvent::None : fail("unterminated processing instruction");
    }
    if (rest.starts_with("<!--")) {
        position_ += 4;
        return skipPast("-->") ? XmlEvent::None : fail("unterminated comment");
    }
    if (rest.starts_with("<![CDATA[")) {
        position_ += 9;
        const char* start = position_;
        if (!skipPast("]]>")) return fail("unterminated CDATA");
        text_ = std::string_view(start, static_cast<std::size_t>(position_ - 3 - start));
        event_ = XmlEvent::Text;
        return event_;
    }
    if (rest[1] == '!') {
        int nesting = 0;
        for (std::size_t i = 2; i < rest.size(); ++i) {
            if (rest[i] == '[')
                ++nesting;
            else if (rest[i] == ']' && nesting > 0)
                --nesting;
            else if (rest[i] == '>' && nesting == 0) {
                position_ += i + 1;
                return XmlEvent::None;
            }
        }
        position_ = end_;
        return fail("unterminated declaration");
    }
    if (rest[1] == '/') return readEndTag();
    return readStartTag();
}

XmlEvent XmlParser::next() {
    if (event_ == XmlEvent::EndOfDocument || event_ == XmlEvent::Error) return event_;
    if (pendingEnd_) return closeElement();  // the name stays the element's
    for (;;) {
        if (position_ >= end_) {
            if (depth_ == 0) {
                event_ = XmlEvent::EndOfDocument;
                return event_;
            }
            return fail("document ends with unclosed elements");
        }
        if (*position_ == '<') {
            const XmlEvent event = readMarkup();
            if (event != XmlEvent::None) return event;
            continue;
        }
        const char* start = position_;
        const void* lessThan = std::memchr(position_, '<', left());
        position_ = lessThan != nullptr ? static_cast<const char*>(lessThan) : end_;
        const std::string_view run(start, static_cast<std::size_t>(position_ - start));
        if (!isAllWhitespace(run)) {
            text_ = run;
            event_ = XmlEvent::Text;
            return event_;
        }
    }
}

std::size_t decodeEntities(std::string_view text, char* buffer, std::size_t capacity) {
    if (buffer == nullptr || capacity == 0) return 0;
    const std::size_t room = capacity - 1;
    std::size_t written = 0;
    std::size_t i = 0;
    while (i < text.size() && written < room) {
        if (text[i] != '&') {
            buffer[written++] = text[i++];
            continue;
        }
        const std::size_t semicolon = text.substr(i + 1, kMaxReferenceBody + 1).find(';');
        if (semicolon == std::string_view::npos) {
            buffer[written++] = text[i++];
            continue;
        }
        const std::string_view body = text.substr(i + 1, semicolon);
        char decoded[4];
        const std::size_t length = decodeReference(body, decoded);
        if (length == 0) {
            // Unrecognised: copied as written, '&' and ';' included, cut to the room left.
            const std::size_t whole = semicolon + 2;
            const std::size_t copied = whole < room - written ? whole : room - written;
            std::memcpy(buffer + written, text.data() + i, copied);
            written += copied;
            i += whole;
            continue;
        }
        if (length > room - written) break;
        std::memcpy(buffer + written, decoded, length);
        written += length;
        i += semicolon + 2;
    }
    buffer[written] = '\0';
    return written;
}

}  // namespace cv
