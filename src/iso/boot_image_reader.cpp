#include "iso/boot_image_reader.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "iso/byte_order.h"
#include "iso/image_console.h"
#include "iso/records.h"

using iso_bytes::getLe16;
using iso_bytes::getLe32;
namespace rec = iso_record;

ISOBootImageReader::ISOBootImageReader(const std::string& imageFile)
    : ISOBootImageReader(imageFile, openImageFile) {}

ISOBootImageReader::ISOBootImageReader(const std::string& imageFile, ImageSourceOpener opener)
    : imagePath(imageFile), openSource(std::move(opener)) {}

ISOBootImageReader::~ISOBootImageReader() = default;

void ISOBootImageReader::releaseBuffers() {
    bootImage.reset();
    sectorCount = 0;
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
        const uint64_t catalogOffset =
            static_cast<uint64_t>(getLe32(record, rec::boot_record::kCatalogPointer)) *
            logicalBlockSize;
        uint8_t entries[2 * rec::kCatalogEntrySize];
        source->read(catalogOffset, entries, rec::kCatalogEntrySize);
        source->read(catalogOffset + rec::kCatalogEntrySize, entries + rec::kCatalogEntrySize,
                     rec::kCatalogEntrySize);
        const uint8_t* initialBytes = entries + rec::kCatalogEntrySize;

        const uint16_t count = getLe16(initialBytes, rec::initial_entry::kSectorCount);
        const uint32_t loadRba = getLe32(initialBytes, rec::initial_entry::kLoadRba);
        const uint64_t imageBytes = static_cast<uint64_t>(count) * virtualSectorSize;
        const uint64_t imageOffset = static_cast<uint64_t>(loadRba) * logicalBlockSize;
        // Checked before allocating, so a garbage count never allocates more than the
        // file holds.
        if (!source->contains(imageOffset, imageBytes)) {
            throw std::runtime_error(
                "boot image of " + std::to_string(count) + " sectors (" +
                std::to_string(imageBytes) + " bytes) at Load RBA " + std::to_string(loadRba) +
                " (byte " + std::to_string(imageOffset) + ") runs past the end of the image (" +
                std::to_string(source->size()) + " bytes)");
        }
        std::unique_ptr<uint8_t[]> image =
            std::make_unique<uint8_t[]>(static_cast<size_t>(imageBytes));
        source->read(imageOffset, image.get(), static_cast<size_t>(imageBytes));

        // A record that is not what it should be makes the image an invalid boot CD.
        try {
            rec::decodeBootRecord(record, iso_limits::kBootRecordOffset);
            rec::decodeValidationEntry(entries, catalogOffset);
            rec::decodeInitialEntry(initialBytes, catalogOffset + rec::kCatalogEntrySize);
        } catch (const rec::RecordError&) {
            printImageLine("load boot image failed - invalid boot CD");
            return 1;
        }
        bootImage = std::move(image);
        sectorCount = count;
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
        std::ofstream out(path, std::ios::out | std::ios::binary | std::ios::trunc);
        if (!out) {
            throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
        }
        if (!bootImage) {
            printImageLine("extract boot image failed - image hasn't been loaded");
            return 1;
        }
        for (uint32_t sector = 0; sector < sectorCount; ++sector) {
            out.write(reinterpret_cast<const char*>(bootImage.get()) +
                          static_cast<size_t>(sector) * virtualSectorSize,
                      virtualSectorSize);
            if (!out) {
                throw std::runtime_error("writing sector " + std::to_string(sector) + " to " +
                                         path + " failed: " + std::strerror(errno));
            }
        }
        out.close();
        if (!out) {
            throw std::runtime_error("writing " + path + " failed: " + std::strerror(errno));
        }
        printImageLine("extract boot image succeeded");
        return 0;
    } catch (const std::exception& e) {
        printImageLine(std::string("extract boot image failed - IO exception: ") + e.what());
        return 1;
    }
}
