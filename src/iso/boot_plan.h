// How the boot records of an image that is written anew are carried over: which catalog
// is written, where each of its images comes from, and which bytes of the loader must
// name the loader file's new block (its boot info table, GRUB's pointer).
//
// A catalog with only its two first entries and a no-emulation image is written as the
// writer's own fixed catalog; any other is carried over entry by entry.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "iso/boot_catalog.h"

struct DirectoryNode;
class ImageSource;

namespace boot_plan {

// A boot info table, as isolinux and GRUB carry it at byte 8 of their loader: the block
// of the primary volume descriptor, the loader file's block and length, and the
// checksum of the file from byte 64 on.
struct BootInfoTable {
    bool valid = false;
    uint32_t fileLba = 0;
    uint32_t length = 0;
    uint32_t checksum = 0;
    // GRUB's second pointer at byte 2548, holding fileLba x 4 + 5.
    bool grubPointer = false;
};

// The table of the boot image at `loadRba` of `image`: valid when the primary volume
// descriptor block is 16, the file block is `loadRba`, the length is at least one block
// and lies inside the image, and the checksum holds.
BootInfoTable findBootInfoTable(ImageSource& image, uint32_t loadRba);

// Where the image of one section entry comes from.
struct SectionImage {
    size_t section = 0;
    size_t entry = 0;
    const DirectoryNode* file = nullptr;  // the tree's file at the entry's Load RBA
    // Otherwise the bytes are copied from the old image into the boot area, after the
    // default boot image, `areaOffset` bytes (whole blocks) into the area it takes there.
    uint64_t sourceOffset = 0;
    uint64_t bytes = 0;
    uint64_t areaOffset = 0;
};

struct Plan {
    bool carryCatalog = false;
    boot_catalog::Catalog catalog;
    std::vector<SectionImage> images;
    uint64_t carriedBytes = 0;  // of the copied section images, whole blocks
    BootInfoTable table;
    const DirectoryNode* tableFile = nullptr;
    // What of the old boot records the new image will not have.
    std::vector<std::string> notCarried;
};

// The plan for the boot records of the image in `image`, whose tree is `rootList` (its
// block size `blockSize`). Throws std::runtime_error when the image has no readable
// El Torito catalog.
Plan makePlan(ImageSource& image, const DirectoryNode* rootList, uint32_t blockSize);

// Bytes written over the copies of the loader in the new image, once everything else is
// there.
struct Patch {
    uint64_t offset = 0;
    std::vector<uint8_t> bytes;
};

// The entries pointed at their images in the new image (`fileBlock` gives a tree file's
// block, `bootBlock` is the default boot image's first block, the copied section images
// follow it from `carriedBlock`), and the catalog's bytes.
std::vector<uint8_t> catalogBytes(Plan& plan, uint32_t bootBlock, uint32_t carriedBlock,
                                  const std::function<uint32_t(const DirectoryNode&)>& fileBlock);

// The patches of the boot info table (and GRUB's pointer) in the written boot image
// (`bootImageBytes` long at `bootOffset`) and in the loader file (new block `fileBlock`).
std::vector<Patch> tablePatches(const Plan& plan, uint64_t bootOffset, uint64_t bootImageBytes,
                                uint32_t fileBlock);

}  // namespace boot_plan
