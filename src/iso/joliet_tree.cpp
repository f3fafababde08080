#include "iso/joliet_tree.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <deque>
#include <stdexcept>

#include "base/console_log.h"
#include "iso/image_sink.h"
#include "iso/iso_dates.h"
#include "iso/joliet.h"
#include "iso/limits.h"
#include "iso/records.h"

namespace rec = iso_record;
using iso_layout::LimitError;

namespace joliet {

namespace {

constexpr uint32_t kBlockSize = iso_limits::kDefaultBlockSize;
constexpr uint32_t kDotRecordLength = rec::dir_record::kDotRecordLength;

// Where one record lies in the Joliet directory area.
struct Slot {
    uint32_t block = 0;   // counted from the area's start
    uint32_t offset = 0;  // inside the block
};

}  // namespace

struct Entry {
    const DirectoryNode* node = nullptr;
    std::string identifier;
    bool hidden = false;
    uint32_t recordLength = 0;
    std::vector<Slot> slots;  // one per record: a file stored in several has several
    std::unique_ptr<Tree::Directory> directory;
};

struct Tree::Directory {
    const std::string* identifier = nullptr;  // null for the root
    const Directory* parent = nullptr;        // the root is its own parent
    uint16_t number = 1;
    uint32_t areaExtent = 0;  // first block, counted from the area's start
    uint32_t dataLength = 0;
    std::vector<Entry> entries;  // sorted by identifier, without "." and ".."
};

namespace {

std::string shownPath(const std::string& parent, const std::string& ucs2) {
    return parent + "\\" + shownName(ucs2);
}

void build(const DirectoryNode* list, Tree::Directory& directory, const std::string& path) {
    for (const DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
        if (node->isDotEntry()) {
            continue;
        }
        Entry entry;
        entry.node = node;
        if (!node->joliet.empty()) {
            entry.identifier = node->joliet;
            entry.hidden = node->jolietHidden;
        } else if (!node->inImage) {
            try {
                entry.identifier = encodeName(node->name);
            } catch (const std::invalid_argument& e) {
                throw LimitError("the entry \"" + path + "\\" + node->identifier +
                                 "\" gets no Joliet name: " + e.what());
            }
        } else {
            continue;  // not in the old image's Joliet tree: not in the new one either
        }
        if (entry.identifier.size() > iso_limits::kMaxIdentifierLength) {
            throw LimitError(
                formatText("the Joliet name of \"%s\" is %zu bytes long; an image "
                           "holds at most %u",
                           shownPath(path, entry.identifier).c_str(), entry.identifier.size(),
                           iso_limits::kMaxIdentifierLength));
        }
        entry.recordLength = rec::directoryRecordLength(entry.identifier.size());
        entry.slots.resize(node->isMultiExtent() ? node->sections.size() : 1);
        if (node->isDirectory()) {
            entry.directory = std::make_unique<Tree::Directory>();
            entry.directory->parent = &directory;
            build(node->children.get(), *entry.directory, shownPath(path, entry.identifier));
        }
        directory.entries.push_back(std::move(entry));
    }
    std::sort(directory.entries.begin(), directory.entries.end(),
              [](const Entry& a, const Entry& b) { return a.identifier < b.identifier; });
    for (size_t i = 1; i < directory.entries.size(); ++i) {
        if (directory.entries[i].identifier == directory.entries[i - 1].identifier) {
            throw LimitError("two entries of \"" + path + "\\\" have the Joliet name \"" +
                             shownName(directory.entries[i].identifier) + "\"");
        }
    }
    for (Entry& entry : directory.entries) {
        if (entry.directory) {
            entry.directory->identifier = &entry.identifier;
        }
    }
}

void forEachBreadthFirst(const Tree::Directory& root,
                         const std::function<void(const Tree::Directory&)>& visit) {
    std::deque<const Tree::Directory*> queue{&root};
    while (!queue.empty()) {
        const Tree::Directory* directory = queue.front();
        queue.pop_front();
        visit(*directory);
        for (const Entry& entry : directory->entries) {
            if (entry.directory) {
                queue.push_back(entry.directory.get());
            }
        }
    }
}

void layout(Tree::Directory& directory, uint64_t& blocks) {
    const uint64_t first = blocks;
    uint64_t offset = 2 * kDotRecordLength;
    for (Entry& entry : directory.entries) {
        for (Slot& slot : entry.slots) {
            if (offset + entry.recordLength > kBlockSize) {
                ++blocks;
                offset = 0;
            }
            slot.block = static_cast<uint32_t>(blocks);
            slot.offset = static_cast<uint32_t>(offset);
            offset += entry.recordLength;
        }
    }
    ++blocks;
    const uint64_t dataLength = (blocks - first) * kBlockSize;
    if (dataLength > iso_limits::kMaxFileSize || blocks > iso_limits::kMaxBlocks) {
        throw LimitError(formatText("a Joliet directory of %" PRIu64
                                    " bytes of records does not fit a 32-bit Data Length",
                                    dataLength));
    }
    directory.areaExtent = static_cast<uint32_t>(first);
    directory.dataLength = static_cast<uint32_t>(dataLength);
    for (Entry& entry : directory.entries) {
        if (entry.directory) {
            layout(*entry.directory, blocks);
        }
    }
}

uint32_t directoryBlock(const Tree::Directory& directory, const iso_layout::ImageLayout& layout) {
    return layout.jolietDirectoryStart + directory.areaExtent;
}

void encodeDot(const Tree::Directory& directory, rec::DirectoryRecordFields::Kind kind,
               const iso_layout::ImageLayout& layout, const uint8_t* date, uint8_t* buffer) {
    rec::DirectoryRecordFields fields;
    fields.kind = kind;
    fields.extent = directoryBlock(directory, layout);
    fields.dataLength = directory.dataLength;
    fields.isDirectory = true;
    fields.recordingDate = date;
    rec::encodeDirectoryRecord(fields, buffer, rec::dir_record::kBufferSize);
}

}  // namespace

Tree::Tree(const DirectoryNode* rootList) : root_(std::make_unique<Directory>()) {
    root_->parent = root_.get();
    build(rootList, *root_, "");
    uint64_t sum = rec::pathTableRecordLength(1);
    uint32_t counter = 0;
    forEachBreadthFirst(*root_, [&](const Directory& directory) {
        const_cast<Directory&>(directory).number = static_cast<uint16_t>(++counter);
        if (directory.identifier != nullptr) {
            sum += rec::pathTableRecordLength(directory.identifier->size());
        }
        if (counter > iso_limits::kMaxDirectories) {
            throw LimitError(formatText("the Joliet tree holds more than %u directories",
                                        iso_limits::kMaxDirectories));
        }
    });
    pathTableSize_ = static_cast<uint32_t>(sum);
    layout(*root_, directoryBlocks_);
}

Tree::~Tree() = default;

void Tree::makeDescriptor(const std::vector<uint8_t>& old, const iso_layout::ImageLayout& layout,
                          uint8_t* descriptor) const {
    if (old.size() != rec::kDescriptorSize) {
        throw std::logic_error("no Joliet descriptor of the old image to carry over");
    }
    std::memcpy(descriptor, old.data(), rec::kDescriptorSize);
    uint8_t date[rec::kRecordDateSize];
    makeRecordDate(date);
    uint8_t record[rec::dir_record::kBufferSize];
    encodeDot(*root_, rec::DirectoryRecordFields::Kind::Self, layout, date, record);
    rec::PrimaryDescriptorFields fields;
    fields.volumeSpaceSize = layout.volumeSpaceSize;
    fields.logicalBlockSize = static_cast<uint16_t>(kBlockSize);
    fields.pathTableSize = pathTableSize_;
    fields.typeLPathTable = layout.jolietTypeLPathTableBlock;
    fields.typeMPathTable = layout.jolietTypeMPathTableBlock;
    fields.rootRecord = record;
    rec::encodeVolumeNumbers(fields, descriptor);
}

void Tree::writePathTables(const iso_layout::ImageLayout& layout, ImageSink& out) const {
    constexpr uint32_t kRecordSize = rec::path_record::kMaxLength;
    for (const bool bigEndian : {false, true}) {
        std::vector<uint8_t> table;
        uint8_t record[kRecordSize];
        const uint32_t rootLength = rec::encodeRootPathTableRecord(directoryBlock(*root_, layout),
                                                                   bigEndian, record, kRecordSize);
        table.insert(table.end(), record, record + rootLength);
        forEachBreadthFirst(*root_, [&](const Directory& directory) {
            if (directory.identifier == nullptr) {
                return;
            }
            const uint32_t length = rec::encodePathTableRecord(
                *directory.identifier, directoryBlock(directory, layout), directory.parent->number,
                bigEndian, record, kRecordSize);
            table.insert(table.end(), record, record + length);
        });
        const uint32_t block =
            bigEndian ? layout.jolietTypeMPathTableBlock : layout.jolietTypeLPathTableBlock;
        out.writeAt(uint64_t{block} * kBlockSize, table.data(), table.size());
    }
}

void Tree::writeDirectories(const iso_layout::ImageLayout& layout, ImageSink& out) const {
    uint8_t date[rec::kRecordDateSize];
    makeRecordDate(date);
    std::vector<const Directory*> pending{root_.get()};
    while (!pending.empty()) {
        const Directory& directory = *pending.back();
        pending.pop_back();
        std::vector<uint8_t> bytes(directory.dataLength);
        uint8_t record[rec::dir_record::kBufferSize];
        encodeDot(directory, rec::DirectoryRecordFields::Kind::Self, layout, date, record);
        std::memcpy(bytes.data(), record, kDotRecordLength);
        encodeDot(*directory.parent, rec::DirectoryRecordFields::Kind::Parent, layout, date,
                  record);
        std::memcpy(bytes.data() + kDotRecordLength, record, kDotRecordLength);
        const uint64_t first = directory.areaExtent;
        for (const Entry& entry : directory.entries) {
            const DirectoryNode& node = *entry.node;
            for (size_t i = 0; i < entry.slots.size(); ++i) {
                rec::DirectoryRecordFields fields;
                fields.identifier = entry.identifier;
                fields.hidden = entry.hidden;
                fields.recordingDate = date;
                if (entry.directory) {
                    fields.isDirectory = true;
                    fields.extent = directoryBlock(*entry.directory, layout);
                    fields.dataLength = entry.directory->dataLength;
                    pending.push_back(entry.directory.get());
                } else if (node.isMultiExtent()) {
                    // The same extents as the ISO 9660 records of the file.
                    const Placement& placed = node.sections[i].placement;
                    fields.extent = placed.areaExtent + layout.fileStart;
                    fields.dataLength = placed.dataLength;
                    fields.multiExtent = i + 1 < entry.slots.size();
                } else {
                    fields.extent =
                        iso_layout::imageExtent(node, layout.directoryStart, layout.fileStart);
                    fields.dataLength = node.placement.dataLength;
                }
                rec::encodeDirectoryRecord(fields, record, rec::dir_record::kBufferSize);
                const uint64_t at =
                    (entry.slots[i].block - first) * kBlockSize + entry.slots[i].offset;
                std::memcpy(bytes.data() + at, record, entry.recordLength);
            }
        }
        out.writeAt(uint64_t{directoryBlock(directory, layout)} * kBlockSize, bytes.data(),
                    bytes.size());
    }
}

}  // namespace joliet
