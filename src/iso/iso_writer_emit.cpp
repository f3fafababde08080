// Emitting an image from its layout: descriptors, boot catalog and boot image, path
// tables, directory records and file data, each at the block the layout gave it.
#include <boost/filesystem.hpp>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/console_log.h"
#include "iso/image_console.h"
#include "iso/image_sink.h"
#include "iso/iso_dates.h"
#include "iso/iso_writer.h"
#include "iso/joliet_tree.h"
#include "iso/limits.h"
#include "iso/records.h"
#include "iso/system_use.h"

namespace {

uint64_t byteOffset(uint64_t block, uint32_t blockSize) {
    return block * blockSize;
}

constexpr uint32_t kMaxPathRecordLength = iso_record::path_record::kMaxLength;

// Runs one writing operation. An exception it throws is written as a line of its own and
// the operation fails; the step of the emit that called it then adds its own line.
bool writeOrReport(const std::function<void()>& write) {
    try {
        write();
        return true;
    } catch (const std::exception& e) {
        printImageLine(e.what());
        return false;
    }
}

int resultOf(bool written) {
    return written ? 0 : 1;
}

// One step of the emit. It is announced as "  <name> ...", and ends with "  <name> done"
// or, when `write` returns false, with "  <failure> failed - IO error" (`failure` null:
// the name). Boot-only steps are left out of an image without a boot image.
struct EmitStep {
    const char* name;
    const char* failure;
    bool bootOnly;
    std::function<bool()> write;
};

}  // namespace

int ISOWriter::emitImage(const iso_layout::ImageLayout& layout, const std::string& bootImagePath,
                         ImageSink& out) {
    // The primary descriptor, the boot record and the terminator are made in turn here.
    uint8_t descriptor[iso_record::kDescriptorSize];
    pendingPatches.clear();
    if (layout.hasBootImage && bootPlan.tableFile != nullptr) {
        const uint64_t written = bootPlan.carryCatalog
                                     ? layout.bootImageBytes
                                     : uint64_t(layout.bootSectorCount) * virtualSectorSize;
        pendingPatches = boot_plan::tablePatches(
            bootPlan, byteOffset(layout.bootImageStart, kWriteBlockSize), written,
            iso_layout::imageExtent(*bootPlan.tableFile, layout.directoryStart, layout.fileStart));
    }
    repatchSystemArea(layout);
    continuationStart = layout.continuationStart;
    movedDirectories.clear();
    if (systemUseIsSusp) {
        // Directories nest at most kMaxDirectoryDepth levels: the walk is bounded.
        std::vector<DirectoryNode*> lists{root.get()};
        while (!lists.empty()) {
            DirectoryNode* list = lists.back();
            lists.pop_back();
            for (DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
                if (node->isDirectory() && node->inImage && node->name != "..") {
                    movedDirectories.emplace(
                        node->extent,
                        iso_layout::imageExtent(*node, layout.directoryStart, layout.fileStart));
                }
                if (node->isDirectory() && !node->isDotEntry()) {
                    lists.push_back(node->children.get());
                }
            }
        }
    }
    const EmitStep steps[] = {
        {"write system reserved sector", nullptr, false, [&] { return writeSystemArea(out) == 0; }},
        {"write primary volume descriptor", nullptr, false,
         [&] {
             uint8_t rootRecord[iso_record::dir_record::kBufferSize];
             makeDirectoryRecord(root.get(), 1, layout.directoryStart, layout.fileStart,
                                 rootRecord);
             CreateNewPVD(layout.volumeSpaceSize, layout.pathTableSize, layout.typeLPathTableBlock,
                          layout.typeMPathTableBlock, rootRecord, descriptor);
             if (writePrimaryVolumeDescriptor(descriptor, layout.primaryDescriptorBlock, out) !=
                 0) {
                 return false;
             }
             return !jolietTree || writeOrReport([&] {
                 uint8_t joliet[iso_record::kDescriptorSize];
                 jolietTree->makeDescriptor(jolietDescriptor, layout, joliet);
                 out.writeAt(byteOffset(layout.jolietDescriptorBlock, kWriteBlockSize), joliet,
                             sizeof joliet);
             });
         }},
        {"write boot record", nullptr, true,
         [&] {
             makeBootRecord(layout.bootCatalogBlock, descriptor);
             return writeBootRecord(descriptor, layout.bootRecordBlock, out) == 0;
         }},
        {"write volume descriptor set terminator", nullptr, false,
         [&] {
             makeSetTerminator(descriptor);
             return writeSetTerminator(descriptor, layout.terminatorBlock, out) == 0;
         }},
        {"write boot image", nullptr, true,
         [&] {
             if (bootPlan.carryCatalog) {
                 return writeCarriedBoot(layout, bootImagePath, out);
             }
             uint8_t validationEntry[iso_record::kCatalogEntrySize];
             uint8_t initialEntry[iso_record::kCatalogEntrySize];
             makeValidationEntry(validationEntry);
             makeInitialEntry(0, layout.bootSectorCount, layout.bootImageStart, initialEntry);
             return writeBootCatalog(validationEntry, initialEntry, layout.bootCatalogBlock, out) ==
                        0 &&
                    writeBootImage(bootImagePath, layout.bootSectorCount, layout.bootImageStart,
                                   out) == 0;
         }},
        {"write path tables", "write path table", false,
         [&] {
             return writeTypeLPathTable(root.get(), layout.typeLPathTableBlock,
                                        layout.directoryStart, out) != 0 &&
                    writeTypeMPathTable(root.get(), layout.typeMPathTableBlock,
                                        layout.directoryStart, out) != 0 &&
                    (!jolietTree ||
                     writeOrReport([&] { jolietTree->writePathTables(layout, out); }));
         }},
        {"write directory record and files", "write directory record and file", false,
         [&] {
             const uint64_t directoryArea = uint64_t(layout.directoryBlocks) * kWriteBlockSize;
             if (directoryArea <= iso_limits::kMaxStagedDirectoryArea) {
                 out.stageRegion(uint64_t(layout.directoryStart) * kWriteBlockSize,
                                 static_cast<size_t>(directoryArea));
             }
             return writeDirectoryTree(root.get(), 1, layout.directoryStart, layout.fileStart,
                                       out) == 0 &&
                    (!jolietTree ||
                     writeOrReport([&] { jolietTree->writeDirectories(layout, out); })) &&
                    finishImage(layout, out) == 0;
         }},
    };
    for (const EmitStep& step : steps) {
        if (step.bootOnly && !layout.hasBootImage) {
            continue;
        }
        printImageLine(std::string("  ") + step.name + " ...");
        if (!step.write()) {
            printImageLine(std::string("  ") + (step.failure ? step.failure : step.name) +
                           " failed - IO error");
            return 1;
        }
        printImageLine(std::string("  ") + step.name + " done");
    }
    return 0;
}

int ISOWriter::finishImage(const iso_layout::ImageLayout& layout, ImageSink& out) {
    // The copies still waiting and the directory records gathered in memory go out now;
    // the file then has to be as long as the Volume Space Size says, whatever its last
    // blocks hold.
    return resultOf(writeOrReport([&] {
        out.flushCopies();
        out.flushStaged();
        for (const boot_plan::Patch& patch : pendingPatches) {
            out.writeAt(patch.offset, patch.bytes.data(), patch.bytes.size());
        }
        out.extendTo(uint64_t(layout.volumeSpaceSize) * kWriteBlockSize);
    }));
}

bool ISOWriter::writeCarriedBoot(const iso_layout::ImageLayout& layout,
                                 const std::string& bootImagePath, ImageSink& out) {
    return writeOrReport([&] {
        const std::vector<uint8_t> catalog = boot_plan::catalogBytes(
            bootPlan, layout.bootImageStart, layout.carriedBootBlock,
            [&](const DirectoryNode& file) {
                return iso_layout::imageExtent(file, layout.directoryStart, layout.fileStart);
            });
        out.writeAt(byteOffset(layout.bootCatalogBlock, kWriteBlockSize), catalog.data(),
                    catalog.size());
        // The boot image file whole: an emulated disk is larger than its Sector Count.
        out.copyFrom(bootImagePath, 0, byteOffset(layout.bootImageStart, kWriteBlockSize),
                     layout.bootImageBytes, [](uint32_t) {});
        for (const boot_plan::SectionImage& image : bootPlan.images) {
            if (image.file != nullptr) {
                continue;
            }
            if (oldImage == nullptr) {
                throw std::logic_error(
                    "a boot image of the old image is to be copied, but the "
                    "old image is not open");
            }
            out.copyFrom(CopySource(*oldImage, sourceImagePath), image.sourceOffset,
                         byteOffset(layout.carriedBootBlock, kWriteBlockSize) + image.areaOffset,
                         image.bytes, [](uint32_t) {});
        }
    });
}

void ISOWriter::makeDirectoryRecord(DirectoryNode* node, uint16_t volumeSequenceNumber,
                                    uint32_t directoryStart, uint32_t fileStart,
                                    uint8_t* recordBuffer) {
    uint8_t date[iso_record::kRecordDateSize];
    makeRecordDate(date);
    iso_record::DirectoryRecordFields fields;
    fields.extent = iso_layout::imageExtent(*node, directoryStart, fileStart);
    fields.dataLength = node->placement.dataLength;
    fields.isDirectory = node->isDirectory();
    fields.volumeSequenceNumber = volumeSequenceNumber;
    fields.recordingDate = date;
    fields.hidden = node->hidden;
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
    if (node->isMultiExtent()) {
        return resultOf(writeOrReport(
            [&] { writeSections(*node, volumeSequenceNumber, directoryStart, fileStart, out); }));
    }
    return resultOf(writeOrReport([&] {
        const Placement& placed = node->placement;
        uint8_t record[iso_record::dir_record::kBufferSize];
        makeDirectoryRecord(node, volumeSequenceNumber, directoryStart, fileStart, record);
        writeSystemUse(*node, record, out);
        out.writeAt(byteOffset(uint64_t(directoryStart) + placed.recordBlock, kWriteBlockSize) +
                        placed.recordOffset,
                    record, placed.recordLength);
        if (node->isFile()) {
            copyFileData(*node,
                         byteOffset(iso_layout::imageExtent(*node, directoryStart, fileStart),
                                    kWriteBlockSize),
                         out);
        }
    }));
}

void ISOWriter::writeSystemUse(const DirectoryNode& node, uint8_t* record, ImageSink& out) {
    if (node.systemUse.empty()) {
        return;
    }
    const size_t base = iso_record::decodeDirectoryRecordLength(record);
    // Links of relocated directories name the directories' new blocks.
    system_use::Split split = system_use::split(
        system_use::withDirectoryLinks(node.systemUse,
                                       [&](uint32_t old) {
                                           const auto it = movedDirectories.find(old);
                                           return it != movedDirectories.end() ? it->second : old;
                                       }),
        base, kWriteBlockSize);
    const uint32_t first = continuationStart + node.placement.continuationBlock;
    system_use::encode(split, first, base, record + base);
    const size_t length = base + system_use::fieldLength(split, base);
    if (length != node.placement.recordLength) {
        throw std::logic_error(formatText("the record of %s is %zu bytes, laid out as %u",
                                          node.name.c_str(), length, node.placement.recordLength));
    }
    iso_record::encodeDirectoryRecordLength(record, static_cast<uint8_t>(length));
    for (size_t i = 0; i < split.areas.size(); ++i) {
        out.writeAt(byteOffset(uint64_t{first} + i, kWriteBlockSize), split.areas[i].data(),
                    split.areas[i].size());
    }
}

void ISOWriter::writeSections(const DirectoryNode& node, uint16_t volumeSequenceNumber,
                              uint32_t directoryStart, uint32_t fileStart, ImageSink& out) {
    if (!node.inImage || oldImage == nullptr) {
        throw std::logic_error("the sections of " + node.name + " lie in no open image");
    }
    uint8_t date[iso_record::kRecordDateSize];
    makeRecordDate(date);
    for (size_t i = 0; i < node.sections.size(); ++i) {
        const FileSection& section = node.sections[i];
        const Placement& placed = section.placement;
        iso_record::DirectoryRecordFields fields;
        fields.extent = placed.areaExtent + fileStart;
        fields.dataLength = placed.dataLength;
        fields.multiExtent = i + 1 < node.sections.size();
        fields.hidden = node.hidden;
        fields.volumeSequenceNumber = volumeSequenceNumber;
        fields.recordingDate = date;
        fields.identifier = node.identifier;
        uint8_t record[iso_record::dir_record::kBufferSize];
        iso_record::encodeDirectoryRecord(fields, record, iso_record::dir_record::kBufferSize);
        out.writeAt(byteOffset(uint64_t(directoryStart) + placed.recordBlock, kWriteBlockSize) +
                        placed.recordOffset,
                    record, placed.recordLength);
        out.queueCopy(CopySource(*oldImage, sourceImagePath),
                      uint64_t(section.extent) * sourceBlockSize(),
                      byteOffset(fields.extent, kWriteBlockSize), section.size, kWriteBlockSize,
                      [this](uint32_t piece) { advanceProgress(piece); });
    }
}

void ISOWriter::copyFileData(const DirectoryNode& node, uint64_t outputOffset, ImageSink& out) {
    if (node.inImage && oldImage == nullptr) {
        throw std::logic_error("the data of " + node.name + " lies in an image that is not open");
    }
    // The old image keeps its own block size; the new one is written with 2048.
    const std::string local = (boost::filesystem::path(node.path) / node.name).string();
    const CopySource source = node.inImage   ? CopySource(*oldImage, sourceImagePath)
                              : node.checked ? CopySource(node.checked, local)
                                             : CopySource(local);
    const uint64_t sourceOffset = node.inImage ? uint64_t(node.extent) * sourceBlockSize() : 0;
    // The rest of the last block is left as it is: the output file was created empty, so
    // it reads as zeros, and the image is extended to its full size at the end.
    out.queueCopy(source, sourceOffset, outputOffset, node.size, kWriteBlockSize,
                  [this](uint32_t piece) { advanceProgress(piece); });
}

int ISOWriter::writeDirectoryTree(DirectoryNode* list, uint16_t volumeSequenceNumber,
                                  uint32_t directoryStart, uint32_t fileStart, ImageSink& out) {
    // Depth first in pre-order: a subdirectory's entries right after its own record,
    // before the next entry of the list. The bytes of the image and the progress marks do
    // not depend on this order; the first failure reported does.
    for (DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
        if (writeEntry(node, volumeSequenceNumber, directoryStart, fileStart, out) != 0) {
            return 1;
        }
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
    return iso_record::encodePathTableRecord(
        node->identifier, iso_layout::imageExtent(*node, directoryStart, 0),
        node->placement.parentNumber, bigEndian, recordBuffer, kMaxPathRecordLength);
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
    uint64_t written = 0;
    const bool complete = writeOrReport([&] {
        std::vector<uint8_t> pending;
        pending.reserve(iso_limits::kPathTableWriteSize + kMaxPathRecordLength);
        uint64_t offset = byteOffset(tableBlock, kWriteBlockSize);
        uint8_t record[kMaxPathRecordLength];
        auto add = [&](uint32_t length) {
            pending.insert(pending.end(), record, record + length);
            if (pending.size() >= iso_limits::kPathTableWriteSize) {
                out.writeAt(offset, pending.data(), pending.size());
                offset += pending.size();
                written += pending.size();
                pending.clear();
            }
        };
        add(iso_record::encodeRootPathTableRecord(
            iso_layout::imageExtent(*rootList, directoryStart, 0), bigEndian, record,
            sizeof record));
        iso_layout::forEachListBreadthFirst(rootList, [&](DirectoryNode* list) {
            for (DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
                if (node->isDirectory() && !node->isDotEntry()) {
                    add(makePathTableRecord(node, directoryStart, bigEndian, record));
                }
            }
        });
        out.writeAt(offset, pending.data(), pending.size());
        written += pending.size();
    });
    return complete ? static_cast<uint32_t>(written) : 0;
}

void ISOWriter::repatchSystemArea(const iso_layout::ImageLayout& layout) {
    systemAreaBytes.clear();
    if (!systemAreaPlan.keep) {
        return;
    }
    const system_area::CarriedStarts carried = system_area::carriedStarts(
        root.get(), sourceBlockSize(), layout.hasBootImage ? &bootPlan : nullptr);
    system_area::Written written = system_area::repatch(
        systemAreaPlan, uint64_t{layout.volumeSpaceSize} * kWriteBlockSize, [&](uint64_t old) {
            const auto it = carried.find(old);
            if (it == carried.end()) {
                throw std::logic_error(formatText("the System Area names byte %" PRIu64
                                                  " of the old image, which the new image does "
                                                  "not hold",
                                                  old));
            }
            return system_area::newOffset(it->second, bootPlan, layout);
        });
    systemAreaBytes = std::move(written.area);
    if (!written.tail.empty()) {
        pendingPatches.push_back({written.tailOffset, std::move(written.tail)});
    }
}

int ISOWriter::writeSystemArea(ImageSink& out) {
    return resultOf(writeOrReport([&] {
        if (!systemAreaBytes.empty()) {
            out.writeAt(0, systemAreaBytes.data(), systemAreaBytes.size());
            return;
        }
        const std::vector<uint8_t> zeros(kWriteBlockSize, 0);
        for (uint64_t block = 0; block < iso_limits::kSystemAreaBlocks; ++block) {
            out.writeAt(byteOffset(block, kWriteBlockSize), zeros.data(), zeros.size());
        }
    }));
}

int ISOWriter::writeDescriptor(const uint8_t* descriptor, uint32_t block, ImageSink& out) {
    return resultOf(writeOrReport([&] {
        out.writeAt(byteOffset(block, kWriteBlockSize), descriptor, iso_record::kDescriptorSize);
    }));
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
    return resultOf(writeOrReport([&] {
        const uint64_t offset = byteOffset(block, kWriteBlockSize);
        out.writeAt(offset, validationEntry, iso_record::kCatalogEntrySize);
        out.writeAt(offset + iso_record::kCatalogEntrySize, initialEntry,
                    iso_record::kCatalogEntrySize);
    }));
}

int ISOWriter::writeBootImage(const std::string& bootImagePath, uint16_t sectorCount,
                              uint32_t block, ImageSink& out) {
    return resultOf(writeOrReport([&] {
        // Exactly Sector Count virtual sectors are copied: a boot image file shorter than
        // its whole blocks makes the copy fail.
        out.copyFrom(bootImagePath, 0, byteOffset(block, kWriteBlockSize),
                     uint64_t(sectorCount) * virtualSectorSize, [](uint32_t) {});
    }));
}
