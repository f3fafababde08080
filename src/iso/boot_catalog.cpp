#include "iso/boot_catalog.h"

#include <cinttypes>
#include <cstring>
#include <stdexcept>

#include "base/console_log.h"
#include "iso/limits.h"
#include "iso/records.h"

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
    const rec::InitialEntry fields = rec::decodeInitialEntryFields(bytes.data());
    Entry entry;
    entry.bytes = bytes;
    entry.platformId = platformId;
    entry.bootable = fields.bootable();
    entry.mediaType = fields.emulation();
    entry.loadSegment = fields.loadSegment;
    entry.systemType = fields.systemType;
    entry.sectorCount = fields.sectorCount;
    entry.loadRba = fields.loadRba;
    return entry;
}

// A section entry is bootable or not; any other indicator is no entry.
void checkSectionEntry(const rec::InitialEntry& entry, size_t offset) {
    if (!entry.bootable() && entry.bootIndicator != rec::section_entry::kNotBootable) {
        throw std::runtime_error(
            formatText("the entry at byte %zu of the catalog is not a section "
                       "entry (indicator %u)",
                       offset, entry.bootIndicator));
    }
}

// The sections from byte `offset` on; throws std::runtime_error saying why they are not
// a catalog's sections.
std::vector<Section> decodeSections(const uint8_t* bytes, size_t size, size_t offset) {
    std::vector<Section> sections;
    auto need = [&](const char* what) {
        if (offset + kEntrySize > size) {
            throw std::runtime_error(
                formatText("%s at byte %zu of the catalog would run past its "
                           "block (%zu bytes)",
                           what, offset, size));
        }
    };
    for (;;) {
        need("a section header");
        const rec::SectionHeader header = rec::decodeSectionHeader(bytes + offset);
        if (!header.isHeader()) {
            throw std::runtime_error(
                formatText("the entry at byte %zu of the catalog is not a "
                           "section header (indicator %u); the catalog has "
                           "no final section header",
                           offset, header.indicator));
        }
        Section section;
        section.header = entryAt(bytes, offset);
        offset += kEntrySize;
        for (uint16_t i = 0; i < header.entryCount; ++i) {
            need("a section entry");
            const rec::InitialEntry fields = rec::decodeInitialEntryFields(bytes + offset);
            checkSectionEntry(fields, offset);
            Entry entry = decodeEntry(entryAt(bytes, offset), header.platformId);
            bool extensionFollows = fields.extensionFollows();
            offset += kEntrySize;
            while (extensionFollows) {
                need("a section entry extension");
                const rec::SectionExtension extension = rec::decodeSectionExtension(bytes + offset);
                if (!extension.isExtension()) {
                    throw std::runtime_error(
                        formatText("the entry at byte %zu of the catalog is "
                                   "not the extension its entry announces",
                                   offset));
                }
                entry.extensions.push_back(entryAt(bytes, offset));
                extensionFollows = extension.anotherFollows();
                offset += kEntrySize;
            }
            section.entries.push_back(std::move(entry));
        }
        sections.push_back(std::move(section));
        if (header.isFinal()) {
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
                               formatText("boot catalog at byte %" PRIu64
                                          " holds %zu bytes, fewer than its two entries",
                                          at, size));
    }
    if (size > iso_limits::kMaxBootCatalogBytes) {
        size = iso_limits::kMaxBootCatalogBytes;
    }
    Catalog catalog;
    const rec::ValidationEntry validation = rec::decodeValidationEntryFields(bytes);
    rec::checkValidationEntry(validation, at);
    rec::checkInitialEntry(rec::decodeInitialEntryFields(bytes + kEntrySize), at + kEntrySize);
    catalog.validation = entryAt(bytes, 0);
    catalog.initial = decodeEntry(entryAt(bytes, kEntrySize), validation.platformId);

    const size_t first = 2 * kEntrySize;
    // Without a section header after it, the initial entry is the whole catalog.
    if (first + kEntrySize > size || !rec::decodeSectionHeader(bytes + first).isHeader()) {
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
    rec::encodeEntryImage(entry.bytes.data(), loadRba, sectorCount);
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
        rec::encodeSectionHeaderCount(header.data(), i + 1 == kept.size(),
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
            return formatText("platform %u", platformId);
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
    const rec::Mbr decoded = rec::decodeMbr(mbr);
    if (!decoded.hasSignature) {
        throw std::runtime_error("the hard disk boot image has no MBR signature");
    }
    uint64_t end = 0;
    int partitions = 0;
    for (const rec::MbrPartition& partition : decoded.partitions) {
        if (partition.type == 0 || partition.sectorCount == 0) {
            continue;
        }
        ++partitions;
        end =
            (uint64_t{partition.startLba} + partition.sectorCount) * iso_limits::kVirtualSectorSize;
    }
    if (partitions != 1) {
        throw std::runtime_error(formatText(
            "the MBR of the hard disk boot image holds %d partitions, not one", partitions));
    }
    return end;
}

}  // namespace boot_catalog
