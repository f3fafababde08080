#include "iso/system_area.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "base/console_log.h"
#include "iso/directory_node.h"
#include "iso/image_source.h"
#include "iso/limits.h"
#include "iso/records.h"

namespace system_area {

namespace {

namespace rec = iso_record;

constexpr uint64_t kCdBlock = iso_limits::kDefaultBlockSize;
constexpr uint64_t kGptHeaderOffset = rec::gpt_header::kPrimaryLba * kSector;

// isohybrid's boot address names the boot image's sector, GRUB's that sector + 4.
constexpr uint64_t kBootAddressDeltas[] = {0, 4};

// The geometry isohybrid and xorriso give a hybrid image, for the CHS addresses.
namespace geometry {
constexpr uint32_t kHeads = 64;
constexpr uint32_t kSectorsPerTrack = 32;
constexpr uint32_t kMaxCylinder = 1023;
}  // namespace geometry

// An MBR entry counts sectors in 32 bits.
constexpr uint64_t kMaxMbrSector = std::numeric_limits<uint32_t>::max();
// UEFI wants a GPT entry's size a multiple of eight bytes.
constexpr uint32_t kGptEntryAlignment = 8;
// The UTF-16 units of a partition name that a message shows as they are.
constexpr uint16_t kFirstPrintable = 0x20;
constexpr uint16_t kFirstNonAscii = 0x80;

bool isZero(const uint8_t* bytes, size_t count) {
    return std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; });
}

Plan unrecognised(const char* what) {
    Plan plan;
    plan.notKept.push_back(std::string("the System Area of the old image (") + what +
                           "): the new image will not boot from a USB stick");
    return plan;
}

// The ASCII characters of a GPT entry's UTF-16 name.
std::string partitionName(const rec::GptEntry& entry) {
    std::string name;
    for (const uint16_t c : entry.name) {
        if (c == 0) {
            break;
        }
        name += c < kFirstNonAscii && c >= kFirstPrintable ? static_cast<char>(c) : '?';
    }
    return name;
}

// Notes partition `index` of the kind `moved` when it starts, at sector `start`, at
// content the new image carries; false when it does not.
bool referToMoved(Plan& plan, const CarriedStarts& carried, Reference::Kind moved, size_t index,
                  uint64_t start) {
    if (carried.count(start * kSector) == 0) {
        return false;
    }
    plan.references.push_back({moved, index, 0, start * kSector});
    return true;
}

// The MBR's boot address and partitions; false when something in it points at what the
// program cannot follow.
bool planMbr(Plan& plan, uint64_t oldVolumeSectors, const CarriedStarts& carried) {
    const rec::Mbr mbr = rec::decodeMbr(plan.area.data());
    const uint64_t address = mbr.bootAddress;
    if (address != 0) {
        bool found = false;
        for (const uint64_t delta : kBootAddressDeltas) {
            const auto it =
                address >= delta ? carried.find((address - delta) * kSector) : carried.end();
            if (it != carried.end() && it->second.bootImage) {
                plan.references.push_back(
                    {Reference::Kind::bootAddress, 0, delta, (address - delta) * kSector});
                found = true;
                break;
            }
        }
        if (!found) {
            return false;
        }
    }
    for (size_t i = 0; i < mbr.partitions.size(); ++i) {
        const rec::MbrPartition& partition = mbr.partitions[i];
        if (partition.unused()) {
            continue;
        }
        const uint64_t start = partition.startLba;
        const uint64_t count = partition.sectorCount;
        if (referToMoved(plan, carried, Reference::Kind::mbrMoved, i, start)) {
            continue;
        }
        if (start < oldVolumeSectors && start + count >= oldVolumeSectors) {
            plan.references.push_back({Reference::Kind::mbrSpanning, i, 0, 0});
        } else {
            return false;
        }
    }
    return true;
}

// The GPT header's sum: over its headerSize bytes of `sector`, with `header`'s fields
// in them and the sum's own field as zero.
uint32_t headerCrc(const rec::GptHeader& header, const uint8_t* sector) {
    std::vector<uint8_t> copy(sector, sector + header.headerSize);
    rec::GptHeader unsummed = header;
    unsummed.headerCrc = 0;
    rec::encodeGptHeader(unsummed, copy.data());
    return crc32(copy.data(), copy.size());
}

// Writes `header` into `sector` with its sum.
void sealHeader(rec::GptHeader header, uint8_t* sector) {
    header.headerCrc = headerCrc(header, sector);
    rec::encodeGptHeader(header, sector);
}

// Whether the GPT `header` of `area` is whole: a header of a size its sector holds, whose
// sum holds; entries of a usable size that lie in the System Area after the header,
// whose sum holds; no used entry that ends before it starts.
bool gptIsWhole(const uint8_t* area, const rec::GptHeader& header) {
    if (header.headerSize < rec::gpt_header::kSize || header.headerSize > kSector) {
        return false;
    }
    if (headerCrc(header, area + kGptHeaderOffset) != header.headerCrc) {
        return false;
    }
    const uint64_t entriesLba = header.entriesLba;
    const uint32_t count = header.entryCount;
    const uint32_t size = header.entrySize;
    if (size < rec::gpt_entry::kSize || size % kGptEntryAlignment != 0 ||
        entriesLba <= rec::gpt_header::kPrimaryLba || entriesLba * kSector > kAreaBytes ||
        uint64_t{count} * size > kAreaBytes - entriesLba * kSector) {
        return false;
    }
    const uint8_t* entries = area + entriesLba * kSector;
    if (crc32(entries, size_t{count} * size) != header.entriesCrc) {
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const rec::GptEntry entry = rec::decodeGptEntry(entries + size_t{i} * size);
        if (!entry.unused() && entry.endLba < entry.startLba) {
            return false;
        }
    }
    return true;
}

// The GPT header and entries, when they are whole; entries that point at what the new
// image does not keep are cleared and named.
bool planGpt(Plan& plan, const CarriedStarts& carried) {
    const rec::GptHeader header = rec::decodeGptHeader(plan.area.data() + kGptHeaderOffset);
    if (!gptIsWhole(plan.area.data(), header)) {
        return false;
    }
    const uint32_t count = header.entryCount;
    const uint32_t size = header.entrySize;
    uint8_t* entries = plan.area.data() + header.entriesLba * kSector;
    const uint64_t lastUsable = header.lastUsableLba;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t* bytes = entries + size_t{i} * size;
        const rec::GptEntry entry = rec::decodeGptEntry(bytes);
        if (entry.unused()) {
            continue;
        }
        const uint64_t end = entry.endLba;
        if (referToMoved(plan, carried, Reference::Kind::gptMoved, i, entry.startLba)) {
            continue;
        }
        if (end + 1 >= lastUsable) {
            // It ends with the volume (xorriso stops one sector short of the last usable).
            plan.references.push_back({Reference::Kind::gptSpanning, i, lastUsable - end, 0});
        } else {
            plan.notKept.push_back(formatText(
                "partition %u (\"%s\") of the old image's GPT: what it holds is not carried over",
                i + 1, partitionName(entry).c_str()));
            std::memset(bytes, 0, size);
        }
    }
    plan.gpt = true;
    plan.gptEntriesLba = static_cast<uint32_t>(header.entriesLba);
    plan.gptEntryCount = count;
    plan.gptEntrySize = size;
    const uint64_t entrySectors = (uint64_t{count} * size + kSector - 1) / kSector;
    plan.tailBlocks =
        static_cast<uint32_t>(((entrySectors + 1) * kSector + kCdBlock - 1) / kCdBlock);
    return true;
}

// Clears the Apple partition map's entries: they name an HFS+ volume and ranges of the
// old image that the new image does not have.
void dropApm(Plan& plan) {
    uint8_t* area = plan.area.data();
    const uint32_t blockSize = rec::decodeApmBlockSize(area);
    if (blockSize != kSector && blockSize != kCdBlock) {
        return;
    }
    bool any = false;
    for (size_t at = blockSize; at + blockSize <= kAreaBytes; at += blockSize) {
        if (!rec::isApmEntry(area + at)) {
            break;
        }
        // With 512-byte blocks the map could share the GPT's sectors; those stay.
        const uint64_t entriesStart = uint64_t{plan.gptEntriesLba} * kSector;
        const uint64_t entriesEnd = entriesStart + uint64_t{plan.gptEntryCount} * plan.gptEntrySize;
        if (plan.gpt && ((at < kGptHeaderOffset + kSector && at + blockSize > kGptHeaderOffset) ||
                         (at < entriesEnd && at + blockSize > entriesStart))) {
            break;
        }
        std::memset(area + at, 0, blockSize);
        any = true;
    }
    if (any) {
        plan.notKept.push_back(
            "the Apple partition map of the old image (and the HFS+ volume it names)");
    }
}

// The CHS address of `lba` in the hybrid geometry, the last cylinder for what lies beyond.
rec::Chs chsOf(uint64_t lba) {
    using namespace geometry;
    uint64_t cylinder = lba / (kHeads * kSectorsPerTrack);
    uint64_t head = (lba / kSectorsPerTrack) % kHeads;
    uint64_t sector = lba % kSectorsPerTrack + 1;
    if (cylinder > kMaxCylinder) {
        cylinder = kMaxCylinder;
        head = kHeads - 1;
        sector = kSectorsPerTrack;
    }
    rec::Chs chs;
    chs.cylinder = static_cast<uint16_t>(cylinder);
    chs.head = static_cast<uint8_t>(head);
    chs.sector = static_cast<uint8_t>(sector);
    return chs;
}

void setMbrRange(rec::MbrPartition& partition, uint64_t start, uint64_t count) {
    const uint64_t clampedStart = std::min(start, kMaxMbrSector);
    const uint64_t clampedCount = std::min(count, kMaxMbrSector - clampedStart);
    partition.startLba = static_cast<uint32_t>(clampedStart);
    partition.sectorCount = static_cast<uint32_t>(clampedCount);
    // A partition that starts at 0 keeps its start address (isohybrid's 0/0/1).
    if (start != 0) {
        partition.start = chsOf(start);
    }
    partition.end = chsOf(start + (count == 0 ? 0 : count - 1));
}

}  // namespace

uint32_t crc32(const uint8_t* bytes, size_t count) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < count; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

CarriedStarts carriedStarts(const DirectoryNode* rootList, uint32_t blockSize,
                            const boot_plan::Plan* boot) {
    CarriedStarts starts;
    if (boot != nullptr) {
        if (boot->catalog.initial.loadRba != 0) {
            starts[uint64_t{boot->catalog.initial.loadRba} * kCdBlock] = {
                Carried::Kind::defaultBootImage, 0, nullptr, true};
        }
        for (size_t i = 0; i < boot->images.size(); ++i) {
            const boot_plan::SectionImage& image = boot->images[i];
            const uint32_t loadRba =
                boot->catalog.sections.at(image.section).entries.at(image.entry).loadRba;
            starts.emplace(uint64_t{loadRba} * kCdBlock,
                           Carried{Carried::Kind::sectionImage, i, nullptr, true});
        }
    }
    // Directories nest at most kMaxDirectoryDepth levels, so the walk down is bounded.
    std::vector<const DirectoryNode*> lists{rootList};
    while (!lists.empty()) {
        const DirectoryNode* list = lists.back();
        lists.pop_back();
        for (const DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
            if (node->isDirectory() && !node->isDotEntry()) {
                lists.push_back(node->children.get());
            } else if (node->isFile() && node->inImage && node->size > 0 &&
                       !node->isMultiExtent()) {
                Carried& carried = starts[uint64_t{node->extent} * blockSize];
                carried = Carried{Carried::Kind::file, 0, node, carried.bootImage};
            }
        }
    }
    return starts;
}

uint64_t newOffset(const Carried& carried, const boot_plan::Plan& boot,
                   const iso_layout::ImageLayout& layout) {
    switch (carried.kind) {
        case Carried::Kind::defaultBootImage:
            return uint64_t{layout.bootImageStart} * kCdBlock;
        case Carried::Kind::sectionImage: {
            const boot_plan::SectionImage& image = boot.images.at(carried.image);
            if (image.file != nullptr) {
                return uint64_t{iso_layout::imageExtent(*image.file, layout.directoryStart,
                                                        layout.fileStart)} *
                       kCdBlock;
            }
            return uint64_t{layout.carriedBootBlock} * kCdBlock + image.areaOffset;
        }
        case Carried::Kind::file:
            break;
    }
    return uint64_t{
               iso_layout::imageExtent(*carried.file, layout.directoryStart, layout.fileStart)} *
           kCdBlock;
}

Plan makePlan(const uint8_t* area, uint64_t oldVolumeBytes, const CarriedStarts& carried) {
    if (isZero(area, kAreaBytes)) {
        return Plan();
    }
    Plan plan;
    plan.area.assign(area, area + kAreaBytes);
    const bool hasMbr = rec::decodeMbr(area).hasSignature;
    const bool hasGpt = rec::decodeGptHeader(area + kGptHeaderOffset).hasSignature();
    const char* what = hasMbr && hasGpt ? "an MBR and a GPT"
                       : hasMbr         ? "an MBR"
                       : hasGpt         ? "a GPT"
                                        : "boot code or data";
    if (!hasMbr && !hasGpt) {
        return unrecognised(what);
    }
    if (hasMbr && !planMbr(plan, oldVolumeBytes / kSector, carried)) {
        return unrecognised(what);
    }
    if (hasGpt && !planGpt(plan, carried)) {
        return unrecognised(what);
    }
    if (plan.references.empty()) {
        // Nothing in it that points into the image: not a form the program knows.
        return unrecognised(what);
    }
    dropApm(plan);
    plan.keep = true;
    return plan;
}

Plan makePlan(ImageSource& image, const DirectoryNode* rootList, uint32_t blockSize,
              const boot_plan::Plan* boot) {
    if (!image.contains(0, kAreaBytes)) {
        return Plan();
    }
    std::vector<uint8_t> area(kAreaBytes);
    image.read(0, area.data(), area.size());
    uint64_t volumeBytes = image.size();
    try {
        uint8_t descriptor[iso_record::kDescriptorSize];
        image.read(iso_limits::kPrimaryDescriptorOffset, descriptor, sizeof descriptor);
        const iso_record::PrimaryDescriptor primary =
            iso_record::decodePrimaryDescriptor(descriptor, iso_limits::kPrimaryDescriptorOffset);
        volumeBytes = uint64_t{primary.volumeSpaceSize} * primary.logicalBlockSize;
    } catch (const std::exception&) {
        // Without a readable descriptor the file's own size bounds the volume.
    }
    return makePlan(area.data(), volumeBytes, carriedStarts(rootList, blockSize, boot));
}

Written repatch(const Plan& plan, uint64_t newImageBytes,
                const std::function<uint64_t(uint64_t oldOffset)>& moved) {
    Written written;
    written.area = plan.area;
    uint8_t* area = written.area.data();
    const uint64_t sectors = newImageBytes / kSector;
    uint64_t backupHeader = 0;
    uint64_t backupEntries = 0;
    uint64_t lastUsable = 0;
    uint8_t* entries = nullptr;
    if (plan.gpt) {
        const uint64_t entrySectors =
            (uint64_t{plan.gptEntryCount} * plan.gptEntrySize + kSector - 1) / kSector;
        if (sectors < uint64_t{plan.tailBlocks} * (kCdBlock / kSector) + kAreaBytes / kSector) {
            throw std::logic_error("the new image has no room for its backup GPT");
        }
        backupHeader = sectors - 1;
        backupEntries = backupHeader - entrySectors;
        lastUsable = backupEntries - 1;
        entries = area + uint64_t{plan.gptEntriesLba} * kSector;
    }
    rec::Mbr mbr = rec::decodeMbr(area);
    for (const Reference& reference : plan.references) {
        uint8_t* gptBytes =
            entries == nullptr ? nullptr : entries + reference.index * plan.gptEntrySize;
        rec::GptEntry gptEntry;
        if (gptBytes != nullptr) {
            gptEntry = rec::decodeGptEntry(gptBytes);
        }
        switch (reference.kind) {
            case Reference::Kind::bootAddress:
                mbr.bootAddress = moved(reference.oldOffset) / kSector + reference.delta;
                break;
            case Reference::Kind::mbrSpanning: {
                rec::MbrPartition& partition = mbr.partitions.at(reference.index);
                const uint64_t start = partition.startLba;
                setMbrRange(partition, start, sectors > start ? sectors - start : 0);
                break;
            }
            case Reference::Kind::mbrMoved: {
                rec::MbrPartition& partition = mbr.partitions.at(reference.index);
                setMbrRange(partition, moved(reference.oldOffset) / kSector, partition.sectorCount);
                break;
            }
            case Reference::Kind::gptSpanning:
                gptEntry.endLba = lastUsable - reference.delta;
                rec::encodeGptEntry(gptEntry, gptBytes);
                break;
            case Reference::Kind::gptMoved: {
                const uint64_t start = moved(reference.oldOffset) / kSector;
                const uint64_t length = gptEntry.endLba - gptEntry.startLba;
                gptEntry.startLba = start;
                gptEntry.endLba = start + length;
                rec::encodeGptEntry(gptEntry, gptBytes);
                break;
            }
        }
    }
    // Encoding the MBR as it was decoded changes no byte of an area without one.
    rec::encodeMbr(mbr, area);
    if (plan.gpt) {
        const size_t entryBytes = size_t{plan.gptEntryCount} * plan.gptEntrySize;
        uint8_t* headerSector = area + kGptHeaderOffset;
        rec::GptHeader header = rec::decodeGptHeader(headerSector);
        header.alternateLba = backupHeader;
        header.lastUsableLba = lastUsable;
        header.entriesCrc = crc32(entries, entryBytes);
        std::vector<uint8_t> backup(headerSector, headerSector + kSector);
        sealHeader(header, headerSector);
        header.myLba = backupHeader;
        header.alternateLba = rec::gpt_header::kPrimaryLba;
        header.entriesLba = backupEntries;
        sealHeader(header, backup.data());
        written.tailOffset = backupEntries * kSector;
        written.tail.assign(entries, entries + entryBytes);
        written.tail.resize((backupHeader - backupEntries) * kSector, 0);
        written.tail.insert(written.tail.end(), backup.begin(), backup.end());
    }
    return written;
}

}  // namespace system_area
