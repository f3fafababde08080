#include "iso/system_area.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "iso/byte_order.h"
#include "iso/directory_node.h"
#include "iso/image_source.h"
#include "iso/limits.h"
#include "iso/records.h"

using iso_bytes::getLe32;
using iso_bytes::getLe64;
using iso_bytes::putLe32;
using iso_bytes::putLe64;

namespace system_area {

namespace {

constexpr uint64_t kCdBlock = iso_limits::kDefaultBlockSize;

// The MBR: boot code, the boot file's address, four partition entries, the signature.
namespace mbr {
constexpr size_t kBootAddress = 432;
constexpr size_t kPartitions = 446;
constexpr size_t kEntrySize = 16;
constexpr size_t kEntries = 4;
constexpr size_t kStartChs = 1;
constexpr size_t kType = 4;
constexpr size_t kEndChs = 5;
constexpr size_t kStartLba = 8;
constexpr size_t kSectorCount = 12;
constexpr size_t kSignature = 510;
// The geometry isohybrid and xorriso give a hybrid image.
constexpr uint32_t kHeads = 64;
constexpr uint32_t kSectorsPerTrack = 32;
constexpr uint32_t kMaxCylinder = 1023;
}  // namespace mbr

// The GPT header (at sector 1) and its entries.
namespace gpt {
constexpr size_t kHeader = 512;
constexpr char kSignature[] = "EFI PART";
constexpr size_t kHeaderSize = 12;
constexpr size_t kHeaderCrc = 16;
constexpr size_t kMyLba = 24;
constexpr size_t kAlternateLba = 32;
constexpr size_t kLastUsable = 48;
constexpr size_t kEntriesLba = 72;
constexpr size_t kEntryCount = 80;
constexpr size_t kEntrySize = 84;
constexpr size_t kEntriesCrc = 88;
constexpr uint32_t kMinHeaderSize = 92;
constexpr uint32_t kMinEntrySize = 128;
constexpr size_t kTypeGuid = 0;
constexpr size_t kGuidSize = 16;
constexpr size_t kStart = 32;
constexpr size_t kEnd = 40;
constexpr size_t kName = 56;
constexpr size_t kNameBytes = 72;
}  // namespace gpt

// The Apple partition map: a driver descriptor at byte 0 ("ER", its block size), map
// entries ("PM") in the blocks after it.
namespace apm {
constexpr char kEntrySignature[] = "PM";
constexpr size_t kDescriptorBlockSize = 2;
}  // namespace apm

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
std::string partitionName(const uint8_t* entry) {
    std::string name;
    for (size_t at = gpt::kName; at + 1 < gpt::kName + gpt::kNameBytes; at += 2) {
        const uint16_t c = iso_bytes::getLe16(entry, at);
        if (c == 0) {
            break;
        }
        name += c < 0x80 && c >= 0x20 ? static_cast<char>(c) : '?';
    }
    return name;
}

// The MBR's boot address and partitions; false when something in it points at what the
// program cannot follow.
bool planMbr(Plan& plan, uint64_t oldVolumeSectors, const CarriedStarts& carried) {
    const uint8_t* area = plan.area.data();
    const uint64_t address = getLe64(area, mbr::kBootAddress);
    if (address != 0) {
        // isohybrid names the boot image's sector; GRUB that sector + 4.
        bool found = false;
        for (const uint64_t delta : {uint64_t{0}, uint64_t{4}}) {
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
    for (size_t i = 0; i < mbr::kEntries; ++i) {
        const uint8_t* entry = area + mbr::kPartitions + i * mbr::kEntrySize;
        if (isZero(entry, mbr::kEntrySize)) {
            continue;
        }
        const uint64_t start = getLe32(entry, mbr::kStartLba);
        const uint64_t count = getLe32(entry, mbr::kSectorCount);
        if (carried.count(start * kSector) != 0) {
            plan.references.push_back({Reference::Kind::mbrMoved, i, 0, start * kSector});
        } else if (start < oldVolumeSectors && start + count >= oldVolumeSectors) {
            plan.references.push_back({Reference::Kind::mbrSpanning, i, 0, 0});
        } else {
            return false;
        }
    }
    return true;
}

// The GPT header and entries, when they are whole and their sums hold; entries that
// point at what the new image does not keep are cleared and named.
bool planGpt(Plan& plan, const CarriedStarts& carried) {
    uint8_t* header = plan.area.data() + gpt::kHeader;
    const uint32_t headerSize = getLe32(header, gpt::kHeaderSize);
    if (headerSize < gpt::kMinHeaderSize || headerSize > kSector) {
        return false;
    }
    std::vector<uint8_t> copy(header, header + headerSize);
    putLe32(copy.data(), gpt::kHeaderCrc, 0);
    if (crc32(copy.data(), copy.size()) != getLe32(header, gpt::kHeaderCrc)) {
        return false;
    }
    const uint64_t entriesLba = getLe64(header, gpt::kEntriesLba);
    const uint32_t count = getLe32(header, gpt::kEntryCount);
    const uint32_t size = getLe32(header, gpt::kEntrySize);
    // The primary entries must lie in the System Area, after the header.
    if (size < gpt::kMinEntrySize || size % 8 != 0 || entriesLba < 2 ||
        entriesLba * kSector > kAreaBytes ||
        uint64_t{count} * size > kAreaBytes - entriesLba * kSector) {
        return false;
    }
    uint8_t* entries = plan.area.data() + entriesLba * kSector;
    if (crc32(entries, size_t{count} * size) != getLe32(header, gpt::kEntriesCrc)) {
        return false;
    }
    const uint64_t lastUsable = getLe64(header, gpt::kLastUsable);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t* entry = entries + size_t{i} * size;
        if (isZero(entry + gpt::kTypeGuid, gpt::kGuidSize)) {
            continue;
        }
        const uint64_t start = getLe64(entry, gpt::kStart);
        const uint64_t end = getLe64(entry, gpt::kEnd);
        if (end < start) {
            return false;
        }
        if (carried.count(start * kSector) != 0) {
            plan.references.push_back({Reference::Kind::gptMoved, i, 0, start * kSector});
        } else if (end + 1 >= lastUsable) {
            // It ends with the volume (xorriso stops one sector short of the last usable).
            plan.references.push_back({Reference::Kind::gptSpanning, i, lastUsable - end, 0});
        } else {
            plan.notKept.push_back("partition " + std::to_string(i + 1) + " (\"" +
                                   partitionName(entry) +
                                   "\") of the old image's GPT: what it holds is not carried over");
            std::memset(entry, 0, size);
        }
    }
    plan.gpt = true;
    plan.gptEntriesLba = static_cast<uint32_t>(entriesLba);
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
    if (area[0] != 'E' || area[1] != 'R') {
        return;
    }
    const uint32_t blockSize = iso_bytes::getBe16(area, apm::kDescriptorBlockSize);
    if (blockSize != kSector && blockSize != kCdBlock) {
        return;
    }
    bool any = false;
    for (size_t at = blockSize; at + blockSize <= kAreaBytes; at += blockSize) {
        if (std::memcmp(area + at, apm::kEntrySignature, 2) != 0) {
            break;
        }
        // With 512-byte blocks the map could share the GPT's sectors; those stay.
        const uint64_t entriesStart = uint64_t{plan.gptEntriesLba} * kSector;
        const uint64_t entriesEnd = entriesStart + uint64_t{plan.gptEntryCount} * plan.gptEntrySize;
        if (plan.gpt && ((at < gpt::kHeader + kSector && at + blockSize > gpt::kHeader) ||
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
void putChs(uint8_t* at, uint64_t lba) {
    uint64_t cylinder = lba / (mbr::kHeads * mbr::kSectorsPerTrack);
    uint64_t head = (lba / mbr::kSectorsPerTrack) % mbr::kHeads;
    uint64_t sector = lba % mbr::kSectorsPerTrack + 1;
    if (cylinder > mbr::kMaxCylinder) {
        cylinder = mbr::kMaxCylinder;
        head = mbr::kHeads - 1;
        sector = mbr::kSectorsPerTrack;
    }
    at[0] = static_cast<uint8_t>(head);
    at[1] = static_cast<uint8_t>(sector | ((cylinder >> 8) << 6));
    at[2] = static_cast<uint8_t>(cylinder);
}

void putMbrRange(uint8_t* entry, uint64_t start, uint64_t count) {
    const uint64_t clampedStart = std::min<uint64_t>(start, 0xFFFFFFFFull);
    const uint64_t clampedCount = std::min<uint64_t>(count, 0xFFFFFFFFull - clampedStart);
    putLe32(entry, mbr::kStartLba, static_cast<uint32_t>(clampedStart));
    putLe32(entry, mbr::kSectorCount, static_cast<uint32_t>(clampedCount));
    // A partition that starts at 0 keeps its start address (isohybrid's 0/0/1).
    if (start != 0) {
        putChs(entry + mbr::kStartChs, start);
    }
    putChs(entry + mbr::kEndChs, start + (count == 0 ? 0 : count - 1));
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
    const bool hasMbr = area[mbr::kSignature] == 0x55 && area[mbr::kSignature + 1] == 0xAA;
    const bool hasGpt = std::memcmp(area + gpt::kHeader, gpt::kSignature, 8) == 0;
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
    for (const Reference& reference : plan.references) {
        uint8_t* mbrEntry = area + mbr::kPartitions + reference.index * mbr::kEntrySize;
        uint8_t* gptEntry =
            entries == nullptr ? nullptr : entries + reference.index * plan.gptEntrySize;
        switch (reference.kind) {
            case Reference::Kind::bootAddress:
                putLe64(area, mbr::kBootAddress,
                        moved(reference.oldOffset) / kSector + reference.delta);
                break;
            case Reference::Kind::mbrSpanning: {
                const uint64_t start = getLe32(mbrEntry, mbr::kStartLba);
                putMbrRange(mbrEntry, start, sectors > start ? sectors - start : 0);
                break;
            }
            case Reference::Kind::mbrMoved:
                putMbrRange(mbrEntry, moved(reference.oldOffset) / kSector,
                            getLe32(mbrEntry, mbr::kSectorCount));
                break;
            case Reference::Kind::gptSpanning:
                putLe64(gptEntry, gpt::kEnd, lastUsable - reference.delta);
                break;
            case Reference::Kind::gptMoved: {
                const uint64_t start = moved(reference.oldOffset) / kSector;
                const uint64_t length =
                    getLe64(gptEntry, gpt::kEnd) - getLe64(gptEntry, gpt::kStart);
                putLe64(gptEntry, gpt::kStart, start);
                putLe64(gptEntry, gpt::kEnd, start + length);
                break;
            }
        }
    }
    if (plan.gpt) {
        const size_t entryBytes = size_t{plan.gptEntryCount} * plan.gptEntrySize;
        uint8_t* header = area + gpt::kHeader;
        const uint32_t headerSize = getLe32(header, gpt::kHeaderSize);
        putLe64(header, gpt::kAlternateLba, backupHeader);
        putLe64(header, gpt::kLastUsable, lastUsable);
        putLe32(header, gpt::kEntriesCrc, crc32(entries, entryBytes));
        std::vector<uint8_t> backup(header, header + kSector);
        putLe32(header, gpt::kHeaderCrc, 0);
        putLe32(header, gpt::kHeaderCrc, crc32(header, headerSize));
        putLe64(backup.data(), gpt::kMyLba, backupHeader);
        putLe64(backup.data(), gpt::kAlternateLba, 1);
        putLe64(backup.data(), gpt::kEntriesLba, backupEntries);
        putLe32(backup.data(), gpt::kHeaderCrc, 0);
        putLe32(backup.data(), gpt::kHeaderCrc, crc32(backup.data(), headerSize));
        written.tailOffset = backupEntries * kSector;
        written.tail.assign(entries, entries + entryBytes);
        written.tail.resize((backupHeader - backupEntries) * kSector, 0);
        written.tail.insert(written.tail.end(), backup.begin(), backup.end());
    }
    return written;
}

}  // namespace system_area
