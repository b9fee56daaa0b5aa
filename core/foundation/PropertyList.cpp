#include "foundation/PropertyList.h"

#include <plist/plist.h>

#include <cstring>
#include <vector>

#include "foundation/AtomicFile.h"

namespace keldwick::PropertyList {

namespace {

constexpr std::string_view kBinaryMagic = "bplist00";
constexpr size_t kTrailerSize = 32;

uint64_t bigEndian(std::string_view bytes, size_t at, size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// A binary list's object table as the trailer describes it, every position checked
// against the bytes before it is read.
class BinaryObjects {
public:
    explicit BinaryObjects(std::string_view bytes) : bytes_(bytes) {}

    bool readTrailer() {
        if (bytes_.size() < kBinaryMagic.size() + kTrailerSize) return false;
        end_ = bytes_.size() - kTrailerSize;
        offsetSize_ = static_cast<unsigned char>(bytes_[end_ + 6]);
        refSize_ = static_cast<unsigned char>(bytes_[end_ + 7]);
        count_ = bigEndian(bytes_, end_ + 8, 8);
        top_ = bigEndian(bytes_, end_ + 16, 8);
        table_ = bigEndian(bytes_, end_ + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
        if (count_ == 0 || top_ >= count_ || table_ < kBinaryMagic.size() || table_ > end_) return false;
        return (end_ - table_) / offsetSize_ >= count_;
    }

    uint64_t count() const { return count_; }
    uint64_t top() const { return top_; }

    // The references an object holds: where they start and how many; none for a leaf.
    // False when the object or its references lie outside the bytes.
    bool references(uint64_t index, size_t& start, uint64_t& number) const {
        const uint64_t offset = bigEndian(bytes_, table_ + index * offsetSize_, offsetSize_);
        number = 0;
        if (offset < kBinaryMagic.size() || offset >= end_) return false;
        const auto marker = static_cast<unsigned char>(bytes_[offset]);
        const unsigned type = marker & 0xF0;
        const bool isDictionary = type == 0xD0;
        if (type != 0xA0 && type != 0xC0 && !isDictionary) return true;
        uint64_t length = marker & 0x0F;
        size_t position = offset + 1;
        if (length == 0x0F) {
            if (position >= end_) return false;
            const auto lengthMarker = static_cast<unsigned char>(bytes_[position]);
            if ((lengthMarker & 0xF0) != 0x10 || (lengthMarker & 0x0F) > 3) return false;
            const size_t width = size_t(1) << (lengthMarker & 0x0F);
            if (end_ - position - 1 < width) return false;
            length = bigEndian(bytes_, position + 1, width);
            position += 1 + width;
        }
        const uint64_t room = (end_ - position) / refSize_;
        if (length > room || (isDictionary && length > room / 2)) return false;
        start = position;
        number = isDictionary ? length * 2 : length;
        return true;
    }

    uint64_t reference(size_t start, uint64_t n) const { return bigEndian(bytes_, start + n * refSize_, refSize_); }

private:
    std::string_view bytes_;
    size_t end_ = 0;
    size_t offsetSize_ = 0;
    size_t refSize_ = 0;
    uint64_t count_ = 0;
    uint64_t top_ = 0;
    uint64_t table_ = 0;
};

// Walks the graph from the top object without recursion, measuring each object's tree once.
bool binaryWithinBounds(std::string_view bytes) {
    BinaryObjects objects(bytes);
    if (!objects.readTrailer()) return false;
    enum State : uint8_t { unseen, open, measured };
    std::vector<uint8_t> state(objects.count(), unseen);
    std::vector<uint64_t> nodes(objects.count(), 0);
    struct Frame {
        uint64_t index;
        size_t start;
        uint64_t number;
        uint64_t next;
        uint64_t nodes;
    };
    std::vector<Frame> path;
    auto enter = [&](uint64_t index) {
        Frame frame{index, 0, 0, 0, 1};
        if (!objects.references(index, frame.start, frame.number)) return false;
        state[index] = open;
        path.push_back(frame);
        return path.size() <= kMaxDepth;
    };
    if (!enter(objects.top())) return false;
    while (!path.empty()) {
        Frame& frame = path.back();
        if (frame.next < frame.number) {
            const uint64_t child = objects.reference(frame.start, frame.next++);
            if (child >= objects.count() || state[child] == open) return false;
            if (state[child] == measured) {
                frame.nodes += nodes[child];
                if (frame.nodes > kMaxNodes) return false;
                continue;
            }
            if (!enter(child)) return false;
            continue;
        }
        const Frame done = frame;
        path.pop_back();
        state[done.index] = measured;
        nodes[done.index] = done.nodes;
        if (!path.empty()) {
            path.back().nodes += done.nodes;
            if (path.back().nodes > kMaxNodes) return false;
        }
    }
    return true;
}

bool startsWith(std::string_view text, size_t at, std::string_view prefix) {
    return text.compare(at, prefix.size(), prefix) == 0;
}

// Elements inside one another; a closing tag must close the element last opened.
bool xmlWithinBounds(std::string_view text) {
    std::vector<std::string_view> open;
    size_t at = 0;
    while ((at = text.find('<', at)) != std::string_view::npos) {
        std::string_view closer = ">";
        if (startsWith(text, at, "<!--")) closer = "-->";
        else if (startsWith(text, at, "<![CDATA[")) closer = "]]>";
        const size_t end = text.find(closer, at + 1);
        if (end == std::string_view::npos) return true;  // unfinished: the parser refuses it
        const size_t next = end + closer.size();
        if (startsWith(text, at, "<!") || startsWith(text, at, "<?")) {
            at = next;
            continue;
        }
        const bool closing = startsWith(text, at, "</");
        const size_t nameStart = at + (closing ? 2 : 1);
        const size_t nameEnd = std::min(end, text.find_first_of(" \t\r\n/>", nameStart));
        const std::string_view name = text.substr(nameStart, nameEnd - nameStart);
        if (closing) {
            if (open.empty() || open.back() != name) return false;
            open.pop_back();
        } else if (text[end - 1] != '/') {
            open.push_back(name);
            if (open.size() > kMaxDepth) return false;
        }
        at = next;
    }
    return true;
}

}  // namespace

void Free::operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }

bool isWithinBounds(std::string_view bytes) {
    if (bytes.size() > kMaxBytes) return false;
    if (startsWith(bytes, 0, kBinaryMagic)) return binaryWithinBounds(bytes);
    return xmlWithinBounds(bytes);
}

Node parseDictionary(std::string_view bytes) {
    if (bytes.empty() || !isWithinBounds(bytes)) return nullptr;
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
    Node dictionary(root);
    if (!root || plist_get_node_type(root) != PLIST_DICT) return nullptr;
    return dictionary;
}

Node readDictionary(const std::string& path) {
    try {
        return parseDictionary(AtomicFile::read(path, kMaxBytes));
    } catch (const std::exception&) {
        return nullptr;
    }
}

std::optional<std::string> stringValue(const Node& dictionary, const char* key) {
    if (!dictionary) return std::nullopt;
    plist_t node = plist_dict_get_item(static_cast<plist_t>(dictionary.get()), key);
    if (!node || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    if (!text || std::memchr(text, '\0', length) != nullptr) return std::nullopt;
    return std::string(text, length);
}

std::optional<Date> dateValue(const Node& dictionary, const char* key) {
    if (!dictionary) return std::nullopt;
    plist_t node = plist_dict_get_item(static_cast<plist_t>(dictionary.get()), key);
    if (!node || plist_get_node_type(node) != PLIST_DATE) return std::nullopt;
    int32_t seconds = 0;
    int32_t microseconds = 0;
    plist_get_date_val(node, &seconds, &microseconds);
    return Date::fromSecondsSince2001(static_cast<double>(seconds) + static_cast<double>(microseconds) / 1e6);
}

}  // namespace keldwick::PropertyList
