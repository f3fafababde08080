// The El Torito boot catalog as a whole: the Validation Entry, the Initial/Default Entry
// and every section header with its section entries and their extensions, up to the
// final header. Decoded from the catalog's block and encoded back with new Load RBAs.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "iso/records.h"

namespace boot_catalog {

using EntryBytes = std::array<uint8_t, iso_record::kCatalogEntrySize>;

// One bootable (or not bootable) image the catalog names.
struct Entry {
    EntryBytes bytes{};                  // the entry as stored
    std::vector<EntryBytes> extensions;  // section entry extensions that follow it
    uint8_t platformId = 0;  // of the validation entry (initial) or of the section header
    bool bootable = false;
    uint8_t mediaType = 0;  // 0 no emulation, 1-3 floppies, 4 hard disk
    uint16_t loadSegment = 0;
    uint8_t systemType = 0;
    uint16_t sectorCount = 0;
    uint32_t loadRba = 0;
};

struct Section {
    EntryBytes header{};
    std::vector<Entry> entries;
};

struct Catalog {
    EntryBytes validation{};
    Entry initial;
    std::vector<Section> sections;
    // Why the sections after the initial entry could not be read ("" when they could);
    // `sections` is then empty.
    std::string unreadable;

    // The initial entry, then every section entry in catalog order.
    std::vector<const Entry*> entries() const;
    bool hasSections() const { return !sections.empty(); }
};

// Decodes the catalog in `bytes` (`size` bytes, at most one block, at byte `at` of its
// image). Throws iso_record::RecordError (notThisRecord) when the validation entry or the
// initial entry is not what it must be. Sections that run past `size`, that never reach
// a final header or whose entries are not entries are not decoded: `unreadable` says why.
Catalog decode(const uint8_t* bytes, size_t size, uint64_t at);

// The catalog's bytes as they are to be written: the validation entry, then each entry
// with the Load RBA and Sector Count it holds in `catalog` (set them before), sections
// in order with the last header marked final. Sections left without entries are
// dropped.
std::vector<uint8_t> encode(const Catalog& catalog);

// Sets an entry's Load RBA and Sector Count in its stored bytes and fields.
void setImage(Entry& entry, uint32_t loadRba, uint16_t sectorCount);

// Text for a platform ID: "80x86", "PowerPC", "Mac", "UEFI", or the number.
std::string platformName(uint8_t platformId);

// Bytes of the image an entry boots, as a firmware loads it: the emulated floppy sizes
// for media types 1 to 3, Sector Count x 512 for no emulation; 0 for a hard disk, whose
// size its MBR gives (hardDiskImageBytes).
uint64_t emulatedImageBytes(const Entry& entry);

// The size of a hard disk emulation image from its first 512 bytes: the end of the one
// partition its MBR holds. Throws std::runtime_error when the MBR has no signature or
// not exactly one partition.
uint64_t hardDiskImageBytes(const uint8_t* mbr);

}  // namespace boot_catalog
