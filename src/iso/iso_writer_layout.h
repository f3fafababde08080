// The layout of a new image: directory numbers for the path tables, the block and
// offset of every directory record, the extents of directories and files, and the
// blocks of every structure of the image. A pure computation over the tree; nothing is
// written. Whatever the format cannot hold is refused here, before the first byte of an
// image is written.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "iso/directory_node.h"
#include "iso/limits.h"

namespace iso_layout {

// The tree or the image does not fit the format (too long an identifier, too many
// directories, too large a file or image). The text says what and where.
class LimitError : public std::length_error {
  public:
    using std::length_error::length_error;
};

// Checks every entry of the tree below `rootList` against the format's limits: each
// identifier is 1 to 221 bytes, there are at most 65535 directories (root included).
// Throws LimitError naming the first entry that does not fit.
void checkTreeLimits(const DirectoryNode* rootList);

// Calls `visit` for every directory list in path table order: the root list first,
// then level by level, grouped by parent in the parents' order, in list order.
void forEachListBreadthFirst(DirectoryNode* rootList,
                             const std::function<void(DirectoryNode* list)>& visit);

// Numbers the directories breadth first (the root is 1) and returns the Path Table
// Size in bytes.
uint32_t numberDirectories(DirectoryNode* rootList);

// Lays out `list` and every directory below it with `blockSize`-byte blocks; returns
// the list's Data Length. `directoryBlocks` and `fileBlocks` are the next free blocks of
// the directory and the file area, counted from each area's start. A directory of more
// than 4 GiB of records throws LimitError.
uint32_t layoutDirectory(uint32_t parentSize, uint32_t parentExtent, DirectoryNode* list,
                         uint64_t& directoryBlocks, uint64_t& fileBlocks, uint32_t blockSize);

// The blocks of every structure of an image.
struct ImageLayout {
    uint32_t blockSize = 2048;
    uint32_t pathTableSize = 0;
    uint32_t pathTableBlocks = 0;  // P, per table
    uint32_t directoryBlocks = 0;  // D
    uint32_t fileBlocks = 0;       // F
    bool hasBootImage = false;
    uint32_t bootImageBlocks = 0;  // B
    uint16_t bootSectorCount = 0;  // B in 512-byte virtual sectors
    uint32_t descriptorCount = 0;  // volume descriptors, the terminator included
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
};

// The image layout from the sizes of its parts. `bootImageBytes` is the size of the boot
// image file (used only with a boot image). Throws LimitError when the image would have
// more than 2^32 - 1 blocks or the boot image more sectors than the catalog can count.
ImageLayout planImage(uint32_t pathTableSize, uint64_t directoryBlocks, uint64_t fileBlocks,
                      bool hasBootImage, uint64_t bootImageBytes, uint32_t blockSize,
                      uint32_t virtualSectorSize);

}  // namespace iso_layout
