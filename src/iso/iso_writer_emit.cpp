// Emitting an image from its layout: descriptors, boot catalog and boot image, path
// tables, directory records and file data, each at the block the layout gave it.
#include <boost/filesystem.hpp>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "iso/image_console.h"
#include "iso/image_sink.h"
#include "iso/iso_dates.h"
#include "iso/iso_writer.h"
#include "iso/limits.h"
#include "iso/records.h"

namespace {

uint64_t byteOffset(uint64_t block, uint32_t blockSize) {
    return block * blockSize;
}

constexpr uint32_t kPathRecordBufferSize = iso_record::path_record::kFixedPartSize + 512;

}  // namespace

void ISOWriter::makeDirectoryRecord(DirectoryNode* node, uint16_t volumeSequenceNumber,
                                    uint32_t directoryStart, uint32_t fileStart,
                                    uint8_t* recordBuffer) {
    uint8_t date[iso_record::kRecordDateSize];
    makeRecordDate(date);
    iso_record::DirectoryRecordFields fields;
    fields.extent = node->extent + (node->isDirectory() ? directoryStart : fileStart);
    fields.dataLength = node->size;
    fields.isDirectory = node->isDirectory();
    fields.volumeSequenceNumber = volumeSequenceNumber;
    fields.recordingDate = date;
    if (node->name == ".") {
        fields.kind = iso_record::DirectoryRecordFields::Kind::Self;
    } else if (node->name == "..") {
        fields.kind = iso_record::DirectoryRecordFields::Kind::Parent;
    } else {
        fields.identifier = node->identifier;
    }
    iso_record::encodeDirectoryRecord(fields, recordBuffer, iso_record::dir_record::kBufferSize);
}

int ISOWriter::writeEntry(DirectoryNode* node, uint16_t volumeSequenceNumber,
                          uint32_t directoryStart, uint32_t fileStart, ImageSink& out) {
    try {
        uint8_t record[iso_record::dir_record::kBufferSize];
        makeDirectoryRecord(node, volumeSequenceNumber, directoryStart, fileStart, record);
        out.writeAt(byteOffset(uint64_t(directoryStart) + node->recordBlock, kWriteBlockSize) +
                        node->recordOffset,
                    record, node->recordLength);
        if (node->isFile()) {
            copyFileData(*node, byteOffset(uint64_t(fileStart) + node->extent, kWriteBlockSize),
                         out);
        }
        return 0;
    } catch (const std::exception& e) {
        printImageLine(e.what());
        return 1;
    }
}

void ISOWriter::copyFileData(const DirectoryNode& node, uint64_t outputOffset, ImageSink& out) {
    if (node.inImage && oldImage == nullptr) {
        throw std::logic_error("the data of " + node.name + " lies in an image that is not open");
    }
    // The old image keeps its own block size; the new one is written with 2048.
    const CopySource source =
        node.inImage ? CopySource(*oldImage, sourceImagePath)
                     : CopySource((boost::filesystem::path(node.path) / node.name).string());
    const uint64_t sourceOffset =
        node.inImage ? uint64_t(node.sourceExtent) * sourceBlockSize() : 0;
    // The rest of the last block is left as it is: the output file was created empty, so
    // it reads as zeros, and the image is extended to its full size at the end.
    out.queueCopy(source, sourceOffset, outputOffset, node.size, kWriteBlockSize,
                  [this](uint32_t piece) { advanceProgress(piece); });
}

int ISOWriter::writeDirectoryTree(DirectoryNode* list, uint16_t volumeSequenceNumber,
                                  uint32_t directoryStart, uint32_t fileStart, ImageSink& out) {
    // The entries of the list first, then the directories below it: file data then goes
    // out in the order of its blocks, which lets consecutive copies merge. The bytes of
    // the image and the progress marks do not depend on this order.
    for (DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
        if (writeEntry(node, volumeSequenceNumber, directoryStart, fileStart, out) != 0) {
            return 1;
        }
    }
    for (DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
        if (node->isDirectory() && !node->isDotEntry() &&
            writeDirectoryTree(node->children.get(), volumeSequenceNumber, directoryStart,
                               fileStart, out) != 0) {
            return 1;
        }
    }
    return 0;
}

uint32_t ISOWriter::makePathTableRecord(DirectoryNode* node, uint32_t directoryStart,
                                        bool bigEndian, uint8_t* recordBuffer) {
    return iso_record::encodePathTableRecord(node->identifier, directoryStart + node->extent,
                                             node->parentNumber, bigEndian, recordBuffer,
                                             kPathRecordBufferSize);
}

uint32_t ISOWriter::writeTypeLPathTable(DirectoryNode* rootList, uint32_t tableBlock,
                                        uint32_t directoryStart, ImageSink& out) {
    return writePathTable(rootList, tableBlock, directoryStart, false, out);
}

uint32_t ISOWriter::writeTypeMPathTable(DirectoryNode* rootList, uint32_t tableBlock,
                                        uint32_t directoryStart, ImageSink& out) {
    return writePathTable(rootList, tableBlock, directoryStart, true, out);
}

uint32_t ISOWriter::writePathTable(DirectoryNode* rootList, uint32_t tableBlock,
                                   uint32_t directoryStart, bool bigEndian, ImageSink& out) {
    try {
        // Records are gathered and written in pieces of about 64 KiB.
        constexpr size_t kFlushSize = 64 * 1024;
        std::vector<uint8_t> pending;
        pending.reserve(kFlushSize + kPathRecordBufferSize);
        uint64_t offset = byteOffset(tableBlock, kWriteBlockSize);
        uint64_t written = 0;
        uint8_t record[kPathRecordBufferSize];
        auto add = [&](uint32_t length) {
            pending.insert(pending.end(), record, record + length);
            if (pending.size() >= kFlushSize) {
                out.writeAt(offset, pending.data(), pending.size());
                offset += pending.size();
                written += pending.size();
                pending.clear();
            }
        };
        add(iso_record::encodeRootPathTableRecord(directoryStart + rootList->extent, bigEndian,
                                                  record, sizeof record));
        iso_layout::forEachListBreadthFirst(rootList, [&](DirectoryNode* list) {
            for (DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
                if (node->isDirectory() && !node->isDotEntry()) {
                    add(makePathTableRecord(node, directoryStart, bigEndian, record));
                }
            }
        });
        out.writeAt(offset, pending.data(), pending.size());
        written += pending.size();
        return static_cast<uint32_t>(written);
    } catch (const std::exception& e) {
        printImageLine(e.what());
        return 0;
    }
}

int ISOWriter::writeSystemArea(ImageSink& out) {
    try {
        const std::vector<uint8_t> zeros(kWriteBlockSize, 0);
        for (uint64_t block = 0; block < iso_limits::kSystemAreaBlocks; ++block) {
            out.writeAt(byteOffset(block, kWriteBlockSize), zeros.data(), zeros.size());
        }
        return 0;
    } catch (const std::exception& e) {
        printImageLine(e.what());
        return 1;
    }
}

int ISOWriter::writeDescriptor(const uint8_t* descriptor, uint32_t block, ImageSink& out) {
    try {
        out.writeAt(byteOffset(block, kWriteBlockSize), descriptor, iso_record::kDescriptorSize);
        return 0;
    } catch (const std::exception& e) {
        printImageLine(e.what());
        return 1;
    }
}

int ISOWriter::writePrimaryVolumeDescriptor(const uint8_t* descriptor, uint32_t block,
                                            ImageSink& out) {
    return writeDescriptor(descriptor, block, out);
}

int ISOWriter::writeSetTerminator(const uint8_t* descriptor, uint32_t block, ImageSink& out) {
    return writeDescriptor(descriptor, block, out);
}

int ISOWriter::writeBootRecord(const uint8_t* descriptor, uint32_t block, ImageSink& out) {
    return writeDescriptor(descriptor, block, out);
}

void ISOWriter::CreateNewPVD(uint32_t volumeSpaceSize, uint32_t pathTableSize,
                             uint32_t typeLPathTable, uint32_t typeMPathTable,
                             const uint8_t* rootRecord, uint8_t* descriptor) {
    using namespace iso_record;
    fillPrimaryDescriptor(volumeSpaceSize, pathTableSize, typeLPathTable, typeMPathTable,
                          rootRecord, descriptor);
    putDescriptorText(descriptor, pvd::kVolumeId, pvd::kVolumeIdLength, "CD_ROM");
    putDescriptorText(descriptor, pvd::kVolumeSetId, pvd::kLongIdLength, "CD_ROM");
    putDescriptorText(descriptor, pvd::kPublisherId, pvd::kLongIdLength, "TARVEN CORPORATION");
    putDescriptorText(descriptor, pvd::kDataPreparerId, pvd::kLongIdLength,
                      "TARVEN CORPORATION, VELDRAN, CA");
    putDescriptorText(descriptor, pvd::kApplicationId, pvd::kLongIdLength, "zoriz");
}

void ISOWriter::fillPrimaryDescriptor(uint32_t volumeSpaceSize, uint32_t pathTableSize,
                                      uint32_t typeLPathTable, uint32_t typeMPathTable,
                                      const uint8_t* rootRecord, uint8_t* descriptor) {
    uint8_t date[iso_record::kVolumeDateSize];
    makeVolumeDate(date);
    iso_record::PrimaryDescriptorFields fields;
    fields.volumeSpaceSize = volumeSpaceSize;
    fields.logicalBlockSize = kWriteBlockSize;
    fields.pathTableSize = pathTableSize;
    fields.typeLPathTable = typeLPathTable;
    fields.typeMPathTable = typeMPathTable;
    fields.rootRecord = rootRecord;
    fields.creationDate = date;
    iso_record::encodePrimaryDescriptor(fields, descriptor);
}

void ISOWriter::makeSetTerminator(uint8_t* descriptor) {
    iso_record::encodeSetTerminator(descriptor);
}

void ISOWriter::makeBootRecord(uint32_t catalogBlock, uint8_t* descriptor) {
    iso_record::encodeBootRecord(catalogBlock, descriptor);
}

void ISOWriter::makeValidationEntry(uint8_t* entry) {
    iso_record::encodeValidationEntry(entry);
}

void ISOWriter::makeInitialEntry(uint8_t systemType, uint16_t sectorCount, uint32_t loadRba,
                                 uint8_t* entry) {
    iso_record::encodeInitialEntry(systemType, sectorCount, loadRba, entry);
}

int ISOWriter::writeBootCatalog(const uint8_t* validationEntry, const uint8_t* initialEntry,
                                uint32_t block, ImageSink& out) {
    try {
        const uint64_t offset = byteOffset(block, kWriteBlockSize);
        out.writeAt(offset, validationEntry, iso_record::kCatalogEntrySize);
        out.writeAt(offset + iso_record::kCatalogEntrySize, initialEntry,
                    iso_record::kCatalogEntrySize);
        return 0;
    } catch (const std::exception& e) {
        printImageLine(e.what());
        return 1;
    }
}

int ISOWriter::writeBootImage(const std::string& bootImagePath, uint16_t sectorCount,
                              uint32_t block, ImageSink& out) {
    try {
        // Exactly Sector Count virtual sectors are copied: a boot image file shorter than
        // its whole blocks makes the copy fail.
        out.copyFrom(bootImagePath, 0, byteOffset(block, kWriteBlockSize),
                     uint64_t(sectorCount) * virtualSectorSize, [](uint32_t) {});
        return 0;
    } catch (const std::exception& e) {
        printImageLine(e.what());
        return 1;
    }
}
