#include "iso/dropped_features.h"

#include <algorithm>

#include "base/console_log.h"
#include "iso/boot_plan.h"
#include "iso/directory_node.h"
#include "iso/entry_name.h"
#include "iso/image_source.h"
#include "iso/joliet.h"
#include "iso/limits.h"
#include "iso/records.h"
#include "iso/system_area.h"

namespace rec = iso_record;

namespace dropped_features {

namespace {

constexpr uint64_t kCdBlock = iso_limits::kDefaultBlockSize;
constexpr char kLead[] = "the new image will not keep ";

void volumeDescriptors(ImageSource& image, std::vector<std::string>& dropped,
                       uint32_t& terminator) {
    uint8_t block[rec::kDescriptorSize];
    terminator = 0;
    for (uint32_t n = iso_limits::kPrimaryDescriptorBlock + 1;
         n < iso_limits::kPrimaryDescriptorBlock + iso_limits::kMaxDescriptorBlocks; ++n) {
        if (!image.contains(uint64_t{n} * kCdBlock, sizeof block)) {
            return;
        }
        image.read(uint64_t{n} * kCdBlock, block, sizeof block);
        const rec::DescriptorHeader header = rec::decodeDescriptorHeader(block);
        if (!header.isStandard()) {
            return;
        }
        const std::string where = formatText(" (volume descriptor at block %u)", n);
        switch (header.type) {
            case rec::descriptor::kSupplementaryType:
                // The Joliet tree is written anew for the new image.
                if (!joliet::isJolietDescriptor(block)) {
                    dropped.push_back(std::string(kLead) +
                                      "the old image's supplementary volume descriptor" + where);
                }
                break;
            case rec::descriptor::kPartitionType:
                dropped.push_back(std::string(kLead) + "the old image's volume partition" + where);
                break;
            case rec::descriptor::kTerminatorType:
                terminator = n;
                return;
            default:
                break;  // the primary and the boot record are kept
        }
    }
}

void udfBridge(ImageSource& image, uint32_t terminator, std::vector<std::string>& dropped) {
    if (terminator == 0) {
        return;
    }
    uint8_t block[rec::kDescriptorSize];
    for (uint32_t n = terminator + 1; n < terminator + 1 + iso_limits::kMaxDescriptorBlocks; ++n) {
        if (!image.contains(uint64_t{n} * kCdBlock, sizeof block)) {
            return;
        }
        image.read(uint64_t{n} * kCdBlock, block, sizeof block);
        const rec::DescriptorHeader header = rec::decodeDescriptorHeader(block);
        if (header.hasIdentifier(rec::udf_recognition::kNsr02) ||
            header.hasIdentifier(rec::udf_recognition::kNsr03)) {
            dropped.push_back(
                formatText("%sthe UDF file system of the old image (UDF bridge, "
                           "descriptor at block %u)",
                           kLead, n));
            return;
        }
        if (!header.hasIdentifier(rec::udf_recognition::kBeginArea) &&
            !header.hasIdentifier(rec::udf_recognition::kTerminateArea) &&
            !header.hasIdentifier(rec::udf_recognition::kBoot) && !header.isStandard()) {
            return;
        }
    }
}

// Image paths of the files stored in several records whose records carry System Use
// fields: the new image writes such a file's records without them. Directories nest at
// most kMaxDirectoryDepth levels, so the recursion is shallow.
void multiExtentSystemUse(const DirectoryNode* list, const std::string& parent,
                          std::vector<std::string>& paths) {
    for (const DirectoryNode* node = list; node != nullptr; node = node->next.get()) {
        if (node->isDotEntry()) {
            continue;
        }
        const std::string path = parent + "\\" + node->name;
        if (node->isDirectory()) {
            multiExtentSystemUse(node->children.get(), path, paths);
        } else if (node->isMultiExtent() && node->inImage && !node->systemUse.empty()) {
            paths.push_back(path);
        }
    }
}

}  // namespace

std::vector<std::string> find(ImageSource& image, const DirectoryNode* rootList,
                              uint32_t blockSize) {
    std::vector<std::string> dropped;
    uint32_t terminator = 0;
    volumeDescriptors(image, dropped, terminator);
    udfBridge(image, terminator, dropped);

    boot_plan::Plan plan;
    bool bootable = false;
    try {
        plan = boot_plan::makePlan(image, rootList, blockSize);
        bootable = true;
    } catch (const std::exception&) {
        // An image without a readable catalog has no boot entries to lose.
    }
    // The System Area is carried over when what it points at is carried with it.
    for (const std::string& text :
         system_area::makePlan(image, rootList, blockSize, bootable ? &plan : nullptr).notKept) {
        dropped.push_back(kLead + text);
    }
    for (const std::string& text : plan.notCarried) {
        dropped.push_back(kLead + text);
    }
    std::vector<std::string> multiExtent;
    multiExtentSystemUse(rootList, "", multiExtent);
    for (const std::string& path : multiExtent) {
        dropped.push_back(std::string(kLead) + "the System Use fields (Rock Ridge name, mode, " +
                          "times) of " + path + ", a file stored in several records");
    }
    return dropped;
}

}  // namespace dropped_features
