#include "formats/xpsm_reader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <new>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "core/text_utils.h"
#include "formats/xml_parser.h"

namespace cv {

namespace {

constexpr std::uint64_t kMinXpsmSize = 8;           // bytes
constexpr std::uint64_t kRecognitionWindow = 4096;  // bytes read to recognise a file
constexpr std::uint64_t kMaxXpsmFile = 16 * 1024 * 1024;
constexpr std::size_t kMaxInstances = 2048;
constexpr std::size_t kMaxIcons = 2048;
constexpr std::size_t kMaxParameters = 1024;            // per instance
constexpr std::size_t kMaxExtras = 256;                 // per instance
constexpr std::size_t kMaxRowTexts = 64;                // per table
constexpr std::uint64_t kTextBudget = 2 * 1024 * 1024;  // bytes of stored text per document
// Parameters, tables, extras and row texts per document: empty ones cost no
// text, so without a count a file of "<table/>" would store one per 8 bytes.
constexpr std::size_t kMaxStoredRecords = 65536;
constexpr std::size_t kAttributeCapacity = 65537;  // decoded attribute values, with the zero
constexpr std::size_t kExtraValueCapacity = 65;    // decoded values in an extra's summary line
constexpr std::size_t kCreatorWindow = 4096;
constexpr std::size_t kMaxCreatorLength = 64;
constexpr std::size_t kMaxListingBytes = 1024 * 1024;
constexpr std::size_t kMaxValueBytes = 4000;  // per listed value
constexpr int kMaxNestingShown = 32;
constexpr std::string_view kCreatorMark = "PixInsight Core ";
constexpr std::string_view kTruncationLine =
    "The file is larger than can be shown in full; the listing stops here.";

enum class FrameKind {
    Root,
    Instance,
    Parameter,
    Description,
    Table,
    Row,
    Cell,
    Extra,
    Icon,
    Ignored
};

struct Frame {
    FrameKind kind;
    std::int32_t instance = -1;  // index into instances
    std::size_t item = 0;        // parameter, table or extra index
};

class XpsmBuilder {
public:
    XpsmBuilder(XmlParser& parser, XpsmDocument& document) : parser_(parser), document_(document) {}
    ReadStatus run();

private:
    bool charge(std::size_t length);
    bool mayStoreRecord();
    std::string decoded(std::string_view name);
    void start();
    void startInstance(std::int32_t parent);
    void startInInstance(std::int32_t instance);
    void ignoreAtLimit();
    void text(std::string_view raw);
    void end();
    void push(FrameKind kind, std::int32_t instance = -1, std::size_t item = 0) {
        stack_.push_back({kind, instance, item});
    }

    XmlParser& parser_;
    XpsmDocument& document_;
    std::vector<Frame> stack_;
    std::uint64_t budgetUsed_ = 0;
    std::size_t records_ = 0;
    std::string scratch_ = std::string(kAttributeCapacity, '\0');
    // The row and cell being collected.
    std::string rowText_;
    bool collectingRow_ = false;
    std::string cellId_;
    std::string cellValue_;
    bool cellTextMode_ = false;
};

// Counts stored text; an item that does not fit uses up the rest of the budget.
bool XpsmBuilder::charge(std::size_t length) {
    if (length <= kTextBudget - budgetUsed_) {
        budgetUsed_ += length;
        return true;
    }
    budgetUsed_ = kTextBudget;
    document_.partial = true;
    return false;
}

bool XpsmBuilder::mayStoreRecord() {
    if (records_ >= kMaxStoredRecords) {
        document_.partial = true;
        return false;
    }
    ++records_;
    return true;
}

std::string XpsmBuilder::decoded(std::string_view name) {
    std::size_t length = 0;
    parser_.attributeDecoded(name, scratch_.data(), scratch_.size(), &length);
    return scratch_.substr(0, length);
}

// A limit was reached: the element and everything below it are left out.
void XpsmBuilder::ignoreAtLimit() {
    document_.partial = true;
    push(FrameKind::Ignored);
}

void XpsmBuilder::startInstance(std::int32_t parent) {
    if (document_.instances.size() >= kMaxInstances) {
        ignoreAtLimit();
        return;
    }
    ProcessInstance instance{decoded("class"), decoded("id"), {}, parent, {}, {}, {}};
    charge(instance.className.size() + instance.id.size());  // stored even past the budget
    document_.instances.push_back(std::move(instance));
    push(FrameKind::Instance, static_cast<std::int32_t>(document_.instances.size() - 1));
}

void XpsmBuilder::startInInstance(std::int32_t index) {
    const std::string_view name = parser_.name();
    ProcessInstance& instance = document_.instances[static_cast<std::size_t>(index)];
    if (name == "instance") {
        startInstance(index);
    } else if (name == "parameter") {
        if (instance.parameters.size() >= kMaxParameters || !mayStoreRecord()) {
            ignoreAtLimit();
            return;
        }
        std::string id = decoded("id");
        std::string value = decoded("value");
        charge(id.size());
        if (!charge(value.size())) value.clear();
        instance.parameters.emplace_back(std::move(id), std::move(value));
        push(FrameKind::Parameter, index, instance.parameters.size() - 1);
    } else if (name == "description") {
        push(FrameKind::Description, index);
    } else if (name == "table") {
        if (!mayStoreRecord()) {
            ignoreAtLimit();
            return;
        }
        XpsmTable table;
        table.id = decoded("id");
        charge(table.id.size());
        instance.tables.push_back(std::move(table));
        push(FrameKind::Table, index, instance.tables.size() - 1);
    } else if (name == "time") {
        push(FrameKind::Ignored);
    } else {
        if (instance.extras.size() >= kMaxExtras || !mayStoreRecord()) {
            ignoreAtLimit();
            return;
        }
        std::string line(name);
        if (parser_.attributeCount() > 0) {
            line += " [";
            std::array<char, kExtraValueCapacity> value{};
            for (int a = 0; a < parser_.attributeCount(); ++a) {
                if (a > 0) line += ", ";
                const std::size_t length =
                    decodeEntities(parser_.attributeValue(a), value.data(), value.size());
                line +=
                    std::string(parser_.attributeName(a)) + "=" + std::string(value.data(), length);
            }
            line += "]";
        }
        line += ": ";
        if (!charge(line.size())) {
            push(FrameKind::Ignored);
            return;
        }
        instance.extras.push_back(std::move(line));
        push(FrameKind::Extra, index, instance.extras.size() - 1);
    }
}

void XpsmBuilder::start() {
    const Frame parent = stack_.back();
    const std::string_view name = parser_.name();
    switch (parent.kind) {
        case FrameKind::Root:
            if (name == "instance") {
                startInstance(-1);
            } else if (name == "icon") {
                if (document_.icons.size() >= kMaxIcons) {
                    ignoreAtLimit();
                    return;
                }
                ProcessIcon icon{decoded("id"), decoded("instance")};
                charge(icon.id.size() + icon.instance.size());
                document_.icons.push_back(std::move(icon));
                push(FrameKind::Icon);
            } else {
                push(FrameKind::Ignored);
            }
            return;
        case FrameKind::Instance:
            startInInstance(parent.instance);
            return;
        case FrameKind::Table:
            if (name == "tr") {
                XpsmTable& table = document_.instances[static_cast<std::size_t>(parent.instance)]
                                       .tables[parent.item];
                if (table.rowCount < 0xFFFFFFFFu) ++table.rowCount;
                rowText_.clear();
                collectingRow_ = table.rows.size() < kMaxRowTexts && mayStoreRecord();
                push(FrameKind::Row, parent.instance, parent.item);
                return;
            }
            break;
        case FrameKind::Row:
            if (name == "td") {
                cellId_ = decoded("id");
                cellValue_ = decoded("value");
                cellTextMode_ = cellValue_.empty() && !parser_.isEmptyElement();
                push(FrameKind::Cell, parent.instance, parent.item);
                return;
            }
            break;
        default:
            break;
    }
    push(FrameKind::Ignored);
}

void XpsmBuilder::text(std::string_view raw) {
    const Frame& frame = stack_.back();
    std::string value(raw.size() + 1, '\0');
    value.resize(decodeEntities(raw, value.data(), value.size()));
    auto appendCharged = [&](std::string& target) {
        if (charge(value.size())) target += value;
    };
    switch (frame.kind) {
        case FrameKind::Parameter:
            appendCharged(document_.instances[static_cast<std::size_t>(frame.instance)]
                              .parameters[frame.item]
                              .second);
            break;
        case FrameKind::Description:
            appendCharged(
                document_.instances[static_cast<std::size_t>(frame.instance)].description);
            break;
        case FrameKind::Extra:
            appendCharged(
                document_.instances[static_cast<std::size_t>(frame.instance)].extras[frame.item]);
            break;
        case FrameKind::Cell:
            if (cellTextMode_) cellValue_ += value;
            break;
        default:
            break;
    }
}

void XpsmBuilder::end() {
    const Frame frame = stack_.back();
    stack_.pop_back();
    if (frame.kind == FrameKind::Cell && collectingRow_) {
        if (!rowText_.empty()) rowText_ += ", ";
        rowText_ += cellId_ + "=" + cellValue_;
    } else if (frame.kind == FrameKind::Row && collectingRow_) {
        XpsmTable& table =
            document_.instances[static_cast<std::size_t>(frame.instance)].tables[frame.item];
        if (charge(rowText_.size())) table.rows.push_back(rowText_);
        collectingRow_ = false;
    } else if (frame.kind == FrameKind::Extra) {
        std::string& line =
            document_.instances[static_cast<std::size_t>(frame.instance)].extras[frame.item];
        if (line.ends_with(": ")) line.resize(line.size() - 2);
    }
}

ReadStatus XpsmBuilder::run() {
    XmlEvent event = parser_.next();
    if (event != XmlEvent::StartElement || parser_.name() != "xpsm")
        return ReadStatus::NotRecognized;
    push(FrameKind::Root);
    for (event = parser_.next();; event = parser_.next()) {
        switch (event) {
            case XmlEvent::StartElement:
                // Past the root's end, or below an ignored element, nothing is read.
                if (stack_.empty() || stack_.back().kind == FrameKind::Ignored)
                    push(FrameKind::Ignored);
                else
                    start();
                break;
            case XmlEvent::Text:
                if (!stack_.empty()) text(parser_.text());
                break;
            case XmlEvent::EndElement:
                if (!stack_.empty()) end();
                break;
            case XmlEvent::Error:
                document_.partial = true;
                return ReadStatus::Ok;
            default:
                return ReadStatus::Ok;
        }
    }
}

std::string creatorOf(std::string_view text) {
    const std::string_view window = text.substr(0, kCreatorWindow);
    const std::size_t at = window.find(kCreatorMark);
    if (at == std::string_view::npos) return {};
    std::string creator;
    for (std::size_t i = at; i < window.size() && creator.size() < kMaxCreatorLength; ++i) {
        const char c = window[i];
        if (c == '\n' || c == '\r' || c == '<') break;
        if (c >= 0x20 && c <= 0x7E) creator += c;
    }
    while (!creator.empty() && creator.back() == ' ') creator.pop_back();
    return creator;
}

// Instances by id (the first of equal ids) and by parent, built once so
// that looking up every icon's instance and every instance's children costs
// no more than the document's size.
class InstanceIndex {
public:
    explicit InstanceIndex(const XpsmDocument& document) : children_(document.instances.size()) {
        for (std::size_t i = 0; i < document.instances.size(); ++i) {
            const ProcessInstance& instance = document.instances[i];
            byId_.try_emplace(instance.id, i);
            if (instance.parent >= 0)
                children_[static_cast<std::size_t>(instance.parent)].push_back(i);
        }
    }
    std::optional<std::size_t> find(std::string_view id) const {
        const auto found = byId_.find(id);
        if (found == byId_.end()) return std::nullopt;
        return found->second;
    }
    const std::vector<std::size_t>& children(std::size_t index) const { return children_[index]; }

private:
    std::unordered_map<std::string_view, std::size_t> byId_;
    std::vector<std::vector<std::size_t>> children_;
};

std::string_view trimListing(std::string_view text) {
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

// Text stops growing at the listing limit wherever it is appended: one
// entry's continuation lines alone could otherwise repeat a long key's width
// thousands of times.
class ListingWriter {
public:
    explicit ListingWriter(const XpsmDocument& document)
        : document_(document), index_(document), shown_(document.instances.size(), false) {}
    std::string write();

private:
    // One row text or extra can hold most of the text budget: it is cut where
    // the listing reaches its limit.
    void line(int depth, std::string_view text) {
        if (!full()) append(depth, text.substr(0, kMaxListingBytes + 1 - out_.size()));
    }
    void append(int depth, std::string_view text) {
        out_.append(static_cast<std::size_t>(3 * depth), ' ');
        out_ += text;
        out_ += "\r\n";
    }
    void entry(int depth, std::string_view key, std::string_view value);
    void details(std::size_t index, int depth, int level);
    bool full() const { return out_.size() > kMaxListingBytes; }

    const XpsmDocument& document_;
    const InstanceIndex index_;
    std::vector<bool> shown_;
    std::string out_;
};

void ListingWriter::entry(int depth, std::string_view key, std::string_view value) {
    std::string cut(value.substr(0, kMaxValueBytes));
    if (value.size() > kMaxValueBytes) cut += " ...";
    const std::string prefix = std::string(key) + " = ";
    std::string_view rest = cut;
    bool first = true;
    while (!full()) {
        const std::size_t newline = rest.find('\n');
        std::string_view piece = rest.substr(0, newline);
        if (piece.ends_with('\r')) piece.remove_suffix(1);
        line(depth, (first ? prefix : std::string(prefix.size(), ' ')) + std::string(piece));
        first = false;
        if (newline == std::string_view::npos) break;
        rest.remove_prefix(newline + 1);
    }
}

void ListingWriter::details(std::size_t index, int depth, int level) {
    if (full()) return;
    const ProcessInstance& instance = document_.instances[index];
    if (const auto description = trimListing(instance.description); !description.empty()) {
        entry(depth, "description", description);
    }
    for (const auto& [id, value] : instance.parameters) {
        if (full()) return;
        if (!trimListing(value).empty()) entry(depth, id, value);
    }
    for (const auto& table : instance.tables) {
        if (full()) return;
        char header[128];
        std::snprintf(header, sizeof header, "%s: %u row%s",
                      table.id.empty() ? "table" : table.id.c_str(), table.rowCount,
                      table.rowCount == 1 ? "" : "s");
        line(depth, header);
        for (const auto& row : table.rows) line(depth + 1, row);
        if (table.rowCount > table.rows.size()) {
            line(depth + 1,
                 "... and " + std::to_string(table.rowCount - table.rows.size()) + " more");
        }
    }
    for (const auto& extra : instance.extras) {
        if (full()) return;
        line(depth, trimListing(extra));
    }
    if (level >= kMaxNestingShown) return;
    int number = 0;
    for (const std::size_t child : index_.children(index)) {
        if (full()) return;
        const std::string& id = document_.instances[child].id;
        line(depth, std::to_string(++number) + ". " + (id.empty() ? "(unnamed process)" : id));
        details(child, depth + 1, level + 1);
    }
}

std::string ListingWriter::write() {
    for (const auto& icon : document_.icons) {
        if (full()) break;
        const std::string label = icon.id.empty() ? "(unnamed icon)" : icon.id;
        const auto index = index_.find(icon.instance);
        if (!index) {
            line(0, label + "  (its instance is missing from the file)");
        } else {
            const ProcessInstance& instance = document_.instances[*index];
            line(0, instance.className.empty() ? label : label + "  (" + instance.className + ")");
            shown_[*index] = true;
            details(*index, 1, 0);
        }
        line(0, "");
    }
    bool headingWritten = false;
    for (std::size_t i = 0; i < document_.instances.size() && !full(); ++i) {
        const ProcessInstance& instance = document_.instances[i];
        if (instance.parent != -1 || shown_[i]) continue;
        if (!headingWritten) {
            line(0, "Instances without an icon:");
            line(0, "");
            headingWritten = true;
        }
        line(0, instance.id.empty() ? "(unnamed process)" : instance.id);
        details(i, 1, 0);
        line(0, "");
    }
    if (full() || document_.partial) append(0, kTruncationLine);
    return std::move(out_);
}

}  // namespace

bool isXpsm(Reader& reader) {
    if (reader.size() < kMinXpsmSize) return false;
    std::string head(static_cast<std::size_t>(std::min(reader.size(), kRecognitionWindow)), '\0');
    if (!reader.read(0, head.data(), head.size())) return false;
    const std::string_view text = withoutByteOrderMark(head);
    XmlParser parser;
    parser.init(text.data(), text.data() + text.size());
    for (XmlEvent event = parser.next();; event = parser.next()) {
        if (event == XmlEvent::StartElement) return parser.name() == "xpsm";
        if (event == XmlEvent::EndOfDocument || event == XmlEvent::Error) return false;
    }
}

ReadStatus readXpsm(Reader& reader, XpsmDocument& document) {
    document = XpsmDocument{};
    const std::uint64_t size = reader.size();
    if (size == 0) return ReadStatus::NotRecognized;
    if (size > kMaxXpsmFile) return ReadStatus::TooLarge;
    try {
        std::string bytes(static_cast<std::size_t>(size), '\0');
        if (!reader.read(0, bytes.data(), size)) return ReadStatus::ReadFailed;
        const std::string_view text = withoutByteOrderMark(bytes);
        XmlParser parser;
        parser.init(text.data(), text.data() + text.size());
        const ReadStatus status = XpsmBuilder(parser, document).run();
        if (status != ReadStatus::Ok) {
            document = XpsmDocument{};
            return status;
        }
        document.creator = creatorOf(text);
        return ReadStatus::Ok;
    } catch (const std::bad_alloc&) {
        document = XpsmDocument{};
        return ReadStatus::TooLarge;
    }
}

std::string xpsmClassSummary(const XpsmDocument& document, std::size_t maxLength) {
    std::vector<std::string_view> classes;
    if (!document.icons.empty()) {
        const InstanceIndex index(document);
        for (const auto& icon : document.icons) {
            const auto found = index.find(icon.instance);
            if (found && !document.instances[*found].className.empty()) {
                classes.push_back(document.instances[*found].className);
            }
        }
    } else {
        for (const auto& instance : document.instances) {
            if (instance.parent == -1 && !instance.className.empty())
                classes.push_back(instance.className);
        }
    }
    std::vector<std::pair<std::string_view, std::size_t>> counts;  // in order of first appearance
    std::unordered_map<std::string_view, std::size_t> positions;
    for (std::string_view name : classes) {
        const auto [found, added] = positions.try_emplace(name, counts.size());
        if (added)
            counts.emplace_back(name, 1);
        else
            ++counts[found->second].second;
    }
    std::string summary;
    for (const auto& [name, count] : counts) {
        std::string item(name);
        if (count > 1) item += " (" + std::to_string(count) + ")";
        const std::size_t separator = summary.empty() ? 0 : 2;
        if (summary.size() + separator + item.size() > maxLength) {
            summary += summary.empty() ? "..." : ", ...";
            break;
        }
        if (separator != 0) summary += ", ";
        summary += item;
    }
    return summary;
}

std::string xpsmListing(const XpsmDocument& document) {
    return ListingWriter(document).write();
}

}  // namespace cv
