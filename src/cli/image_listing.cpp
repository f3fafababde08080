#include "cli/image_listing.h"

#include <cstdio>
#include <exception>
#include <ostream>
#include <stdexcept>

#include "base/console_log.h"
#include "cli/image_diagnosis.h"
#include "iso/boot_catalog.h"
#include "iso/image_console.h"
#include "iso/image_source.h"
#include "iso/iso_reader.h"
#include "iso/limits.h"
#include "iso/records.h"

namespace rec = iso_record;

namespace {

// Holds the image classes' progress lines back while it lives.
class HeldImageLines {
  public:
    HeldImageLines() { imageLinesHeld() = true; }
    ~HeldImageLines() { imageLinesHeld() = false; }
    HeldImageLines(const HeldImageLines&) = delete;
    HeldImageLines& operator=(const HeldImageLines&) = delete;
};

std::string hexByte(uint8_t value) {
    char text[5];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

// The bytes of the image an entry boots, as a firmware loads it; a hard disk image whose
// MBR does not say is shown by its Sector Count.
uint64_t bootImageBytes(const boot_catalog::Entry& entry, ImageSource& source) {
    const uint64_t bytes = boot_catalog::emulatedImageBytes(entry);
    if (bytes != 0) {
        return bytes;
    }
    const uint64_t fromSectors = uint64_t{entry.sectorCount} * iso_limits::kVirtualSectorSize;
    const uint64_t mbrOffset = uint64_t{entry.loadRba} * iso_limits::kDefaultBlockSize;
    uint8_t mbr[iso_limits::kVirtualSectorSize];
    if (!source.contains(mbrOffset, sizeof mbr)) {
        return fromSectors;
    }
    source.read(mbrOffset, mbr, sizeof mbr);
    try {
        return boot_catalog::hardDiskImageBytes(mbr);
    } catch (const std::runtime_error&) {
        return fromSectors;
    }
}

}  // namespace

// The reader and the format bound the depth of a tree, so the recursion is shallow.
void forEachImageEntry(const DirectoryNode* list, const std::string& parent,
                       const std::function<void(const DirectoryNode&, const std::string&)>& visit) {
    for (const DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
        if (node->isDotEntry() || node->hidden) {
            continue;
        }
        // An entry read from the image is found by its name; one added from a local file
        // carries its local name there and takes its identifier in the image.
        const std::string& name = node->inImage ? node->name : node->identifier;
        const std::string path = parent + "\\" + printableName(name);
        visit(*node, path);
        if (node->isDirectory()) {
            forEachImageEntry(node->children.get(), path, visit);
        }
    }
}

std::vector<BootEntryLine> readBootEntries(const std::string& imagePath) {
    const std::unique_ptr<ImageSource> source = openImageFile(imagePath);
    uint8_t record[rec::kDescriptorSize] = {};
    if (!source->contains(iso_limits::kBootRecordOffset, sizeof record)) {
        return {};
    }
    source->read(iso_limits::kBootRecordOffset, record, sizeof record);
    rec::BootRecord bootRecord;
    try {
        bootRecord = rec::decodeBootRecord(record, iso_limits::kBootRecordOffset);
    } catch (const rec::RecordError&) {
        return {};  // no El Torito boot record: nothing to list
    }
    const uint64_t blockSize = iso_limits::kDefaultBlockSize;
    const uint64_t catalogOffset = uint64_t{bootRecord.catalogBlock} * blockSize;
    if (!source->contains(catalogOffset, 2 * rec::kCatalogEntrySize)) {
        throw std::runtime_error(
            formatText("the boot catalog at block %u lies past the end of the image",
                       bootRecord.catalogBlock));
    }
    // The catalog takes at most its block; an image may end before the block does.
    std::vector<uint8_t> bytes(blockSize);
    while (!source->contains(catalogOffset, bytes.size())) {
        bytes.resize(bytes.size() - rec::kCatalogEntrySize);
    }
    source->read(catalogOffset, bytes.data(), bytes.size());
    const boot_catalog::Catalog catalog =
        boot_catalog::decode(bytes.data(), bytes.size(), catalogOffset);
    std::vector<BootEntryLine> lines;
    for (const boot_catalog::Entry* entry : catalog.entries()) {
        BootEntryLine line;
        line.platformId = entry->platformId;
        line.mediaType = entry->mediaType;
        line.loadBlock = entry->loadRba;
        line.bytes = bootImageBytes(*entry, *source);
        lines.push_back(line);
    }
    return lines;
}

int listImage(const std::string& imagePath, std::ostream& out) {
    ISOReader reader(imagePath);
    {
        const HeldImageLines held;
        if (!reader.DirectoryExists("\\")) {
            logWarning("%s", unreadableImageCause(imagePath).c_str());
            return 1;
        }
    }
    forEachImageEntry(reader.findDirectoryRecord(""), "",
                      [&out](const DirectoryNode& node, const std::string& path) {
                          out << (node.isDirectory() ? "dir " : "file ") << node.size << ' '
                              << node.extent << ' ' << path << '\n';
                      });
    std::vector<BootEntryLine> boot;
    try {
        boot = readBootEntries(imagePath);
    } catch (const std::exception& e) {
        out.flush();
        logWarning("the boot catalog of %s can not be read: %s", imagePath.c_str(), e.what());
        return 1;
    }
    unsigned number = 0;
    for (const BootEntryLine& entry : boot) {
        out << "boot " << ++number << ' ' << hexByte(entry.platformId) << ' '
            << static_cast<unsigned>(entry.mediaType) << ' ' << entry.loadBlock << ' '
            << entry.bytes << '\n';
    }
    out.flush();
    return 0;
}
