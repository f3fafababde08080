// The pack: load the tree, lay it out, then emit every structure of the image.
#include "iso/iso_writer.h"

#include "iso/image_console.h"

#include <boost/filesystem.hpp>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "base/console_log.h"
#include "iso/image_output.h"
#include "iso/joliet_tree.h"
#include "iso/records.h"
#include "iso/system_use.h"

namespace {

const char kLoadFailed[] = "  load source directory & boot image file failed - ";

}  // namespace

ISOWriter::ISOWriter(const std::string& directory, const std::string& imageFile)
    : sourceDirectory(directory), sourceImagePath(imageFile) {}

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

iso_layout::ImageLayout ISOWriter::planLayout(const std::string& bootImagePath,
                                              ReportBootImageFailure report) {
    // Everything the format cannot hold is refused here, before any byte is written.
    iso_layout::checkTreeLimits(root.get());
    const bool hasBootImage = !bootImagePath.empty();
    bootPlan = boot_plan::Plan();
    if (hasBootImage) {
        planBoot();
    }
    systemAreaPlan = system_area::Plan();
    planSystemArea(hasBootImage);
    const uint32_t pathTableSize = numberDirectories(root.get());
    uint64_t directoryBlocks = 0;
    uint64_t fileBlocks = 0;
    layoutDirectory(iso_layout::kRootParentSize, 0, root.get(), directoryBlocks, fileBlocks);
    uint64_t bootImageBytes = 0;
    if (hasBootImage) {
        try {
            bootImageBytes = boost::filesystem::file_size(bootImagePath);
        } catch (const std::exception& e) {
            if (report == ReportBootImageFailure::no) {
                throw;
            }
            // The pack goes on with no boot image blocks; copying the boot image fails.
            printImageLine(std::string(kLoadFailed) + "IO exception: " + e.what());
        }
    }
    const uint32_t continuationBlocks = placeContinuationAreas();
    // The Joliet tree follows everything else, so that without one nothing moves; the
    // System Use continuation areas follow it, and a carried GPT's backup ends the image.
    jolietTree.reset();
    if (!jolietDescriptor.empty()) {
        jolietTree = std::make_unique<joliet::Tree>(root.get());
    }
    iso_layout::ImageLayout layout = iso_layout::planImage(
        pathTableSize, directoryBlocks, fileBlocks, hasBootImage, bootImageBytes, kWriteBlockSize,
        virtualSectorSize, bootPlan.carriedBytes, bootPlan.carryCatalog, jolietTree != nullptr);
    if (jolietTree) {
        iso_layout::placeJoliet(layout, jolietTree->pathTableSize(), jolietTree->directoryBlocks());
    }
    if (uint64_t{layout.volumeSpaceSize} + continuationBlocks > iso_limits::kMaxBlocks) {
        throw iso_layout::LimitError(
            formatText("the image with its System Use continuation areas "
                       "would have more than %" PRIu64 " blocks",
                       iso_limits::kMaxBlocks));
    }
    layout.continuationStart = layout.volumeSpaceSize;
    layout.continuationBlocks = continuationBlocks;
    layout.volumeSpaceSize += continuationBlocks;
    // A carried GPT keeps its backup in the image's last blocks.
    if (uint64_t{layout.volumeSpaceSize} + systemAreaPlan.tailBlocks > iso_limits::kMaxBlocks) {
        throw iso_layout::LimitError(
            formatText("the image with its backup GPT would have more than %" PRIu64 " blocks",
                       iso_limits::kMaxBlocks));
    }
    layout.volumeSpaceSize += systemAreaPlan.tailBlocks;
    return layout;
}

uint32_t ISOWriter::placeContinuationAreas() {
    uint64_t blocks = 0;
    // Directories nest at most kMaxDirectoryDepth levels: the walk is bounded.
    std::vector<DirectoryNode*> lists{root.get()};
    while (!lists.empty()) {
        DirectoryNode* list = lists.back();
        lists.pop_back();
        for (DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
            if (node->isDirectory() && !node->isDotEntry()) {
                lists.push_back(node->children.get());
            }
            if (node->systemUse.empty() || node->isMultiExtent()) {
                continue;
            }
            const size_t base = node->isDotEntry()
                                    ? iso_record::directoryRecordLength(1)
                                    : iso_record::directoryRecordLength(node->identifier.size());
            const size_t areas =
                system_use::split(node->systemUse, base, kWriteBlockSize).areas.size();
            node->placement.continuationBlock = static_cast<uint32_t>(blocks);
            blocks += areas;
        }
    }
    if (blocks > iso_limits::kMaxBlocks) {
        throw iso_layout::LimitError(
            formatText("the System Use continuation areas take more than %" PRIu64 " blocks",
                       iso_limits::kMaxBlocks));
    }
    return static_cast<uint32_t>(blocks);
}

uint64_t ISOWriter::PlannedImageBytes(const std::string& bootImagePath) {
    root = loadSourceDirectory(sourceDirectory);
    if (root == nullptr) {
        throw std::runtime_error("can not load souce directory");
    }
    const iso_layout::ImageLayout layout = planLayout(bootImagePath, ReportBootImageFailure::no);
    return uint64_t{layout.volumeSpaceSize} * kWriteBlockSize;
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
        layout = planLayout(bootImagePath, ReportBootImageFailure::yes);
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
