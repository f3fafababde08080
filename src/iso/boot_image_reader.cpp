#include "iso/boot_image_reader.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "base/console_log.h"
#include "iso/image_console.h"
#include "iso/limits.h"
#include "iso/records.h"
#include "platform/local_file.h"

namespace rec = iso_record;

ISOBootImageReader::ISOBootImageReader(const std::string& imageFile)
    : ISOBootImageReader(imageFile, openImageFile) {}

ISOBootImageReader::ISOBootImageReader(const std::string& imageFile, ImageSourceOpener opener)
    : imagePath(imageFile), openSource(std::move(opener)) {}

ISOBootImageReader::~ISOBootImageReader() = default;

void ISOBootImageReader::releaseBuffers() {
    bootImage.reset();
    bootImageSize = 0;
    catalog_ = boot_catalog::Catalog();
}

uint64_t ISOBootImageReader::bootImageBytes(ImageSource& source,
                                            const rec::InitialEntry& initialEntry,
                                            uint64_t imageOffset) {
    boot_catalog::Entry entry;
    entry.mediaType = initialEntry.mediaType;
    entry.sectorCount = initialEntry.sectorCount;
    if (entry.mediaType != rec::boot_media::kHardDisk) {
        // Media types above 4 are not El Torito's; their Sector Count is taken as it is.
        return boot_catalog::emulatedImageBytes(entry);
    }
    uint8_t mbr[rec::kDiskSectorSize];
    source.read(imageOffset, mbr, sizeof mbr);
    return boot_catalog::hardDiskImageBytes(mbr);
}

int ISOBootImageReader::LoadBootImage() {
    printImageLine("load boot image ...");
    try {
        std::unique_ptr<ImageSource> source = openSource(imagePath);
        releaseBuffers();

        uint8_t record[rec::kDescriptorSize] = {};
        source->read(iso_limits::kBootRecordOffset, record, logicalBlockSize);

        // The catalog and the boot image are read where the records point before the
        // records are checked: a pointer past the end of the image fails as a read.
        const rec::BootRecord bootRecord = rec::decodeBootRecordFields(record);
        const uint64_t catalogOffset =
            static_cast<uint64_t>(bootRecord.catalogBlock) * logicalBlockSize;
        // The two first entries must be there; the rest of the catalog's block is read as
        // far as the image goes.
        std::vector<uint8_t> entries(2 * rec::kCatalogEntrySize);
        source->read(catalogOffset, entries.data(), rec::kCatalogEntrySize);
        source->read(catalogOffset + rec::kCatalogEntrySize,
                     entries.data() + rec::kCatalogEntrySize, rec::kCatalogEntrySize);
        const uint64_t catalogEnd = catalogOffset + iso_limits::kMaxBootCatalogBytes;
        if (catalogEnd > catalogOffset + entries.size()) {
            const uint64_t available = std::min<uint64_t>(catalogEnd, source->size());
            if (available > catalogOffset + entries.size()) {
                const size_t rest = static_cast<size_t>(available - catalogOffset - entries.size());
                entries.resize(entries.size() + rest);
                source->read(catalogOffset + 2 * rec::kCatalogEntrySize,
                             entries.data() + 2 * rec::kCatalogEntrySize, rest);
            }
        }
        const rec::InitialEntry initial =
            rec::decodeInitialEntryFields(entries.data() + rec::kCatalogEntrySize);
        const uint64_t imageOffset = static_cast<uint64_t>(initial.loadRba) * logicalBlockSize;
        const uint64_t imageBytes = bootImageBytes(*source, initial, imageOffset);
        // Checked before allocating, so a garbage count never allocates more than the
        // file holds.
        if (!source->contains(imageOffset, imageBytes)) {
            throw std::runtime_error(formatText(
                "boot image of %u sectors (%" PRIu64 " bytes) at Load RBA %u (byte %" PRIu64
                ") runs past the end of the image (%" PRIu64 " bytes)",
                initial.sectorCount, imageBytes, initial.loadRba, imageOffset, source->size()));
        }
        std::unique_ptr<uint8_t[]> image =
            std::make_unique<uint8_t[]>(static_cast<size_t>(imageBytes));
        source->read(imageOffset, image.get(), static_cast<size_t>(imageBytes));

        // A record that is not what it should be makes the image an invalid boot CD.
        try {
            rec::checkBootRecord(bootRecord, iso_limits::kBootRecordOffset);
            catalog_ = boot_catalog::decode(entries.data(), entries.size(), catalogOffset);
        } catch (const rec::RecordError&) {
            printImageLine("load boot image failed - invalid boot CD");
            return 1;
        }
        bootImageSize = imageBytes;
        bootImage = std::move(image);
    } catch (const std::exception& e) {
        printImageLine(std::string("load boot image failed, IO exception: ") + e.what());
        releaseBuffers();
        return 1;
    }
    printImageLine("load boot image succeeded");
    return 0;
}

bool ISOBootImageReader::isBootCD() {
    return bootImage != nullptr;
}

int ISOBootImageReader::ExtractBootImage(const std::string& path) {
    printImageLine("extract boot image ...");
    try {
        OpenFile out = local_file::rewrite(path);
        if (!bootImage) {
            printImageLine("extract boot image failed - image hasn't been loaded");
            return 1;
        }
        const file_io::Transfer put = file_io::writeAll(out.fd(), bootImage.get(), bootImageSize);
        if (put.done < bootImageSize) {
            throw std::runtime_error(formatText("writing %" PRIu64 " bytes to %s failed: %s",
                                                bootImageSize, path.c_str(),
                                                std::strerror(put.failed() ? put.error : ENOSPC)));
        }
        if (!out.close()) {
            throw std::runtime_error("writing " + path + " failed: " + std::strerror(errno));
        }
        printImageLine("extract boot image succeeded");
        return 0;
    } catch (const std::exception& e) {
        printImageLine(std::string("extract boot image failed - IO exception: ") + e.what());
        return 1;
    }
}
