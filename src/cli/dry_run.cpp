#include "cli/dry_run.h"

#include <cinttypes>
#include <exception>

#include "base/console_log.h"
#include "cli/image_listing.h"
#include "iso/iso_modifier.h"
#include "iso/iso_reader.h"

int printDryRunReport(ISOModifier& modifier, ISOReader& original,
                      const std::string& bootImagePath) {
    DirectoryNode* rootList = modifier.findDirectoryRecord("");
    if (rootList == nullptr) {
        logWarning("dry run failed: the changed tree of the image is not loaded");
        return 1;
    }
    uint64_t imageSize = 0;
    try {
        imageSize = modifier.PlannedImageBytes(bootImagePath);
    } catch (const std::exception& e) {
        logWarning("dry run: the pack would fail: %s", e.what());
        return 1;
    }
    forEachImageEntry(
        rootList, "", [&original](const DirectoryNode& node, const std::string& path) {
            if (node.inImage) {
                return;
            }
            const bool replaced = original.NameTaken(path);
            // A directory's size is the Data Length the layout gave its records.
            const uint64_t size = node.isDirectory() ? node.placement.dataLength : node.size;
            logInfo("dry run: %s %s %" PRIu64 " %s", replaced ? "replace" : "add",
                    node.isDirectory() ? "dir" : "file", size, path.c_str());
        });
    logInfo("dry run: new image size %" PRIu64 " bytes", imageSize);
    logInfo("dry run: nothing was written");
    return 0;
}
