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

ISOBootImageReader::ISOBootImageReader(const std::string& imagePath)
    : ISOBootImageReader(imagePath, openImageFile) {}

ISOBootImageReader::ISOBootImageReader(const std::string& imagePath, ImageSourceOpener opener)
    : imagePath(imagePath), openSource(std::move(opener)) {}

ISOBootImageReader::~ISOBootImageReader() = default;

void ISOBootImageReader::releaseBuffers() {
    bootRecord.reset();
    validationEntry.reset();
    initialEntry.reset();
    bootImage.reset();
}

int ISOBootImageReader::LoadBootImage() {
    printImageLine("load boot image ...");
    try {
        std::unique_ptr<ImageSource> source = openSource(imagePath);
        releaseBuffers();

        bootRecord = std::make_unique<uint8_t[]>(rec::kDescriptorSize);
        source->read(iso_limits::kBootRecordOffset, bootRecord.get(), logicalBlockSize);

        const uint64_t catalogOffset =
            static_cast<uint64_t>(getLe32(bootRecord.get(), rec::boot_record::kCatalogPointer)) *
            logicalBlockSize;
        validationEntry = std::make_unique<uint8_t[]>(rec::kCatalogEntrySize);
        initialEntry = std::make_unique<uint8_t[]>(rec::kCatalogEntrySize);
        source->read(catalogOffset, validationEntry.get(), rec::kCatalogEntrySize);
        source->read(catalogOffset + rec::kCatalogEntrySize, initialEntry.get(),
                     rec::kCatalogEntrySize);

        sectorCount = getLe16(initialEntry.get(), rec::initial_entry::kSectorCount);
        const uint32_t loadRba = getLe32(initialEntry.get(), rec::initial_entry::kLoadRba);
        const uint64_t imageBytes = static_cast<uint64_t>(sectorCount) * virtualSectorSize;
        const uint64_t imageOffset = static_cast<uint64_t>(loadRba) * logicalBlockSize;
        // Checked before allocating, so a garbage count never allocates more than the
        // file holds.
        if (!source->contains(imageOffset, imageBytes)) {
            throw std::runtime_error(
                "boot image of " + std::to_string(sectorCount) + " sectors (" +
                std::to_string(imageBytes) + " bytes) at Load RBA " + std::to_string(loadRba) +
                " (byte " + std::to_string(imageOffset) + ") runs past the end of the image (" +
                std::to_string(source->size()) + " bytes)");
        }
        bootImage = std::make_unique<uint8_t[]>(static_cast<size_t>(imageBytes));
        source->read(imageOffset, bootImage.get(), static_cast<size_t>(imageBytes));
    } catch (const std::exception& e) {
        printImageLine(std::string("load boot image failed, IO exception: ") + e.what());
        releaseBuffers();
        return 1;
    }
    if (isBootCD()) {
        printImageLine("load boot image succeeded");
        return 0;
    }
    printImageLine("load boot image failed - invalid boot CD");
    releaseBuffers();
    return 1;
}

bool ISOBootImageReader::isBootCD() {
    if (!bootRecord || !validationEntry || !initialEntry) {
        return false;
    }
    const uint8_t* record = bootRecord.get();
    if (record[rec::boot_record::kIndicator] != 0 || record[rec::boot_record::kVersion] != 1) {
        return false;
    }
    if (std::memcmp(record + rec::boot_record::kStandardId, rec::kStandardIdentifier,
                    rec::kStandardIdentifierLength) != 0) {
        return false;
    }
    if (std::memcmp(record + rec::boot_record::kBootSystemId, rec::boot_record::kElToritoId,
                    rec::boot_record::kElToritoIdLength) != 0) {
        return false;
    }
    const uint8_t* validation = validationEntry.get();
    if (validation[rec::validation_entry::kHeaderId] != 1 ||
        validation[rec::validation_entry::kKey55] != 0x55 ||
        validation[rec::validation_entry::kKeyAA] != 0xAA) {
        return false;
    }
    return initialEntry[rec::initial_entry::kBootIndicator] == rec::initial_entry::kBootable;
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
