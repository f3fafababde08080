// The layout of a new image: directory numbers for the path tables, the block and
// offset of every directory record, the extents of directories and files, and the
// blocks of every structure of the image. A pure computation over the tree; nothing is
// written. What the layout computes for an entry goes into its `placement`; the entry's
// own fields (its old image block among them) stay as they are.
//
// Every limit of the format is checked here, before the first byte of an image is
// written: those of the tree by checkTreeLimits, the Data Length of a directory by
// layoutDirectory, the blocks of the image and of its boot image by planImage.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "iso/directory_node.h"
#include "iso/limits.h"

namespace iso_layout {

// The tree or the image does not fit the format (too long an identifier, too many
// directories, too deep a tree, too large a file or image). The text says what and
// where.
class LimitError : public std::length_error {
  public:
    using std::length_error::length_error;
};

// Checks every entry of the tree below `rootList` against the format's limits: each
// identifier is 1 to kMaxIdentifierLength bytes, each directory has its entry list and
// lies at most kMaxDirectoryDepth levels below the root, there are at most
// kMaxDirectories directories (root included), and each file holds at most kMaxFileSize
// bytes. Throws LimitError naming the first entry that does not fit. The layout below
// expects a tree this check accepted.
void checkTreeLimits(const DirectoryNode* rootList);

// Calls `visit` for every directory list in path table order: the root list first,
// then level by level, grouped by parent in the parents' order, in list order.
void forEachListBreadthFirst(DirectoryNode* rootList,
                             const std::function<void(DirectoryNode* list)>& visit);

// Numbers the directories breadth first (the root is 1) and returns the Path Table
// Size in bytes.
uint32_t numberDirectories(DirectoryNode* rootList);

// The parent Data Length with which the root list is laid out: the root is its own
// parent, so its ".." record takes the list's own extent and Data Length. A directory
// always holds its two dot records, so no real parent is 0 bytes long.
constexpr uint32_t kRootParentSize = 0;

// Lays out `list` and every directory below it with `blockSize`-byte blocks; returns
// the list's Data Length. `parentSize` and `parentExtent` are the Data Length and the
// area extent of the directory that holds the list (kRootParentSize and 0 for the
// root). `directoryBlocks` and `fileBlocks` are the next free blocks of the directory
// and the file area, counted from each area's start. Directory extents are handed out
// depth first in pre-order, file blocks in the same order by directory. A directory of
// more than 4 GiB of records throws LimitError.
uint32_t layoutDirectory(uint32_t parentSize, uint32_t parentExtent, DirectoryNode* list,
                         uint64_t& directoryBlocks, uint64_t& fileBlocks, uint32_t blockSize);

// The block of an entry's data in the new image, from the first blocks of the directory
// and the file area.
inline uint32_t imageExtent(const DirectoryNode& node, uint32_t directoryStart,
                            uint32_t fileStart) {
    return node.placement.areaExtent + (node.isDirectory() ? directoryStart : fileStart);
}

// The blocks of every structure of an image.
struct ImageLayout {
    uint32_t blockSize = 2048;
    uint32_t pathTableSize = 0;
    uint32_t pathTableBlocks = 0;  // P, per table
    uint32_t directoryBlocks = 0;  // D
    uint32_t fileBlocks = 0;       // F
    bool hasBootImage = false;
    uint32_t bootImageBlocks = 0;   // B, with the section images copied after the boot image
    uint16_t bootSectorCount = 0;   // the boot image's blocks in 512-byte virtual sectors
    uint64_t bootImageBytes = 0;    // the boot image file's size
    uint32_t carriedBootBlock = 0;  // first block of the section images after it
    uint32_t descriptorCount = 0;   // volume descriptors, the terminator included
    uint32_t primaryDescriptorBlock = iso_limits::kPrimaryDescriptorBlock;
    uint32_t bootRecordBlock = 0;
    uint32_t terminatorBlock = 0;
    uint32_t bootCatalogBlock = 0;
    uint32_t typeLPathTableBlock = 0;
    uint32_t typeMPathTableBlock = 0;
    uint32_t directoryStart = 0;
    uint32_t bootImageStart = 0;
    uint32_t fileStart = 0;
    uint32_t volumeSpaceSize = 0;  // blocks of the whole image
    // Joliet, when the image has it: its descriptor right before the terminator, its
    // path tables and directories after everything else. All 0 without Joliet.
    uint32_t jolietDescriptorBlock = 0;
    uint32_t jolietPathTableBlocks = 0;  // per table
    uint32_t jolietTypeLPathTableBlock = 0;
    uint32_t jolietTypeMPathTableBlock = 0;
    uint32_t jolietDirectoryStart = 0;
    uint32_t jolietDirectoryBlocks = 0;
    // System Use continuation areas, after everything else but a backup GPT.
    uint32_t continuationStart = 0;
    uint32_t continuationBlocks = 0;
};

// The image layout from the sizes of its parts. `bootImageBytes` is the size of the boot
// image file (used only with a boot image); `carriedBootBytes` (whole blocks) those of
// the catalog's other images that follow it. Throws LimitError when the image would have
// more than 2^32 - 1 blocks or, unless the catalog keeps each entry's own Sector Count
// (`ownSectorCounts`), the boot image more sectors than the catalog can count. With
// `joliet` one more descriptor goes before the terminator, which moves the terminator and
// everything after it one block on.
ImageLayout planImage(uint32_t pathTableSize, uint64_t directoryBlocks, uint64_t fileBlocks,
                      bool hasBootImage, uint64_t bootImageBytes, uint32_t blockSize,
                      uint32_t virtualSectorSize, uint64_t carriedBootBytes = 0,
                      bool ownSectorCounts = false, bool joliet = false);

// Places the Joliet path tables (`pathTableSize` bytes each) and directories
// (`directoryBlocks`) after everything `layout` (planned with `joliet`) holds, and grows
// its Volume Space Size. Throws LimitError when the image would have more than 2^32 - 1
// blocks.
void placeJoliet(ImageLayout& layout, uint32_t pathTableSize, uint64_t directoryBlocks);

}  // namespace iso_layout
