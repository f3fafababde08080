// The System Area (the first 32 KiB) of an image that is written anew: carried over from
// the old image and repatched where it points into the image, for the forms hybrid CDs
// use to boot from a disk:
//   - an MBR: the boot file's address at byte 432 (isohybrid: its 512-byte sector;
//     GRUB: that sector + 4), partitions that span the image sized to the new image,
//     partitions that start at a boot image or a file moved with it;
//   - a GPT: the primary header and entries (the new size, each partition at its
//     content's new position), and a backup of both at the new image's end;
//   - an Apple partition map, whose partitions name structures the new image does not
//     have: its entries are cleared.
// A System Area holding anything else is written as zeros.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "iso/boot_plan.h"
#include "iso/iso_writer_layout.h"
#include "iso/records.h"

struct DirectoryNode;
class ImageSource;

namespace system_area {

constexpr size_t kAreaBytes = size_t{iso_limits::kSystemAreaBlocks} * iso_limits::kDefaultBlockSize;
constexpr uint64_t kSector = iso_record::kDiskSectorSize;

// Content of the old image that the new image holds elsewhere, found by where it started:
// the default boot image, a section entry's image (`image`, an index into the boot
// plan's images), or a file of the tree.
struct Carried {
    enum class Kind { defaultBootImage, sectionImage, file } kind = Kind::file;
    size_t image = 0;
    const DirectoryNode* file = nullptr;
    bool bootImage = false;  // a boot catalog entry's image starts here
};
// By the byte offset at which the content starts in the old image.
using CarriedStarts = std::map<uint64_t, Carried>;

// What the new image holds of the old one: every file of the tree below `rootList` (its
// blocks `blockSize` bytes) and, when the new image has boot records (`boot` not null),
// every image of the catalog. A file wins over a boot image at the same place: the file
// holds the whole loader (GRUB's core follows its El Torito sectors), the boot image's
// copy perhaps only its Sector Count.
CarriedStarts carriedStarts(const DirectoryNode* rootList, uint32_t blockSize,
                            const boot_plan::Plan* boot);

// The new byte offset of `carried` in the image laid out as `layout`.
uint64_t newOffset(const Carried& carried, const boot_plan::Plan& boot,
                   const iso_layout::ImageLayout& layout);

// One reference into the image found in the System Area, to be rewritten.
struct Reference {
    enum class Kind {
        bootAddress,  // the 64-bit sector at byte 432, `delta` added
        mbrSpanning,  // MBR partition `index` runs to the image's end
        mbrMoved,     // MBR partition `index` starts at a carried content
        gptSpanning,  // GPT entry `index` runs to the image's end
        gptMoved,     // GPT entry `index` starts at a carried content
    } kind = Kind::bootAddress;
    size_t index = 0;
    uint64_t delta = 0;
    uint64_t oldOffset = 0;  // of the content, for the moved kinds and the boot address
};

struct Plan {
    bool keep = false;          // write `area` repatched; otherwise zeros
    std::vector<uint8_t> area;  // the old System Area, dropped parts cleared
    std::vector<Reference> references;
    bool gpt = false;
    uint32_t gptEntriesLba = 0;  // of the primary entries
    uint32_t gptEntryCount = 0;
    uint32_t gptEntrySize = 0;
    uint32_t tailBlocks = 0;  // 2048-byte blocks the backup GPT adds at the image's end
    // What of the old System Area the new image will not have, each text to follow
    // "the new image will not keep ".
    std::vector<std::string> notKept;
};

// Finds what the old image's System Area `area` (kAreaBytes) holds. `oldVolumeBytes` is
// the old volume's size; `carried` what the new image keeps.
Plan makePlan(const uint8_t* area, uint64_t oldVolumeBytes, const CarriedStarts& carried);
// The same, reading `image`. An image too short for a System Area has none.
Plan makePlan(ImageSource& image, const DirectoryNode* rootList, uint32_t blockSize,
              const boot_plan::Plan* boot);

// The System Area of the new image and the backup GPT for its end.
struct Written {
    std::vector<uint8_t> area;
    uint64_t tailOffset = 0;  // byte offset of `tail` in the new image
    std::vector<uint8_t> tail;
};

// The plan's area repatched for a new image of `newImageBytes` bytes (its backup GPT
// included), in which the content found at `oldOffset` starts at `moved(oldOffset)`.
Written repatch(const Plan& plan, uint64_t newImageBytes,
                const std::function<uint64_t(uint64_t oldOffset)>& moved);

// The CRC-32 of UEFI (ISO-HDLC, reflected 0xEDB88320).
uint32_t crc32(const uint8_t* bytes, size_t count);

}  // namespace system_area
