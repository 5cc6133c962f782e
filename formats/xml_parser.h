#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace cv {

enum class XmlEvent : std::uint32_t {
    None = 0,
    StartElement = 1,
    EndElement = 2,
    Text = 3,
    EndOfDocument = 4,
    Error = 5,
};

constexpr int kMaxXmlDepth = 32;                // open elements
constexpr int kMaxXmlAttributes = 64;           // stored per start tag; more are parsed and dropped
constexpr std::size_t kMaxXmlNameLength = 256;  // bytes
constexpr std::size_t kMaxXmlAttributeValue = 65536;  // bytes

// A pull parser over one complete document in memory. It never allocates or
// copies: names, values and text are views into the caller's buffer, which
// must outlive it. It checks well-formedness only as far as it needs to walk
// the document, and does not match end tags to their start tags.
class XmlParser {
public:
    // An empty document is valid; a null pointer or end before begin makes the
    // first event an Error ("invalid buffer").
    void init(const char* begin, const char* end);
    XmlEvent next();

    std::string_view name() const { return name_; }
    std::string_view text() const { return text_; }
    int level() const { return level_; }
    int depth() const {
        return depth_;
    }  // open elements: text inside element at level L has depth L + 1
    bool isEmptyElement() const { return isEmptyElement_; }
    int attributeCount() const { return attributeCount_; }
    const char* errorMessage() const { return errorMessage_; }
    std::string_view attributeName(int index) const;
    std::string_view attributeValue(int index) const;

    // The raw value of the first stored attribute with exactly this name.
    std::optional<std::string_view> attribute(std::string_view name) const;
    // Decodes that value into `buffer` (always terminated when capacity > 0);
    // false when the attribute is absent.
    bool attributeDecoded(std::string_view name, char* buffer, std::size_t capacity,
                          std::size_t* outLength = nullptr) const;

private:
    XmlEvent fail(const char* message);
    XmlEvent readMarkup();
    XmlEvent readStartTag();
    XmlEvent readEndTag();
    XmlEvent closeElement();
    bool skipPast(std::string_view terminator);
    bool readName(std::string_view& out);
    bool readAttributes();
    void skipSpace();
    std::size_t left() const { return static_cast<std::size_t>(end_ - position_); }

    const char* position_ = nullptr;
    const char* end_ = nullptr;
    XmlEvent event_ = XmlEvent::None;
    std::string_view name_;
    std::string_view text_;
    std::array<std::string_view, kMaxXmlAttributes> attributeNames_{};
    std::array<std::string_view, kMaxXmlAttributes> attributeValues_{};
    int attributeCount_ = 0;
    int depth_ = 0;
    int level_ = 0;
    bool isEmptyElement_ = false;
    bool pendingEnd_ = false;
    const char* errorMessage_ = nullptr;
};

// Calls `visit(event)` for every event of the document from here on, until
// the end, an error, or `visit` returns false.
template <typename Visit>
void forEachEvent(XmlParser& parser, Visit visit) {
    for (XmlEvent event = parser.next();
         event != XmlEvent::Error && event != XmlEvent::EndOfDocument; event = parser.next()) {
        if (!visit(event)) return;
    }
}

// At a start tag: calls `visit(event)` for every event inside the element,
// up to its own end tag, an error or the end of the document; nothing for an
// empty-element tag. Visits may read on themselves (a child's own content).
template <typename Visit>
void forEachEventInside(XmlParser& parser, Visit visit) {
    if (parser.isEmptyElement()) return;
    const int level = parser.level();
    forEachEvent(parser, [&](XmlEvent event) {
        if (event == XmlEvent::EndElement && parser.level() == level) return false;
        visit(event);
        return true;
    });
}

// Decodes the five named entities and numeric character references (as
// UTF-8) into `buffer`, writing at most capacity - 1 bytes and a terminating
// zero; returns the bytes written. Anything unrecognised is copied as it is.
std::size_t decodeEntities(std::string_view text, char* buffer, std::size_t capacity);

}  // namespace cv
