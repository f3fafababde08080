#include "iso/boot_plan.h"

#include <algorithm>
#include <stdexcept>

#include "base/console_log.h"
#include "iso/directory_node.h"
#include "iso/image_source.h"
#include "iso/limits.h"
#include "iso/records.h"

namespace rec = iso_record;
namespace table_at = iso_record::boot_info_table;

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
    return formatText("boot catalog entry %zu of section %zu (%s, Load RBA %u)", index + 1,
                      section + 1, boot_catalog::platformName(entry.platformId).c_str(),
                      entry.loadRba);
}

// A table isolinux or GRUB would have filled in for the loader at `loadRba`: the primary
// volume descriptor's block, the loader's own block, and a length of at least one block
// that a checksum can be read over.
bool isFilledIn(const rec::BootInfoTableFields& table, uint32_t loadRba) {
    return table.primaryDescriptorBlock == iso_limits::kPrimaryDescriptorBlock &&
           table.fileLba == loadRba && table.fileLength >= kCdBlock &&
           table.fileLength <= iso_limits::kMaxBootInfoTableLength;
}

}  // namespace

BootInfoTable findBootInfoTable(ImageSource& image, uint32_t loadRba) {
    BootInfoTable table;
    const uint64_t start = uint64_t{loadRba} * kCdBlock;
    uint8_t head[table_at::kChecksummedFrom];
    if (!image.contains(start, sizeof head)) {
        return table;
    }
    image.read(start, head, sizeof head);
    const rec::BootInfoTableFields fields = rec::decodeBootInfoTable(head);
    const uint32_t length = fields.fileLength;
    if (!isFilledIn(fields, loadRba) || !image.contains(start, length)) {
        return table;
    }
    // The checksum runs from byte kChecksummedFrom to the file's length.
    uint32_t sum = 0;
    std::vector<uint8_t> piece(iso_limits::kBootInfoTablePieceSize);
    uint64_t grubValue = 0;
    for (uint64_t at = 0; at < length; at += piece.size()) {
        const size_t count = static_cast<size_t>(std::min<uint64_t>(piece.size(), length - at));
        image.read(start + at, piece.data(), count);
        if (at <= table_at::kGrubPointer &&
            table_at::kGrubPointer + table_at::kGrubPointerLength <= at + count) {
            grubValue = rec::decodeGrubPointer(piece.data() + (table_at::kGrubPointer - at));
        }
        const size_t skipped = at < table_at::kChecksummedFrom
                                   ? static_cast<size_t>(table_at::kChecksummedFrom - at)
                                   : 0;
        if (count > skipped) {
            sum = rec::addLoaderWords(sum, piece.data() + skipped, count - skipped);
        }
    }
    if (sum != fields.checksum) {
        return table;
    }
    table.valid = true;
    table.fileLba = fields.fileLba;
    table.length = length;
    table.checksum = sum;
    table.grubPointer = length >= table_at::kGrubPointer + table_at::kGrubPointerLength &&
                        grubValue == grubPointerFor(fields.fileLba);
    return table;
}

Plan makePlan(ImageSource& image, const DirectoryNode* rootList, uint32_t blockSize) {
    uint8_t record[rec::kDescriptorSize];
    image.read(iso_limits::kBootRecordOffset, record, sizeof record);
    const rec::BootRecord bootRecord = rec::decodeBootRecord(record, iso_limits::kBootRecordOffset);
    const uint64_t catalogOffset = uint64_t{bootRecord.catalogBlock} * kCdBlock;
    if (!image.contains(catalogOffset, 2 * rec::kCatalogEntrySize)) {
        throw std::runtime_error(
            formatText("the boot catalog at block %u lies past the end of the "
                       "image",
                       bootRecord.catalogBlock));
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
                    formatText("the boot info table of the boot image: it names block %u, where "
                               "the image holds no file, so the loader will not find itself",
                               plan.table.fileLba));
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
                std::string why = formatText(
                    "its image of Sector Count %u is no file of the image "
                    "and has no size of its own",
                    entry.sectorCount);
                if (entry.mediaType == rec::boot_media::kHardDisk &&
                    image.contains(offset, rec::kDiskSectorSize)) {
                    uint8_t mbr[rec::kDiskSectorSize];
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
        table.offset = copy.first + table_at::kFileLba;
        table.bytes.resize(table_at::kLocationLength);
        rec::encodeBootInfoLocation(table.bytes.data(), fileBlock, plan.table.length);
        patches.push_back(table);
        if (plan.table.grubPointer) {
            Patch sum;
            sum.offset = copy.first + table_at::kChecksum;
            sum.bytes.resize(table_at::kChecksumLength);
            rec::encodeBootInfoChecksum(sum.bytes.data(), checksum);
            patches.push_back(sum);
            if (table_at::kGrubPointer + table_at::kGrubPointerLength <= copy.second) {
                Patch pointer;
                pointer.offset = copy.first + table_at::kGrubPointer;
                pointer.bytes.resize(table_at::kGrubPointerLength);
                rec::encodeGrubPointer(pointer.bytes.data(), newPointer);
                patches.push_back(pointer);
            }
        }
    }
    return patches;
}

}  // namespace boot_plan
