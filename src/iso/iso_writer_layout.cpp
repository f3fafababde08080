#include "iso/iso_writer_layout.h"

#include "iso/system_use.h"

#include <algorithm>
#include <cinttypes>
#include <deque>
#include <string>
#include <vector>

#include "base/console_log.h"
#include "iso/limits.h"
#include "iso/records.h"

namespace iso_layout {

namespace {

bool isSubdirectory(const DirectoryNode* node) {
    return node->isDirectory() && !node->isDotEntry();
}

uint64_t roundUpBlocks(uint64_t bytes, uint32_t blockSize) {
    return (bytes + blockSize - 1) / blockSize;
}

// Where an entry lies in the tree, for messages: "\A\B\NAME".
std::string entryPath(const std::vector<const DirectoryNode*>& parents, const DirectoryNode* node) {
    std::string path;
    for (const DirectoryNode* parent : parents) {
        path += "\\" + parent->identifier;
    }
    return path + "\\" + node->identifier;
}

// Where a local entry's data comes from, for messages about it.
std::string localSource(const DirectoryNode* node) {
    if (node->inImage) {
        return std::string();
    }
    return " (local file " + (node->path.empty() ? node->name : node->path + "/" + node->name) +
           ")";
}

void checkList(const DirectoryNode* list, std::vector<const DirectoryNode*>& parents,
               uint64_t& directories) {
    for (const DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
        if (node->isDotEntry()) {
            continue;
        }
        const size_t length = node->identifier.size();
        if (length == 0) {
            throw LimitError("an entry below \"" + entryPath(parents, node) +
                             "\" has an empty identifier");
        }
        if (length > iso_limits::kMaxIdentifierLength) {
            throw LimitError(formatText(
                "identifier of \"%s\" is %zu bytes long; an image holds "
                "at most %u",
                entryPath(parents, node).c_str(), length, iso_limits::kMaxIdentifierLength));
        }
        if (!node->isDirectory()) {
            // A file stored in several records fits: each record holds a 32-bit part.
            if (!node->isMultiExtent() && node->size > iso_limits::kMaxFileSize) {
                throw LimitError(formatText(
                    "file \"%s\"%s is %" PRIu64 " bytes; an image file holds at most %" PRIu64,
                    entryPath(parents, node).c_str(), localSource(node).c_str(), node->size,
                    iso_limits::kMaxFileSize));
            }
            continue;
        }
        if (node->children == nullptr) {
            throw LimitError("directory \"" + entryPath(parents, node) +
                             "\" has no entry list, not even its \".\" and \"..\" entries");
        }
        if (iso_limits::exceedsDirectoryDepth(parents.size() + 1)) {
            throw LimitError(formatText("directory \"%s\" lies more than %u levels below the root",
                                        entryPath(parents, node).c_str(),
                                        iso_limits::kMaxDirectoryDepth));
        }
        if (++directories > iso_limits::kMaxDirectories) {
            throw LimitError(
                formatText("the tree holds more than %u directories, more than the "
                           "path tables can number (at \"%s\")",
                           iso_limits::kMaxDirectories, entryPath(parents, node).c_str()));
        }
        parents.push_back(node);
        checkList(node->children.get(), parents, directories);
        parents.pop_back();
    }
}

}  // namespace

void checkTreeLimits(const DirectoryNode* rootList) {
    std::vector<const DirectoryNode*> parents;
    uint64_t directories = 1;  // the root
    checkList(rootList, parents, directories);
}

void forEachListBreadthFirst(DirectoryNode* rootList,
                             const std::function<void(DirectoryNode* list)>& visit) {
    std::deque<DirectoryNode*> queue;
    if (rootList != nullptr) {
        queue.push_back(rootList);
    }
    while (!queue.empty()) {
        DirectoryNode* list = queue.front();
        queue.pop_front();
        visit(list);
        for (DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
            if (isSubdirectory(node) && node->children != nullptr) {
                queue.push_back(node->children.get());
            }
        }
    }
}

uint32_t numberDirectories(DirectoryNode* rootList) {
    if (rootList == nullptr) {
        return 10;
    }
    rootList->placement.parentNumber = 1;
    uint32_t counter = 1;
    uint64_t sum = 0;
    forEachListBreadthFirst(rootList, [&](DirectoryNode* list) {
        const uint16_t parent = list->placement.parentNumber;
        for (DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
            if (!isSubdirectory(node)) {
                continue;
            }
            ++counter;
            node->placement.directoryNumber = static_cast<uint16_t>(counter);
            node->placement.parentNumber = parent;
            sum += iso_record::pathTableRecordLength(node->identifier.size());
        }
        // The lists of the subdirectories learn their own number before they are
        // visited, which is all the second pass over the list has to do.
        for (DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
            if (isSubdirectory(node) && node->children != nullptr) {
                node->children->placement.parentNumber = node->placement.directoryNumber;
            }
        }
    });
    if (counter > iso_limits::kMaxDirectories) {
        throw LimitError(
            formatText("the tree holds %u directories; the path tables number at "
                       "most %u",
                       counter, iso_limits::kMaxDirectories));
    }
    // At most 65535 records of at most 8 + 255 + 1 bytes: this cannot pass 32 bits.
    return static_cast<uint32_t>(sum + iso_record::pathTableRecordLength(1));
}

uint32_t layoutDirectory(uint32_t parentSize, uint32_t parentExtent, DirectoryNode* list,
                         uint64_t& directoryBlocks, uint64_t& fileBlocks, uint32_t blockSize) {
    const uint64_t first = directoryBlocks;
    uint64_t offset = 0;
    // One record and, for a file, its data blocks.
    auto place = [&](Placement& placed, uint32_t recordLength, bool isFile, uint64_t size) {
        placed.recordLength = recordLength;
        if (offset + placed.recordLength > blockSize) {
            ++directoryBlocks;
            offset = 0;
        }
        placed.recordBlock = static_cast<uint32_t>(directoryBlocks);
        placed.recordOffset = static_cast<uint32_t>(offset);
        offset += placed.recordLength;
        if (isFile) {
            placed.areaExtent = size != 0 ? static_cast<uint32_t>(fileBlocks) : 0;
            placed.dataLength = static_cast<uint32_t>(size);
            fileBlocks += roundUpBlocks(size, blockSize);
        }
    };
    for (DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
        const uint32_t recordLength =
            node->isDotEntry() ? static_cast<uint32_t>(iso_record::dir_record::kDotRecordLength)
                               : iso_record::directoryRecordLength(node->identifier.size());
        if (!node->isMultiExtent()) {
            const size_t field =
                node->systemUse.empty()
                    ? 0
                    : system_use::fieldLength(
                          system_use::split(node->systemUse, recordLength, blockSize),
                          recordLength);
            place(node->placement, recordLength + static_cast<uint32_t>(field), node->isFile(),
                  node->size);
            continue;
        }
        // Each record of such a file in turn, its data right after the previous one's;
        // the entry's own placement is that of its first record.
        for (FileSection& section : node->sections) {
            place(section.placement, recordLength, true, section.size);
        }
        node->placement = node->sections.front().placement;
    }
    const uint64_t dataLength = (directoryBlocks - first) * blockSize + offset;
    if (dataLength > iso_limits::kMaxFileSize) {
        throw LimitError(formatText("a directory of %" PRIu64
                                    " bytes of records does not fit a 32-bit Data Length",
                                    dataLength));
    }
    ++directoryBlocks;
    const uint32_t length = static_cast<uint32_t>(dataLength);
    const bool isRoot = parentSize == kRootParentSize;
    for (DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
        Placement& placed = node->placement;
        if (node->name == "." || (node->name == ".." && isRoot)) {
            placed.areaExtent = static_cast<uint32_t>(first);
            placed.dataLength = length;
        } else if (node->name == "..") {
            placed.areaExtent = parentExtent;
            placed.dataLength = parentSize;
        } else if (node->isDirectory()) {
            placed.areaExtent = static_cast<uint32_t>(directoryBlocks);
            placed.dataLength =
                layoutDirectory(length, static_cast<uint32_t>(first), node->children.get(),
                                directoryBlocks, fileBlocks, blockSize);
        }
    }
    return length;
}

ImageLayout planImage(uint32_t pathTableSize, uint64_t directoryBlocks, uint64_t fileBlocks,
                      bool hasBootImage, uint64_t bootImageBytes, uint32_t blockSize,
                      uint32_t virtualSectorSize, uint64_t carriedBootBytes, bool ownSectorCounts,
                      bool joliet) {
    ImageLayout layout;
    layout.blockSize = blockSize;
    layout.pathTableSize = pathTableSize;
    const uint64_t pathTableBlocks = pathTableSize / blockSize + 1;
    const uint64_t ownBlocks = hasBootImage ? roundUpBlocks(bootImageBytes, blockSize) : 0;
    const uint64_t bootBlocks =
        ownBlocks + (hasBootImage ? roundUpBlocks(carriedBootBytes, blockSize) : 0);
    const uint64_t sectors = ownBlocks * (blockSize / virtualSectorSize);
    if (!ownSectorCounts && sectors > iso_limits::kMaxBootSectorCount) {
        throw LimitError(formatText("the boot image of %" PRIu64 " bytes takes %" PRIu64
                                    " virtual sectors; the boot catalog counts at most %u",
                                    bootImageBytes, sectors, iso_limits::kMaxBootSectorCount));
    }
    const uint64_t descriptors = (hasBootImage ? 3 : 2) + (joliet ? 1 : 0);
    // The descriptors, the terminator among them, then the boot catalog when there is one.
    const uint64_t typeL =
        iso_limits::kPrimaryDescriptorBlock + descriptors + (hasBootImage ? 1 : 0);
    const uint64_t directoryStart = typeL + 2 * pathTableBlocks;
    const uint64_t bootStart = directoryStart + directoryBlocks;
    const uint64_t fileStart = bootStart + bootBlocks;
    const uint64_t total = fileStart + fileBlocks;
    if (total > iso_limits::kMaxBlocks) {
        throw LimitError(formatText("the image would take %" PRIu64
                                    " blocks of %u bytes; an image holds at most %" PRIu64,
                                    total, blockSize, iso_limits::kMaxBlocks));
    }
    layout.pathTableBlocks = static_cast<uint32_t>(pathTableBlocks);
    layout.directoryBlocks = static_cast<uint32_t>(directoryBlocks);
    layout.fileBlocks = static_cast<uint32_t>(fileBlocks);
    layout.hasBootImage = hasBootImage;
    layout.bootImageBlocks = static_cast<uint32_t>(bootBlocks);
    layout.bootSectorCount = static_cast<uint16_t>(std::min<uint64_t>(sectors, UINT16_MAX));
    layout.bootImageBytes = hasBootImage ? bootImageBytes : 0;
    layout.carriedBootBlock = hasBootImage ? static_cast<uint32_t>(bootStart + ownBlocks) : 0;
    layout.descriptorCount = static_cast<uint32_t>(descriptors);
    layout.bootRecordBlock = hasBootImage ? iso_limits::kBootRecordBlock : 0;
    layout.terminatorBlock =
        static_cast<uint32_t>(iso_limits::kPrimaryDescriptorBlock + descriptors - 1);
    layout.bootCatalogBlock = hasBootImage ? iso_limits::kBootCatalogBlock + (joliet ? 1 : 0) : 0;
    layout.jolietDescriptorBlock = joliet ? layout.terminatorBlock - 1 : 0;
    layout.typeLPathTableBlock = static_cast<uint32_t>(typeL);
    layout.typeMPathTableBlock = static_cast<uint32_t>(typeL + pathTableBlocks);
    layout.directoryStart = static_cast<uint32_t>(directoryStart);
    layout.bootImageStart = hasBootImage ? static_cast<uint32_t>(bootStart) : 0;
    layout.fileStart = static_cast<uint32_t>(fileStart);
    layout.volumeSpaceSize = static_cast<uint32_t>(total);
    return layout;
}

void placeJoliet(ImageLayout& layout, uint32_t pathTableSize, uint64_t directoryBlocks) {
    const uint64_t pathTableBlocks = pathTableSize / layout.blockSize + 1;
    const uint64_t typeL = layout.volumeSpaceSize;
    const uint64_t directoryStart = typeL + 2 * pathTableBlocks;
    const uint64_t total = directoryStart + directoryBlocks;
    if (total > iso_limits::kMaxBlocks) {
        throw LimitError(formatText("the image with its Joliet tree would take %" PRIu64
                                    " blocks of %u bytes; an image holds at most %" PRIu64,
                                    total, layout.blockSize, iso_limits::kMaxBlocks));
    }
    layout.jolietPathTableBlocks = static_cast<uint32_t>(pathTableBlocks);
    layout.jolietTypeLPathTableBlock = static_cast<uint32_t>(typeL);
    layout.jolietTypeMPathTableBlock = static_cast<uint32_t>(typeL + pathTableBlocks);
    layout.jolietDirectoryStart = static_cast<uint32_t>(directoryStart);
    layout.jolietDirectoryBlocks = static_cast<uint32_t>(directoryBlocks);
    layout.volumeSpaceSize = static_cast<uint32_t>(total);
}

}  // namespace iso_layout
