#include "iso/boot_catalog.h"

#include <cstring>
#include <stdexcept>

#include "iso/byte_order.h"
#include "iso/limits.h"
#include "iso/records.h"

using iso_bytes::getLe16;
using iso_bytes::getLe32;
using iso_bytes::putLe16;
using iso_bytes::putLe32;
namespace rec = iso_record;

namespace boot_catalog {

namespace {

constexpr size_t kEntrySize = rec::kCatalogEntrySize;

EntryBytes entryAt(const uint8_t* bytes, size_t offset) {
    EntryBytes entry;
    std::memcpy(entry.data(), bytes + offset, kEntrySize);
    return entry;
}

Entry decodeEntry(const EntryBytes& bytes, uint8_t platformId) {
    Entry entry;
    entry.bytes = bytes;
    entry.platformId = platformId;
    entry.bootable = bytes[rec::initial_entry::kBootIndicator] == rec::initial_entry::kBootable;
    entry.mediaType = bytes[rec::initial_entry::kMediaType] & rec::section_entry::kMediaTypeMask;
    entry.loadSegment = getLe16(bytes.data(), rec::initial_entry::kLoadSegment);
    entry.systemType = bytes[rec::initial_entry::kSystemType];
    entry.sectorCount = getLe16(bytes.data(), rec::initial_entry::kSectorCount);
    entry.loadRba = getLe32(bytes.data(), rec::initial_entry::kLoadRba);
    return entry;
}

bool isSectionHeader(uint8_t indicator) {
    return indicator == rec::section_header::kMore || indicator == rec::section_header::kFinal;
}

// The sections from byte `offset` on; throws std::runtime_error saying why they are not
// a catalog's sections.
std::vector<Section> decodeSections(const uint8_t* bytes, size_t size, size_t offset) {
    std::vector<Section> sections;
    auto need = [&](const char* what) {
        if (offset + kEntrySize > size) {
            throw std::runtime_error(std::string(what) + " at byte " + std::to_string(offset) +
                                     " of the catalog would run past its block (" +
                                     std::to_string(size) + " bytes)");
        }
    };
    for (;;) {
        need("a section header");
        const uint8_t indicator = bytes[offset + rec::section_header::kIndicator];
        if (!isSectionHeader(indicator)) {
            throw std::runtime_error("the entry at byte " + std::to_string(offset) +
                                     " of the catalog is not a section header (indicator " +
                                     std::to_string(indicator) +
                                     "); the catalog has no final section header");
        }
        Section section;
        section.header = entryAt(bytes, offset);
        const uint8_t platform = bytes[offset + rec::section_header::kPlatformId];
        const uint16_t count = getLe16(bytes, offset + rec::section_header::kEntryCount);
        offset += kEntrySize;
        for (uint16_t i = 0; i < count; ++i) {
            need("a section entry");
            const uint8_t boot = bytes[offset + rec::initial_entry::kBootIndicator];
            if (boot != rec::initial_entry::kBootable && boot != rec::section_entry::kNotBootable) {
                throw std::runtime_error("the entry at byte " + std::to_string(offset) +
                                         " of the catalog is not a section entry (indicator " +
                                         std::to_string(boot) + ")");
            }
            Entry entry = decodeEntry(entryAt(bytes, offset), platform);
            bool extensionFollows = (bytes[offset + rec::initial_entry::kMediaType] &
                                     rec::section_entry::kExtensionFollows) != 0;
            offset += kEntrySize;
            while (extensionFollows) {
                need("a section entry extension");
                if (bytes[offset + rec::section_extension::kIndicator] !=
                    rec::section_extension::kExtension) {
                    throw std::runtime_error("the entry at byte " + std::to_string(offset) +
                                             " of the catalog is not the extension its entry "
                                             "announces");
                }
                entry.extensions.push_back(entryAt(bytes, offset));
                extensionFollows = (bytes[offset + rec::section_extension::kFlags] &
                                    rec::section_extension::kAnotherFollows) != 0;
                offset += kEntrySize;
            }
            section.entries.push_back(std::move(entry));
        }
        sections.push_back(std::move(section));
        if (indicator == rec::section_header::kFinal) {
            return sections;
        }
    }
}

}  // namespace

std::vector<const Entry*> Catalog::entries() const {
    std::vector<const Entry*> all{&initial};
    for (const Section& section : sections) {
        for (const Entry& entry : section.entries) {
            all.push_back(&entry);
        }
    }
    return all;
}

Catalog decode(const uint8_t* bytes, size_t size, uint64_t at) {
    if (size < 2 * kEntrySize) {
        throw rec::RecordError(rec::RecordError::Kind::notThisRecord,
                               "boot catalog at byte " + std::to_string(at) + " holds " +
                                   std::to_string(size) + " bytes, fewer than its two entries");
    }
    if (size > iso_limits::kMaxBootCatalogBytes) {
        size = iso_limits::kMaxBootCatalogBytes;
    }
    Catalog catalog;
    const rec::ValidationEntry validation = rec::decodeValidationEntry(bytes, at);
    rec::decodeInitialEntry(bytes + kEntrySize, at + kEntrySize);
    catalog.validation = entryAt(bytes, 0);
    catalog.initial = decodeEntry(entryAt(bytes, kEntrySize), validation.platformId);

    const size_t first = 2 * kEntrySize;
    // Without a section header after it, the initial entry is the whole catalog.
    if (first + kEntrySize > size || !isSectionHeader(bytes[first])) {
        return catalog;
    }
    try {
        catalog.sections = decodeSections(bytes, size, first);
    } catch (const std::runtime_error& e) {
        catalog.unreadable = e.what();
    }
    return catalog;
}

void setImage(Entry& entry, uint32_t loadRba, uint16_t sectorCount) {
    entry.loadRba = loadRba;
    entry.sectorCount = sectorCount;
    putLe32(entry.bytes.data(), rec::initial_entry::kLoadRba, loadRba);
    putLe16(entry.bytes.data(), rec::initial_entry::kSectorCount, sectorCount);
}

std::vector<uint8_t> encode(const Catalog& catalog) {
    std::vector<uint8_t> bytes;
    auto add = [&bytes](const EntryBytes& entry) {
        bytes.insert(bytes.end(), entry.begin(), entry.end());
    };
    add(catalog.validation);
    add(catalog.initial.bytes);
    std::vector<const Section*> kept;
    for (const Section& section : catalog.sections) {
        if (!section.entries.empty()) {
            kept.push_back(&section);
        }
    }
    for (size_t i = 0; i < kept.size(); ++i) {
        EntryBytes header = kept[i]->header;
        header[rec::section_header::kIndicator] =
            i + 1 == kept.size() ? rec::section_header::kFinal : rec::section_header::kMore;
        putLe16(header.data(), rec::section_header::kEntryCount,
                static_cast<uint16_t>(kept[i]->entries.size()));
        add(header);
        for (const Entry& entry : kept[i]->entries) {
            add(entry.bytes);
            for (const EntryBytes& extension : entry.extensions) {
                add(extension);
            }
        }
    }
    return bytes;
}

std::string platformName(uint8_t platformId) {
    switch (platformId) {
        case 0:
            return "80x86";
        case 1:
            return "PowerPC";
        case 2:
            return "Mac";
        case 0xEF:
            return "UEFI";
        default:
            return "platform " + std::to_string(platformId);
    }
}

uint64_t emulatedImageBytes(const Entry& entry) {
    switch (entry.mediaType) {
        case rec::boot_media::kFloppy12:
            return iso_limits::kFloppy12Bytes;
        case rec::boot_media::kFloppy144:
            return iso_limits::kFloppy144Bytes;
        case rec::boot_media::kFloppy288:
            return iso_limits::kFloppy288Bytes;
        case rec::boot_media::kHardDisk:
            return 0;
        default:
            return uint64_t{entry.sectorCount} * iso_limits::kVirtualSectorSize;
    }
}

uint64_t hardDiskImageBytes(const uint8_t* mbr) {
    constexpr size_t kPartitionTable = 446;
    constexpr size_t kPartitionEntrySize = 16;
    if (mbr[510] != 0x55 || mbr[511] != 0xAA) {
        throw std::runtime_error("the hard disk boot image has no MBR signature");
    }
    uint64_t end = 0;
    int partitions = 0;
    for (size_t i = 0; i < 4; ++i) {
        const uint8_t* entry = mbr + kPartitionTable + i * kPartitionEntrySize;
        const uint32_t start = getLe32(entry, 8);
        const uint32_t sectors = getLe32(entry, 12);
        if (entry[4] == 0 || sectors == 0) {
            continue;
        }
        ++partitions;
        end = (uint64_t{start} + sectors) * iso_limits::kVirtualSectorSize;
    }
    if (partitions != 1) {
        throw std::runtime_error("the MBR of the hard disk boot image holds " +
                                 std::to_string(partitions) + " partitions, not one");
    }
    return end;
}

}  // namespace boot_catalog
