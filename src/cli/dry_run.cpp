#include "cli/dry_run.h"

#include <boost/filesystem/operations.hpp>
#include <cinttypes>
#include <exception>

#include "base/console_log.h"
#include "cli/image_listing.h"
#include "iso/iso_modifier.h"
#include "iso/iso_reader.h"
#include "iso/iso_writer_layout.h"
#include "iso/limits.h"

namespace {

// The size in bytes of the image the pack would write for the tree `rootList`, laid out
// as the writer lays it out. The layout only fills the entries' placements, which the
// pack computes afresh.
uint64_t plannedImageSize(DirectoryNode* rootList, const std::string& bootImagePath) {
    const uint32_t blockSize = iso_limits::kDefaultBlockSize;
    iso_layout::checkTreeLimits(rootList);
    const uint32_t pathTableSize = iso_layout::numberDirectories(rootList);
    uint64_t directoryBlocks = 0;
    uint64_t fileBlocks = 0;
    iso_layout::layoutDirectory(iso_layout::kRootParentSize, 0, rootList, directoryBlocks,
                                fileBlocks, blockSize);
    const bool hasBootImage = !bootImagePath.empty();
    const uint64_t bootImageBytes = hasBootImage ? boost::filesystem::file_size(bootImagePath) : 0;
    const iso_layout::ImageLayout layout =
        iso_layout::planImage(pathTableSize, directoryBlocks, fileBlocks, hasBootImage,
                              bootImageBytes, blockSize, iso_limits::kVirtualSectorSize);
    return uint64_t{layout.volumeSpaceSize} * blockSize;
}

}  // namespace

int printDryRunReport(ISOModifier& modifier, ISOReader& original,
                      const std::string& bootImagePath) {
    DirectoryNode* rootList = modifier.findDirectoryRecord("");
    if (rootList == nullptr) {
        logWarning("dry run failed: the changed tree of the image is not loaded");
        return 1;
    }
    uint64_t imageSize = 0;
    try {
        imageSize = plannedImageSize(rootList, bootImagePath);
    } catch (const std::exception& e) {
        logWarning("dry run: the pack would fail: %s", e.what());
        return 1;
    }
    forEachImageEntry(
        rootList, "", [&original](const DirectoryNode& node, const std::string& path) {
            if (node.inImage) {
                return;
            }
            const bool replaced = original.FileExists(path) || original.DirectoryExists(path);
            // A directory's size is the Data Length the layout gave its records.
            const uint64_t size = node.isDirectory() ? node.placement.dataLength : node.size;
            logInfo("dry run: %s %s %" PRIu64 " %s", replaced ? "replace" : "add",
                    node.isDirectory() ? "dir" : "file", size, path.c_str());
        });
    logInfo("dry run: new image size %" PRIu64 " bytes", imageSize);
    logInfo("dry run: nothing was written");
    return 0;
}
