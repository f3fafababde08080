#include "iso/boot_plan.h"

#include <algorithm>
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
namespace rec = iso_record;

namespace boot_plan {

namespace {

constexpr uint64_t kCdBlock = iso_limits::kDefaultBlockSize;

uint64_t grubPointerFor(uint32_t block) {
    return uint64_t{block} * 4 + 5;
}

uint64_t roundUpBlocks(uint64_t bytes) {
    return (bytes + kCdBlock - 1) / kCdBlock * kCdBlock;
}

// The first file of the tree whose data in the old image starts at byte `offset`.
const DirectoryNode* fileAt(const DirectoryNode* list, uint64_t offset, uint32_t blockSize) {
    for (const DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
        if (node->isDotEntry()) {
            continue;
        }
        if (node->isFile() && node->inImage && uint64_t{node->extent} * blockSize == offset) {
            return node;
        }
        if (node->isDirectory()) {
            if (const DirectoryNode* found = fileAt(node->children.get(), offset, blockSize)) {
                return found;
            }
        }
    }
    return nullptr;
}

std::string entryName(const boot_catalog::Entry& entry, size_t section, size_t index) {
    return "boot catalog entry " + std::to_string(index + 1) + " of section " +
           std::to_string(section + 1) + " (" + boot_catalog::platformName(entry.platformId) +
           ", Load RBA " + std::to_string(entry.loadRba) + ")";
}

}  // namespace

BootInfoTable findBootInfoTable(ImageSource& image, uint32_t loadRba) {
    BootInfoTable table;
    const uint64_t start = uint64_t{loadRba} * kCdBlock;
    uint8_t head[kTableChecksummedFrom];
    if (!image.contains(start, sizeof head)) {
        return table;
    }
    image.read(start, head, sizeof head);
    const uint32_t descriptorBlock = getLe32(head, kTableOffset);
    const uint32_t fileLba = getLe32(head, kTableFileLba);
    const uint32_t length = getLe32(head, kTableLength);
    if (descriptorBlock != iso_limits::kPrimaryDescriptorBlock || fileLba != loadRba ||
        length < kCdBlock || length > iso_limits::kMaxBootInfoTableLength ||
        !image.contains(start, length)) {
        return table;
    }
    // The 32-bit sum of the file's little-endian words from byte 64 to its length; a
    // last partial word counts with zeros.
    uint32_t sum = 0;
    std::vector<uint8_t> piece(64 * 1024);
    uint64_t grubValue = 0;
    for (uint64_t at = 0; at < length; at += piece.size()) {
        const size_t count = static_cast<size_t>(std::min<uint64_t>(piece.size(), length - at));
        image.read(start + at, piece.data(), count);
        if (at <= kGrubPointer && kGrubPointer + 8 <= at + count) {
            grubValue = getLe64(piece.data(), kGrubPointer - at);
        }
        for (size_t i = 0; i < count; i += 4) {
            if (at + i < kTableChecksummedFrom) {
                continue;
            }
            uint8_t word[4] = {};
            for (size_t b = 0; b < 4 && i + b < count; ++b) {
                word[b] = piece[i + b];
            }
            sum += getLe32(word, 0);
        }
    }
    if (sum != getLe32(head, kTableChecksum)) {
        return table;
    }
    table.valid = true;
    table.fileLba = fileLba;
    table.length = length;
    table.checksum = sum;
    table.grubPointer = length >= kGrubPointer + 8 && grubValue == grubPointerFor(fileLba);
    return table;
}

Plan makePlan(ImageSource& image, const DirectoryNode* rootList, uint32_t blockSize) {
    uint8_t record[rec::kDescriptorSize];
    image.read(iso_limits::kBootRecordOffset, record, sizeof record);
    const rec::BootRecord bootRecord = rec::decodeBootRecord(record, iso_limits::kBootRecordOffset);
    const uint64_t catalogOffset = uint64_t{bootRecord.catalogBlock} * kCdBlock;
    if (!image.contains(catalogOffset, 2 * rec::kCatalogEntrySize)) {
        throw std::runtime_error("the boot catalog at block " +
                                 std::to_string(bootRecord.catalogBlock) +
                                 " lies past the end of the image");
    }
    const size_t catalogSize = static_cast<size_t>(
        std::min<uint64_t>(iso_limits::kMaxBootCatalogBytes, image.size() - catalogOffset));
    std::vector<uint8_t> bytes(catalogSize);
    image.read(catalogOffset, bytes.data(), bytes.size());

    Plan plan;
    plan.catalog = boot_catalog::decode(bytes.data(), bytes.size(), catalogOffset);
    boot_catalog::Catalog& catalog = plan.catalog;
    if (!catalog.unreadable.empty()) {
        plan.notCarried.push_back("the boot catalog entries after the default entry (" +
                                  catalog.unreadable + ")");
    }
    // The writer's own catalog is an 80x86 no-emulation entry; anything else is kept.
    plan.carryCatalog = catalog.hasSections() ||
                        catalog.initial.mediaType != rec::boot_media::kNoEmulation ||
                        catalog.initial.platformId != 0;

    if (catalog.initial.mediaType == rec::boot_media::kNoEmulation) {
        plan.table = findBootInfoTable(image, catalog.initial.loadRba);
        if (plan.table.valid) {
            plan.tableFile =
                fileAt(rootList, uint64_t{catalog.initial.loadRba} * kCdBlock, blockSize);
            if (plan.tableFile == nullptr) {
                plan.notCarried.push_back(
                    "the boot info table of the boot image: it names block " +
                    std::to_string(plan.table.fileLba) +
                    ", where the image holds no file, so the loader will not find itself");
            }
        }
    }

    for (size_t s = 0; s < catalog.sections.size(); ++s) {
        std::vector<boot_catalog::Entry>& entries = catalog.sections[s].entries;
        size_t shownIndex = 0;
        for (size_t e = 0; e < entries.size(); ++shownIndex) {
            const boot_catalog::Entry& entry = entries[e];
            SectionImage placed;
            placed.section = s;
            placed.entry = e;
            const uint64_t offset = uint64_t{entry.loadRba} * kCdBlock;
            placed.file = fileAt(rootList, offset, blockSize);
            if (placed.file == nullptr) {
                uint64_t size = boot_catalog::emulatedImageBytes(entry);
                std::string why = "its image of Sector Count " + std::to_string(entry.sectorCount) +
                                  " is no file of the image and has no size of its own";
                if (entry.mediaType == rec::boot_media::kHardDisk &&
                    image.contains(offset, iso_limits::kVirtualSectorSize)) {
                    uint8_t mbr[iso_limits::kVirtualSectorSize];
                    image.read(offset, mbr, sizeof mbr);
                    try {
                        size = boot_catalog::hardDiskImageBytes(mbr);
                    } catch (const std::runtime_error& error) {
                        why = error.what();
                    }
                }
                if (size != 0 && !image.contains(offset, size)) {
                    why = "its image runs past the end of the old image";
                    size = 0;
                }
                if (size == 0) {
                    plan.notCarried.push_back(entryName(entry, s, shownIndex) + ": " + why);
                    entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(e));
                    continue;
                }
                placed.sourceOffset = offset;
                placed.bytes = size;
                placed.areaOffset = plan.carriedBytes;
                plan.carriedBytes += roundUpBlocks(size);
            }
            plan.images.push_back(placed);
            ++e;
        }
    }
    return plan;
}

std::vector<uint8_t> catalogBytes(Plan& plan, uint32_t bootBlock, uint32_t carriedBlock,
                                  const std::function<uint32_t(const DirectoryNode&)>& fileBlock) {
    boot_catalog::Catalog& catalog = plan.catalog;
    boot_catalog::setImage(catalog.initial, bootBlock, catalog.initial.sectorCount);
    for (const SectionImage& placed : plan.images) {
        boot_catalog::Entry& entry = catalog.sections[placed.section].entries[placed.entry];
        const uint32_t block =
            placed.file != nullptr
                ? fileBlock(*placed.file)
                : carriedBlock + static_cast<uint32_t>(placed.areaOffset / kCdBlock);
        boot_catalog::setImage(entry, block, entry.sectorCount);
    }
    return boot_catalog::encode(catalog);
}

std::vector<Patch> tablePatches(const Plan& plan, uint64_t bootOffset, uint64_t bootImageBytes,
                                uint32_t fileBlock) {
    std::vector<Patch> patches;
    if (!plan.table.valid || plan.tableFile == nullptr) {
        return patches;
    }
    uint32_t checksum = plan.table.checksum;
    const uint64_t oldPointer = grubPointerFor(plan.table.fileLba);
    const uint64_t newPointer = grubPointerFor(fileBlock);
    if (plan.table.grubPointer) {
        // The pointer lies in the checksummed bytes: the sum follows its new words.
        checksum = checksum - static_cast<uint32_t>(oldPointer) -
                   static_cast<uint32_t>(oldPointer >> 32) + static_cast<uint32_t>(newPointer) +
                   static_cast<uint32_t>(newPointer >> 32);
    }
    const uint64_t fileOffset = uint64_t{fileBlock} * kCdBlock;
    for (const auto& copy : {std::make_pair(bootOffset, bootImageBytes),
                             std::make_pair(fileOffset, uint64_t{plan.table.length})}) {
        Patch table;
        table.offset = copy.first + kTableFileLba;
        table.bytes.resize(8);
        putLe32(table.bytes.data(), 0, fileBlock);
        putLe32(table.bytes.data(), 4, plan.table.length);
        patches.push_back(table);
        if (plan.table.grubPointer) {
            Patch sum;
            sum.offset = copy.first + kTableChecksum;
            sum.bytes.resize(4);
            putLe32(sum.bytes.data(), 0, checksum);
            patches.push_back(sum);
            if (kGrubPointer + 8 <= copy.second) {
                Patch pointer;
                pointer.offset = copy.first + kGrubPointer;
                pointer.bytes.resize(8);
                putLe64(pointer.bytes.data(), 0, newPointer);
                patches.push_back(pointer);
            }
        }
    }
    return patches;
}

}  // namespace boot_plan
