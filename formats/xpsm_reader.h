#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/reader.h"

namespace cv {

struct XpsmTable {
    std::string id;
    std::uint32_t rowCount = 0;     // every row, saturating
    std::vector<std::string> rows;  // the first 64 rows as "id=value, id=value"
};

struct ProcessInstance {
    std::string className;
    std::string id;
    std::string description;
    std::int32_t parent = -1;  // index of the enclosing instance, -1 at top level
    std::vector<std::pair<std::string, std::string>> parameters;
    std::vector<XpsmTable> tables;
    std::vector<std::string> extras;  // one line per other child element
};

struct ProcessIcon {
    std::string id;
    std::string instance;  // id of its instance
};

// A PixInsight process-icon file as read.
struct XpsmDocument {
    std::string creator;                     // "PixInsight Core ..." when the file says so
    std::vector<ProcessInstance> instances;  // nested ones included, in file order
    std::vector<ProcessIcon> icons;
    bool partial = false;  // a limit was reached, or the XML broke after the root
};

// At least 8 bytes whose first element (in the first 4 KiB) is `xpsm`.
bool isXpsm(Reader& reader);

// Reads a whole file (at most 16 MiB); the document is empty on any failure.
[[nodiscard]] ReadStatus readXpsm(Reader& reader, XpsmDocument& document);

// "ImageIntegration, PixelMath (3), ..." within `maxLength` bytes.
std::string xpsmClassSummary(const XpsmDocument& document, std::size_t maxLength);

// The readable listing of icons, their processes and parameters; CR LF line ends.
std::string xpsmListing(const XpsmDocument& document);

}  // namespace cv
