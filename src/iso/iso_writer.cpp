// The pack: load the tree, lay it out, then emit every structure of the image.
#include "iso/iso_writer.h"
#include "iso/image_console.h"

#include <boost/filesystem.hpp>
#include <cstdio>
#include <string>

#include "iso/image_output.h"
#include "iso/records.h"

namespace {

const char kLoadFailed[] = "  load source directory & boot image file failed - ";

}  // namespace

ISOWriter::ISOWriter(const std::string& sourceDirectory, const std::string& sourceImagePath)
    : sourceDirectory(sourceDirectory), sourceImagePath(sourceImagePath) {}

ISOWriter::~ISOWriter() = default;

uint32_t ISOWriter::numberDirectories(DirectoryNode* rootList) {
    return iso_layout::numberDirectories(rootList);
}

uint32_t ISOWriter::layoutDirectory(uint32_t parentSize, uint32_t parentExtent, DirectoryNode* list,
                                    uint64_t& directoryBlocks, uint64_t& fileBlocks) {
    return iso_layout::layoutDirectory(parentSize, parentExtent, list, directoryBlocks, fileBlocks,
                                       kWriteBlockSize);
}

int ISOWriter::PackImage(const std::string& outputPath, const std::string& bootImagePath) {
    printImageLine("pack the ISO image ...");
    ImageOutput out;
    writtenImage_ = FileIdentity();
    try {
        out.create(outputPath);
        writtenImage_ = out.identity();
    } catch (const std::exception& e) {
        printImageLine(std::string("pack ISO image failed, IO exception: ") + e.what());
    }
    return packInto(out, bootImagePath);
}

int ISOWriter::PackImageTo(ImageSink& out, const std::string& bootImagePath) {
    printImageLine("pack the ISO image ...");
    writtenImage_ = FileIdentity();
    return packInto(out, bootImagePath);
}

int ISOWriter::packInto(ImageSink& out, const std::string& bootImagePath) {
    printImageLine("  load source directory & boot image file ...");
    root = loadSourceDirectory(sourceDirectory);
    if (root == nullptr) {
        printImageLine(std::string(kLoadFailed) + "can not load souce directory");
        return 1;
    }

    iso_layout::ImageLayout layout;
    try {
        // Everything the format cannot hold is refused here, before any byte is written.
        iso_layout::checkTreeLimits(root.get());
        const uint32_t pathTableSize = numberDirectories(root.get());
        uint64_t directoryBlocks = 0;
        uint64_t fileBlocks = 0;
        layoutDirectory(0, 0, root.get(), directoryBlocks, fileBlocks);
        // The root is its own parent.
        DirectoryNode* parentEntry = root->next.get();
        if (parentEntry != nullptr && parentEntry->name == "..") {
            parentEntry->extent = root->extent;
            parentEntry->size = root->size;
        }
        const bool hasBootImage = !bootImagePath.empty();
        uint64_t bootImageBytes = 0;
        if (hasBootImage) {
            try {
                bootImageBytes = boost::filesystem::file_size(bootImagePath);
            } catch (const std::exception& e) {
                // The pack goes on with no boot image blocks; copying the boot image fails.
                printImageLine(std::string(kLoadFailed) + "IO exception: " + e.what());
            }
        }
        layout = iso_layout::planImage(pathTableSize, directoryBlocks, fileBlocks, hasBootImage,
                                       bootImageBytes, kWriteBlockSize, virtualSectorSize);
    } catch (const std::exception& e) {
        printImageLine(std::string(kLoadFailed) + e.what());
        return 1;
    }
    printImageLine("  load source directory & boot image file done");

    int result = 1;
    try {
        result = emitImage(layout, bootImagePath, out);
    } catch (const std::exception& e) {
        printImageLine(std::string("pack ISO image failed, exception: ") + e.what());
        return 1;
    }
    if (result != 0) {
        return 1;
    }
    try {
        out.close();
    } catch (const std::exception& e) {
        printImageLine(std::string("pack ISO image failed, IO exception: ") + e.what());
        return 1;
    }
    printImageLine("pack ISO image succeeded");
    return 0;
}

int ISOWriter::finishImage(const iso_layout::ImageLayout& layout, ImageSink& out) {
    // The copies still waiting and the directory records gathered in memory go out now;
    // the file then has to be as long as the Volume Space Size says, whatever its last
    // blocks hold.
    try {
        out.flushCopies();
        out.flushStaged();
        out.extendTo(uint64_t(layout.volumeSpaceSize) * kWriteBlockSize);
        return 0;
    } catch (const std::exception& e) {
        printImageLine(e.what());
        return 1;
    }
}

int ISOWriter::emitImage(const iso_layout::ImageLayout& layout, const std::string& bootImagePath,
                         ImageSink& out) {
    printImageLine("  write system reserved sector ...");
    if (writeSystemArea(out) != 0) {
        printImageLine("  write system reserved sector failed - IO error");
        return 1;
    }
    printImageLine("  write system reserved sector done");

    printImageLine("  write primary volume descriptor ...");
    uint8_t rootRecord[iso_record::dir_record::kBufferSize];
    makeDirectoryRecord(root.get(), 1, layout.directoryStart, layout.fileStart, rootRecord);
    uint8_t descriptor[iso_record::kDescriptorSize];
    CreateNewPVD(layout.volumeSpaceSize, layout.pathTableSize, layout.typeLPathTableBlock,
                 layout.typeMPathTableBlock, rootRecord, descriptor);
    if (writePrimaryVolumeDescriptor(descriptor, layout.primaryDescriptorBlock, out) != 0) {
        printImageLine("  write primary volume descriptor failed - IO error");
        return 1;
    }
    printImageLine("  write primary volume descriptor done");

    if (layout.hasBootImage) {
        printImageLine("  write boot record ...");
        makeBootRecord(layout.bootCatalogBlock, descriptor);
        if (writeBootRecord(descriptor, layout.bootRecordBlock, out) != 0) {
            printImageLine("  write boot record failed - IO error");
            return 1;
        }
        printImageLine("  write boot record done");
    }

    printImageLine("  write volume descriptor set terminator ...");
    makeSetTerminator(descriptor);
    if (writeSetTerminator(descriptor, layout.terminatorBlock, out) != 0) {
        printImageLine("  write volume descriptor set terminator failed - IO error");
        return 1;
    }
    printImageLine("  write volume descriptor set terminator done");

    if (layout.hasBootImage) {
        printImageLine("  write boot image ...");
        uint8_t validationEntry[iso_record::kCatalogEntrySize];
        uint8_t initialEntry[iso_record::kCatalogEntrySize];
        makeValidationEntry(validationEntry);
        makeInitialEntry(0, layout.bootSectorCount, layout.bootImageStart, initialEntry);
        if (writeBootCatalog(validationEntry, initialEntry, layout.bootCatalogBlock, out) != 0 ||
            writeBootImage(bootImagePath, layout.bootSectorCount, layout.bootImageStart, out) !=
                0) {
            printImageLine("  write boot image failed - IO error");
            return 1;
        }
        printImageLine("  write boot image done");
    }

    printImageLine("  write path tables ...");
    if (writeTypeLPathTable(root.get(), layout.typeLPathTableBlock, layout.directoryStart, out) ==
            0 ||
        writeTypeMPathTable(root.get(), layout.typeMPathTableBlock, layout.directoryStart, out) ==
            0) {
        printImageLine("  write path table failed - IO error");
        return 1;
    }
    printImageLine("  write path tables done");

    printImageLine("  write directory record and files ...");
    const uint64_t directoryArea = uint64_t(layout.directoryBlocks) * kWriteBlockSize;
    if (directoryArea <= iso_limits::kMaxStagedDirectoryArea) {
        out.stageRegion(uint64_t(layout.directoryStart) * kWriteBlockSize,
                        static_cast<size_t>(directoryArea));
    }
    if (writeDirectoryTree(root.get(), 1, layout.directoryStart, layout.fileStart, out) != 0 ||
        finishImage(layout, out) != 0) {
        printImageLine("  write directory record and file failed - IO error");
        return 1;
    }
    printImageLine("  write directory record and files done");
    return 0;
}
