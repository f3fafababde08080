#include "iso/joliet.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

#include "base/console_log.h"
#include "iso/entry_name.h"
#include "iso/image_source.h"
#include "iso/limits.h"
#include "iso/records.h"

namespace rec = iso_record;

namespace joliet {

namespace {

constexpr uint64_t kCdBlock = iso_limits::kDefaultBlockSize;

// One record of a Joliet directory.
struct Record {
    std::string identifier;  // the raw UCS-2 bytes
    uint32_t extent = 0;
    uint32_t dataLength = 0;
    bool directory = false;
    bool hidden = false;
};

// The ASCII characters of a Joliet name, others as '?': what the name is compared with
// an ISO 9660 identifier as.
std::string comparable(const std::string& ucs2) {
    std::string ascii;
    for (size_t i = 0; i + 1 < ucs2.size(); i += 2) {
        const auto high = static_cast<uint8_t>(ucs2[i]);
        const auto low = static_cast<uint8_t>(ucs2[i + 1]);
        ascii += high == 0 && low < 0x80 ? static_cast<char>(low) : '?';
    }
    return ascii;
}

class TreeReader {
  public:
    TreeReader(ImageSource& image, uint32_t blockSize) : image_(image), blockSize_(blockSize) {}

    void read(uint32_t extent, DirectoryNode* list) {
        enter(extent, "");
        const std::vector<Record> records = decode(extent, "");
        match(records, "", list);
        ancestors_.pop_back();
    }

  private:
    static std::string place(const std::string& path, uint32_t extent) {
        return formatText("Joliet directory \\%s at block %u", path.c_str(), extent);
    }

    std::vector<Record> decode(uint32_t extent, const std::string& path) {
        const uint64_t imageSize = image_.size();
        const uint64_t start = uint64_t{extent} * blockSize_;
        if (start >= imageSize || imageSize - start < iso_limits::kMinDirectoryRecordLength) {
            throw std::runtime_error(
                place(path, extent) +
                formatText(" lies past the end of the image (%" PRIu64 " bytes)", imageSize));
        }
        std::vector<uint8_t> data(
            static_cast<size_t>(std::min<uint64_t>(blockSize_, imageSize - start)));
        image_.read(start, data.data(), data.size());
        const uint32_t dataLength = rec::directoryDataLength(data.data());
        if (dataLength > imageSize - start) {
            throw std::runtime_error(place(path, extent) +
                                     formatText(": data length %u runs past the end of the image "
                                                "(%" PRIu64 " bytes)",
                                                dataLength, imageSize));
        }
        // Sound directories occupy separate extents; more bytes than the image holds mean
        // directories repeat or overlap.
        bytesRead_ += std::max<uint64_t>(data.size(), dataLength);
        if (bytesRead_ > imageSize) {
            throw std::runtime_error(place(path, extent) +
                                     formatText(": the Joliet directories read so far exceed the "
                                                "image (%" PRIu64
                                                " bytes); directories repeat or overlap",
                                                imageSize));
        }
        data.resize(dataLength);
        if (dataLength > 0) {
            image_.read(start, data.data(), dataLength);
        }
        std::vector<Record> records;
        bool continues = false;  // the previous record has the Multi-Extent flag
        for (size_t offset = 0; offset < data.size();) {
            rec::DirectoryRecord record;
            try {
                record = rec::decodeDirectoryRecord(data.data(), data.size(), offset);
            } catch (const std::exception& e) {
                throw std::runtime_error(place(path, extent) + ": " + e.what());
            }
            if (record.length == 0) {
                offset += blockSize_ - offset % blockSize_;
                continue;
            }
            offset += record.length;
            // Only the first record of a file stored in several is matched.
            const bool continuation = continues;
            continues = record.isMultiExtent();
            // A UCS-2 name starts with a zero byte; only a one-byte 0x00 or 0x01 is "." or "..".
            const bool dot = record.identifierLength == 1 && record.special;
            if (dot || record.identifierLength == 0 || continuation) {
                continue;
            }
            Record entry;
            entry.identifier = record.identifier;
            entry.extent = record.extent;
            entry.dataLength = record.dataLength;
            entry.directory = record.isDirectory();
            entry.hidden = record.isHidden();
            records.push_back(std::move(entry));
        }
        return records;
    }

    static bool unmatched(const DirectoryNode* node) {
        return !node->isDotEntry() && node->joliet.empty();
    }

    static uint64_t firstSize(const DirectoryNode* node) {
        return node->isMultiExtent() ? node->sections.front().size : node->size;
    }

    // The entries of one ISO 9660 directory list, indexed for matching: by name (letter
    // case and decorations ignored), files by extent, and subdirectories by the extents
    // of the files they hold.
    struct ListIndex {
        std::unordered_map<std::string, std::vector<DirectoryNode*>> byName;
        std::unordered_map<uint32_t, std::vector<DirectoryNode*>> filesByExtent;
        std::unordered_map<uint32_t, DirectoryNode*> directoryByFileExtent;
        std::vector<DirectoryNode*> directories;

        explicit ListIndex(DirectoryNode* list) {
            for (DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
                if (node->isDotEntry()) {
                    continue;
                }
                byName[key(node->identifier)].push_back(node);
                if (node->isFile()) {
                    filesByExtent[node->extent].push_back(node);
                    continue;
                }
                directories.push_back(node);
                for (const DirectoryNode* child = node->children.get(); child != nullptr;
                     child = child->next.get()) {
                    if (child->isFile() && child->size != 0) {
                        directoryByFileExtent.emplace(child->extent, node);
                    }
                }
            }
        }
    };

    static std::string key(const std::string& name) {
        std::string upper = entry_name::undecorated(name);
        for (char& c : upper) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
        }
        return upper;
    }

    static bool fits(const DirectoryNode* node, const Record& record) {
        return unmatched(node) && node->isFile() && node->extent == record.extent &&
               firstSize(node) == record.dataLength;
    }

    // The ISO 9660 file that `record` names: the same extent and size, the same name too
    // when `byName` (empty files may share one extent).
    static DirectoryNode* fileFor(const Record& record, const ListIndex& index, bool byName) {
        const std::vector<DirectoryNode*>* candidates = nullptr;
        if (byName) {
            const auto found = index.byName.find(key(comparable(record.identifier)));
            candidates = found != index.byName.end() ? &found->second : nullptr;
        } else {
            const auto found = index.filesByExtent.find(record.extent);
            candidates = found != index.filesByExtent.end() ? &found->second : nullptr;
        }
        if (candidates != nullptr) {
            for (DirectoryNode* node : *candidates) {
                if (fits(node, record)) {
                    return node;
                }
            }
        }
        return nullptr;
    }

    // The ISO 9660 directory that the Joliet directory `record` is: with `byName` the one
    // of the same name, else the one that holds a file of the same extent as one of
    // `contents`, else the first one left.
    static DirectoryNode* directoryFor(const Record& record, const ListIndex& index,
                                       const std::vector<Record>& contents, bool byName) {
        if (byName) {
            const auto found = index.byName.find(key(comparable(record.identifier)));
            if (found != index.byName.end()) {
                for (DirectoryNode* node : found->second) {
                    if (unmatched(node) && node->isDirectory()) {
                        return node;
                    }
                }
            }
            return nullptr;
        }
        for (const Record& content : contents) {
            if (content.directory || content.dataLength == 0) {
                continue;
            }
            const auto found = index.directoryByFileExtent.find(content.extent);
            if (found != index.directoryByFileExtent.end() && unmatched(found->second)) {
                return found->second;
            }
        }
        for (DirectoryNode* node : index.directories) {
            if (unmatched(node)) {
                return node;
            }
        }
        return nullptr;
    }

    void match(const std::vector<Record>& records, const std::string& path, DirectoryNode* list) {
        // The subdirectories' records first: they are matched on what they hold.
        std::vector<std::vector<Record>> contents(records.size());
        for (size_t i = 0; i < records.size(); ++i) {
            if (records[i].directory) {
                const std::string childPath =
                    (path.empty() ? "" : path + "\\") + shownName(records[i].identifier);
                enter(records[i].extent, childPath);
                contents[i] = decode(records[i].extent, childPath);
                ancestors_.pop_back();
            }
        }
        // Same names first, so that the order of the records does not decide.
        const ListIndex index(list);
        std::vector<DirectoryNode*> nodes(records.size(), nullptr);
        for (const bool byName : {true, false}) {
            for (size_t i = 0; i < records.size(); ++i) {
                if (nodes[i] != nullptr) {
                    continue;
                }
                const Record& record = records[i];
                nodes[i] = record.directory ? directoryFor(record, index, contents[i], byName)
                                            : fileFor(record, index, byName);
                if (nodes[i] != nullptr) {
                    nodes[i]->joliet = record.identifier;
                    nodes[i]->jolietHidden = record.hidden;
                }
            }
        }
        // Below an entry already named, nothing more is.
        for (size_t i = 0; i < records.size() && list != nullptr; ++i) {
            if (nodes[i] == nullptr) {
                unmatched_.push_back("\\" + (path.empty() ? "" : path + "\\") +
                                     shownName(records[i].identifier));
            }
        }
        for (size_t i = 0; i < records.size(); ++i) {
            if (!records[i].directory) {
                continue;
            }
            // A Joliet directory without an ISO 9660 counterpart is still read, so that a
            // hostile one is refused wherever it lies; its entries have nothing to name.
            const std::string childPath =
                (path.empty() ? "" : path + "\\") + shownName(records[i].identifier);
            enter(records[i].extent, childPath);
            match(contents[i], childPath, nodes[i] != nullptr ? nodes[i]->children.get() : nullptr);
            ancestors_.pop_back();
        }
    }

    // Checks the depth and loops of the directory at `extent` and makes it the innermost
    // ancestor.
    void enter(uint32_t extent, const std::string& path) {
        if (iso_limits::exceedsDirectoryDepth(ancestors_.size())) {
            throw std::runtime_error(place(path, extent) +
                                     formatText(" lies more than %u levels below the root",
                                                iso_limits::kMaxDirectoryDepth));
        }
        if (std::find(ancestors_.begin(), ancestors_.end(), extent) != ancestors_.end()) {
            throw std::runtime_error(place(path, extent) +
                                     " is one of its own parent directories (directory loop)");
        }
        ancestors_.push_back(extent);
    }

    ImageSource& image_;
    uint32_t blockSize_;
    std::vector<uint32_t> ancestors_;
    std::vector<std::string> unmatched_;

  public:
    std::vector<std::string> takeUnmatched() { return std::move(unmatched_); }
    uint64_t bytesRead_ = 0;
};

// A Joliet tree is read in the blocks of the primary tree.
void checkBlockSize(const rec::PrimaryDescriptor& descriptor, uint32_t blockSize) {
    if (descriptor.logicalBlockSize != blockSize) {
        throw std::runtime_error(
            formatText("the Joliet descriptor declares blocks of %u bytes, "
                       "the primary one %u",
                       descriptor.logicalBlockSize, blockSize));
    }
}

}  // namespace

bool isJolietDescriptor(const uint8_t* descriptor) {
    return rec::decodePrimaryDescriptorFields(descriptor).isJoliet();
}

std::vector<uint8_t> findDescriptor(ImageSource& image) {
    std::vector<uint8_t> block(rec::kDescriptorSize);
    for (uint32_t n = iso_limits::kPrimaryDescriptorBlock + 1;
         n < iso_limits::kPrimaryDescriptorBlock + iso_limits::kMaxDescriptorBlocks; ++n) {
        if (!image.contains(uint64_t{n} * kCdBlock, block.size())) {
            break;
        }
        image.read(uint64_t{n} * kCdBlock, block.data(), block.size());
        const rec::DescriptorHeader header = rec::decodeDescriptorHeader(block.data());
        if (!header.isStandard() || header.type == rec::descriptor::kTerminatorType) {
            break;
        }
        if (isJolietDescriptor(block.data())) {
            return block;
        }
    }
    return {};
}

std::vector<std::string> readNames(ImageSource& image, const std::vector<uint8_t>& descriptor,
                                   DirectoryNode* rootList, uint32_t blockSize) {
    const rec::PrimaryDescriptor fields = rec::decodePrimaryDescriptorFields(descriptor.data());
    checkBlockSize(fields, blockSize);
    TreeReader reader(image, blockSize);
    reader.read(fields.rootExtent, rootList);
    return reader.takeUnmatched();
}

std::string encodeName(const std::string& name) {
    std::string ucs2;
    size_t characters = 0;
    for (size_t i = 0; i < name.size();) {
        const auto lead = static_cast<uint8_t>(name[i]);
        uint32_t code = 0;
        size_t length = 1;
        if (lead < 0x80) {
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            code = lead & 0x1Fu;
            length = 2;
        } else if ((lead & 0xF0) == 0xE0) {
            code = lead & 0x0Fu;
            length = 3;
        } else if ((lead & 0xF8) == 0xF0) {
            throw std::invalid_argument("the name \"" + name +
                                        "\" holds a character outside UCS-2, which Joliet "
                                        "names cannot hold");
        } else {
            throw std::invalid_argument("the name \"" + name + "\" is not valid UTF-8");
        }
        if (i + length > name.size()) {
            throw std::invalid_argument("the name \"" + name + "\" is not valid UTF-8");
        }
        for (size_t k = 1; k < length; ++k) {
            const auto byte = static_cast<uint8_t>(name[i + k]);
            if ((byte & 0xC0) != 0x80) {
                throw std::invalid_argument("the name \"" + name + "\" is not valid UTF-8");
            }
            code = (code << 6) | (byte & 0x3Fu);
        }
        if ((length == 2 && code < 0x80) || (length == 3 && code < 0x800) ||
            (code >= 0xD800 && code <= 0xDFFF)) {
            throw std::invalid_argument("the name \"" + name + "\" is not valid UTF-8");
        }
        if (code < 0x20 || std::strchr("*/:;?\\", static_cast<int>(code)) != nullptr) {
            throw std::invalid_argument("the name \"" + name +
                                        "\" holds a character a Joliet name cannot hold");
        }
        ucs2 += static_cast<char>(code >> 8);
        ucs2 += static_cast<char>(code & 0xFF);
        ++characters;
        i += length;
    }
    if (characters == 0 || characters > kMaxNameCharacters) {
        throw std::invalid_argument(
            formatText("the name \"%s\" has %zu characters; a Joliet name "
                       "has 1 to %zu",
                       name.c_str(), characters, kMaxNameCharacters));
    }
    return ucs2;
}

std::string shownName(const std::string& ucs2) {
    std::string text;
    for (size_t i = 0; i + 1 < ucs2.size(); i += 2) {
        const uint32_t code =
            (uint32_t{static_cast<uint8_t>(ucs2[i])} << 8) | static_cast<uint8_t>(ucs2[i + 1]);
        if (code < 0x20) {
            text += '?';
        } else if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xC0 | (code >> 6));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text += static_cast<char>(0xE0 | (code >> 12));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return text;
}

}  // namespace joliet
