// ISOReader: opening an image, validating its primary volume descriptor and reading its
// whole directory hierarchy into memory.
#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <stdexcept>

#include "base/console_log.h"
#include "iso/dropped_features.h"
#include "iso/entry_name.h"
#include "iso/image_console.h"
#include "iso/image_path.h"
#include "iso/iso_reader.h"
#include "iso/joliet.h"
#include "iso/records.h"
#include "iso/system_use.h"

namespace {

// "\" for the root, "\I386\SYSTEM32" below it: how failure texts name a directory.
std::string shownPath(const std::string& path) {
    return "\\" + printableName(path);
}

std::string directoryPlace(const std::string& path, uint32_t extent) {
    return formatText("directory %s at block %u", shownPath(path).c_str(), extent);
}

// Holds the image and the ancestor extents for the time one load runs.
class LoadScope {
  public:
    LoadScope(ImageSource*& slot, ImageSource* source) : slot_(slot) { slot_ = source; }
    ~LoadScope() { slot_ = nullptr; }
    LoadScope(const LoadScope&) = delete;
    LoadScope& operator=(const LoadScope&) = delete;

  private:
    ImageSource*& slot_;
};

class AncestorScope {
  public:
    AncestorScope(std::vector<uint32_t>& extents, uint32_t extent) : extents_(extents) {
        extents_.push_back(extent);
    }
    ~AncestorScope() { extents_.pop_back(); }
    AncestorScope(const AncestorScope&) = delete;
    AncestorScope& operator=(const AncestorScope&) = delete;

  private:
    std::vector<uint32_t>& extents_;
};

}  // namespace

ISOReader::ISOReader(const std::string& imageFile) : ISOReader(imageFile, openImageFile) {}

ISOReader::ISOReader(const std::string& imageFile, ImageSourceOpener opener)
    : imagePath(imageFile), openSource(std::move(opener)) {}

ISOReader::~ISOReader() = default;

std::vector<std::string> ISOReader::DroppedFeatures() {
    if (loadImage() != 0) {
        return {};
    }
    try {
        std::unique_ptr<ImageSource> source = openImage();
        std::vector<std::string> dropped =
            dropped_features::find(*source, root.get(), logicalBlockSize);
        if (!jolietOnly.empty()) {
            dropped.push_back(jolietOnlyText());
        }
        return dropped;
    } catch (const std::exception& e) {
        return {std::string("the new image may not keep everything of the old one: ") + e.what()};
    }
}

std::string ISOReader::jolietOnlyText() const {
    // Named up to this many; the rest are counted.
    constexpr size_t kMaxNamed = 8;
    std::string text = formatText(
        "the new image will not keep %zu entr%s of the old image's "
        "Joliet tree that its ISO 9660 tree does not hold: ",
        jolietOnly.size(), jolietOnly.size() == 1 ? "y" : "ies");
    for (size_t i = 0; i < jolietOnly.size() && i < kMaxNamed; ++i) {
        text += (i == 0 ? "" : ", ") + printableName(jolietOnly[i]);
    }
    if (jolietOnly.size() > kMaxNamed) {
        text += formatText(" and %zu more", jolietOnly.size() - kMaxNamed);
    }
    return text;
}

std::unique_ptr<ImageSource> ISOReader::openImage() const {
    return openSource(imagePath);
}

int ISOReader::loadImage() {
    if (loaded) {
        return 0;
    }
    printImageLine("load ISO image ...");
    try {
        std::unique_ptr<ImageSource> source = openImage();
        uint8_t bytes[iso_record::kDescriptorSize];
        source->read(iso_limits::kPrimaryDescriptorOffset, bytes, sizeof bytes);
        iso_record::PrimaryDescriptor descriptor;
        try {
            descriptor =
                iso_record::decodePrimaryDescriptor(bytes, iso_limits::kPrimaryDescriptorOffset);
        } catch (const iso_record::RecordError& e) {
            // A missing standard identifier is not an image at all; anything else is said.
            if (e.kind() != iso_record::RecordError::Kind::notThisRecord) {
                printImageLine(e.what());
            }
            printImageLine("load ISO image failed - invalid ISO image");
            return 1;
        }
        logicalBlockSize = descriptor.logicalBlockSize;
        const uint32_t rootExtent = descriptor.rootExtent;

        NodeList tree;
        {
            LoadScope scope(loadingSource, source.get());
            loadingExtents.clear();
            directoryBytesLoaded = 0;
            continuationBytesLoaded = 0;
            systemUseIsSusp = false;
            tree = loadDirectory(rootExtent, "");
        }
        if (!tree) {
            printImageLine("load ISO image failed - invalid image internal structure");
            return 1;
        }
        // The Joliet names are read once the ISO 9660 tree is there; a Joliet tree that
        // is hostile fails the load like a hostile directory.
        std::vector<uint8_t> joliet = joliet::findDescriptor(*source);
        jolietOnly.clear();
        if (!joliet.empty()) {
            try {
                jolietOnly = joliet::readNames(*source, joliet, tree.get(), logicalBlockSize);
            } catch (const std::exception& e) {
                printImageLine(e.what());
                printImageLine("load ISO image failed - invalid image internal structure");
                return 1;
            }
        }
        jolietDescriptor = std::move(joliet);
        root = std::move(tree);
        loaded = true;
        printImageLine("load ISO image succeeded");
        return 0;
    } catch (const std::exception& e) {
        printImageLine(std::string("load ISO image failed - IO exception: ") + e.what());
        return 1;
    }
}

NodeList ISOReader::loadDirectory(uint32_t extent, const std::string& path) {
    try {
        // Called on its own (not from loadImage), the directory opens the image itself.
        std::unique_ptr<ImageSource> ownSource;
        std::unique_ptr<LoadScope> ownScope;
        if (loadingSource == nullptr) {
            ownSource = openImage();
            ownScope = std::make_unique<LoadScope>(loadingSource, ownSource.get());
            loadingExtents.clear();
            directoryBytesLoaded = 0;
        }
        if (iso_limits::exceedsDirectoryDepth(loadingExtents.size())) {
            throw std::runtime_error(directoryPlace(path, extent) +
                                     formatText(" lies more than %u levels below the root",
                                                iso_limits::kMaxDirectoryDepth));
        }
        if (std::find(loadingExtents.begin(), loadingExtents.end(), extent) !=
            loadingExtents.end()) {
            throw std::runtime_error(directoryPlace(path, extent) +
                                     " is one of its own parent directories (directory loop)");
        }
        AncestorScope ancestor(loadingExtents, extent);
        const std::vector<uint8_t> data = readDirectoryData(*loadingSource, extent, path);
        return decodeDirectory(data, extent, path);
    } catch (const std::exception& e) {
        printImageLine(e.what());
        return nullptr;
    }
}

std::vector<uint8_t> ISOReader::readDirectoryData(ImageSource& source, uint32_t extent,
                                                  const std::string& path) {
    const uint64_t imageSize = source.size();
    const uint64_t start = static_cast<uint64_t>(extent) * logicalBlockSize;
    if (start >= imageSize || imageSize - start < iso_limits::kMinDirectoryRecordLength) {
        throw std::runtime_error(directoryPlace(path, extent) +
                                 formatText(" (byte %" PRIu64
                                            ") lies past the end of the image (%" PRIu64 " bytes)",
                                            start, imageSize));
    }
    const size_t firstRead =
        static_cast<size_t>(std::min<uint64_t>(logicalBlockSize, imageSize - start));
    std::vector<uint8_t> data(firstRead);
    source.read(start, data.data(), firstRead);

    // The directory's own "." record gives its size.
    const uint32_t dataLength = iso_record::directoryDataLength(data.data());
    if (dataLength > imageSize - start) {
        throw std::runtime_error(directoryPlace(path, extent) +
                                 formatText(": data length %u from byte %" PRIu64
                                            " runs past the end of the image (%" PRIu64 " bytes)",
                                            dataLength, start, imageSize));
    }
    // Directories of a sound image occupy separate extents, so together they never
    // exceed the image; more means directories repeat or overlap, which could otherwise
    // multiply the tree without bound.
    directoryBytesLoaded += std::max<uint64_t>(firstRead, dataLength);
    if (directoryBytesLoaded > imageSize) {
        throw std::runtime_error(directoryPlace(path, extent) +
                                 formatText(": the directories read so far (%" PRIu64
                                            " bytes) exceed the image (%" PRIu64
                                            " bytes); directories repeat or overlap",
                                            directoryBytesLoaded, imageSize));
    }
    if (dataLength > firstRead) {
        data.resize(dataLength);
        source.read(start, data.data(), dataLength);
    } else {
        data.resize(dataLength);
    }
    return data;
}

NodeList ISOReader::decodeDirectory(const std::vector<uint8_t>& data, uint32_t extent,
                                    const std::string& path) {
    NodeListBuilder entries;
    // The file whose last record had the Multi-Extent flag: its next record follows.
    DirectoryNode* continued = nullptr;

    size_t offset = 0;
    while (offset < data.size()) {
        iso_record::DirectoryRecord record;
        try {
            record = iso_record::decodeDirectoryRecord(data.data(), data.size(), offset);
        } catch (const std::exception& e) {
            throw std::runtime_error(directoryPlace(path, extent) + ": " + e.what());
        }
        if (record.length == 0) {
            // The rest of this block is empty; the directory goes on in the next one.
            offset += logicalBlockSize - offset % logicalBlockSize;
            continue;
        }
        const size_t recordOffset = offset;
        offset += record.length;
        // The root's "." record says whether the System Use fields hold SUSP entries.
        if (path.empty() && recordOffset == 0 && record.special) {
            const size_t used = iso_record::directoryRecordLength(record.identifierLength);
            systemUseIsSusp =
                record.length > used &&
                system_use::startsWithSusp(data.data() + recordOffset + used, record.length - used);
        }
        // "directory \DIR at block N: the record at byte M", for failure texts.
        auto recordPlace = [&]() {
            return formatText("%s: the record at byte %zu", directoryPlace(path, extent).c_str(),
                              recordOffset);
        };
        auto systemUseOf = [&]() {
            const size_t used = iso_record::directoryRecordLength(record.identifierLength);
            if (record.length <= used) {
                return std::vector<uint8_t>();
            }
            return system_use::gather(*loadingSource, data.data() + recordOffset + used,
                                      record.length - used, systemUseIsSusp, logicalBlockSize,
                                      continuationBytesLoaded, recordPlace());
        };
        const std::string& name = record.name;
        if (record.identifierLength == 0) {
            continue;
        }
        if (continued != nullptr) {
            if (record.special || record.isDirectory() || name != continued->name) {
                throw std::runtime_error(recordPlace() + " does not continue the file \"" +
                                         printableName(continued->name) +
                                         "\", whose previous record has the Multi-Extent flag");
            }
            continued->sections.push_back(FileSection{record.extent, record.dataLength, {}});
            continued->size += record.dataLength;
            totalBytes += record.dataLength;
            if (!record.isMultiExtent()) {
                continued = nullptr;
            }
            continue;
        }

        // Only the identifiers 0x00 and 0x01 name the two special records; "." and ".."
        // spelt out as ordinary identifiers are refused below like any invalid name.
        if (record.special) {
            entries.append(makeDotNode(name, path, record.extent, true))->systemUse = systemUseOf();
            continue;
        }
        // Names are valid without their decorations: DEFAULT.;1 is the entry DEFAULT.
        if (!image_path::isValidEntryName(entry_name::undecorated(name))) {
            throw std::runtime_error(recordPlace() + " names an entry \"" + printableName(name) +
                                     "\", which is not a valid name");
        }
        NodeList node(new DirectoryNode);
        node->path = path;
        node->name = name;
        node->identifier = name;
        node->type = record.isDirectory() ? kNodeDirectory : kNodeFile;
        node->extent = record.extent;
        node->size = record.dataLength;
        node->inImage = true;
        node->hidden = record.isHidden();
        node->systemUse = systemUseOf();
        DirectoryNode* added = entries.append(std::move(node));
        if (added->isDirectory()) {
            added->children = loadDirectory(record.extent, image_path::join(path, name));
            if (!added->children) {
                throw std::runtime_error("load directory information from ISO image failed");
            }
        } else {
            totalBytes += record.dataLength;
            if (record.isMultiExtent()) {
                added->sections.push_back(FileSection{record.extent, record.dataLength, {}});
                continued = added;
            }
        }
    }
    if (continued != nullptr) {
        throw std::runtime_error(directoryPlace(path, extent) + ": the last record of the file \"" +
                                 printableName(continued->name) +
                                 "\" has the Multi-Extent flag, but no record continues it");
    }
    return entries.take();
}
